// The tool's start-up apart from its window: its registration switches.
#pragma once

#include <string>
#include <vector>

// What the command line asks for.
enum KxCtrlCommand {
  KX_CTRL_RUN,         // show the sheet
  KX_CTRL_REGISTER,    // "Regserver"
  KX_CTRL_UNREGISTER,  // "Unregserver" or "Unregister"
};

// The switch among the arguments (after the program name), with '-' or '/'
// and in any letter case; KX_CTRL_RUN when there is none.
KxCtrlCommand KxParseCtrlCommandLine(const std::vector<std::string>& arguments);

// Records the tool's AppID and the entry that names it; FALSE when a record
// could not be written.
bool KxRegisterCtrl();
// Removes both records (the AppID key above them stays).
bool KxUnregisterCtrl();
