#include "platform/windows_win.h"

#include <cstdio>

#include "platform/console_control_win.h"
#include "platform/process_control.h"

namespace kx {
namespace {

HANDLE g_hStopRequest = nullptr;

BOOL WINAPI OnConsoleControl(DWORD dwControl) {
  switch (dwControl) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      ::SetEvent(g_hStopRequest);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

// Windows ends no process for writing to a closed pipe: the write fails.
void IgnoreBrokenPipes() {}

void HoldStopRequests() {
  if (g_hStopRequest == nullptr) g_hStopRequest = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void ReinstallStopRequestHandler() {
  if (g_hStopRequest == nullptr) return;
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void WaitForStopRequest() {
  if (g_hStopRequest == nullptr) HoldStopRequests();
  ::WaitForSingleObject(g_hStopRequest, INFINITE);
}

void ExitProcessNow(int nExitCode) {
  std::fflush(nullptr);
  // Not ExitProcess: that would run the DLLs' detach code under the feet of
  // threads still at work.
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(nExitCode));
  for (;;) ::Sleep(INFINITE);
}

}  // namespace kx
