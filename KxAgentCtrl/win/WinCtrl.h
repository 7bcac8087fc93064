// The Windows face of the configuration tool: the modal property sheet with
// its five pages, drawn with Win32 common controls over the shared page
// logic. This folder is the Windows front-end, so it includes <windows.h>.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class CKxAgentCtrlPluginReader;
class CKxCtrlConfigFile;
struct CKxCtrlMessage;

// What the sheet asks of the system besides its own windows; a test replaces
// the dialogs with answers of its own. Texts are code page 932.
struct CKxWinCtrlHooks {
  // The file to install (filter as GetOpenFileNameA takes it); "" for cancel.
  std::function<std::string(HWND hOwner, const std::string& strFilter)> fnChooseFile;
  // A folder (browser title, start folder); "" for cancel.
  std::function<std::string(HWND hOwner, const std::string& strTitle, const std::string& strStart)> fnChooseFolder;
  // Opens an address or a folder in the shell; ShellExecuteA's result.
  std::function<INT_PTR(HWND hOwner, const std::string& strTarget)> fnOpen;
};

// The hooks that use the system's dialogs and ShellExecuteA.
CKxWinCtrlHooks KxWinDefaultHooks();

// A message box owned by hOwner (may be null) with the message's own icon and
// uButtons; MessageBoxA's answer.
int KxWinShowMessage(HWND hOwner, const CKxCtrlMessage& message, UINT uButtons);

// Shows the sheet modally over a loaded configuration; saves at OK as the
// pages decide. IDOK or IDCANCEL (or -1 when the sheet could not be shown).
INT_PTR KxWinShowSheet(CKxCtrlConfigFile* pFile, CKxAgentCtrlPluginReader* pReader, const CKxWinCtrlHooks& hooks);

// The tool's run for the installation at strBaseDir (ending in a separator):
// the registration switches, the one-instance check, loading the
// configuration (its problem shown in a message box), the script hosts and
// the sheet. Returns the exit status.
int KxWinCtrlMain(const std::vector<std::string>& arguments, const std::string& strBaseDir,
                  const CKxWinCtrlHooks& hooks);
