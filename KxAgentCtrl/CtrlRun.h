// The tool's run, the same for both front-ends: the registration switches, the
// one-instance lock, loading the configuration (naming a file it cannot read),
// the script hosts and the sheet. Each front-end supplies how it shows things.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "KxAgentCtrl/CtrlText.h"

class CKxAgentCtrlPluginReader;

// What a front-end does for the run.
struct CKxCtrlFrontEnd {
  // Shows a message box with the message's own icon and an OK button.
  std::function<void(const CKxCtrlMessage&)> fnShowMessage;
  // Runs fnWork under the wait cursor.
  std::function<void(const std::function<void()>&)> fnWithWaitCursor;
  // Shows the modal sheet over the loaded configuration.
  std::function<void(CKxCtrlConfigFile*, CKxAgentCtrlPluginReader*)> fnShowSheet;
};

// Runs the tool for the installation in strBaseDir (code page 932, ending in
// the path separator) with the command line `arguments` (code page 932, the
// program name first). Initialises and terminates the configuration library.
// 0; 1 when a registration switch failed or the one-instance lock was not had.
int KxRunCtrl(const std::vector<std::string>& arguments, const std::string& strBaseDir,
              const CKxCtrlFrontEnd& frontEnd);
