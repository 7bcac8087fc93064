// KxAgentCtrl.exe: the configuration tool of the agent on Windows.
#include "KxAgentCtrl/win/WinCtrl.h"

#include <objbase.h>
#include <stdlib.h>

#include "platform/program_path.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The script hosts and the folder browser need COM on this thread.
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::vector<std::string> arguments(__argv, __argv + __argc);
  int nResult = KxWinCtrlMain(arguments, kx::GetProgramDirectory(), KxWinDefaultHooks());
  ::CoUninitialize();
  return nResult;
}
