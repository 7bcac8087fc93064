// A service program for tests: runs as the service named by its first
// argument, reports start pending, running (stoppable), and on the stop control
// stop pending and stopped. Exits 3 when the manager did not start it.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/error_codes.h"
#include "platform/services.h"
#include "platform/sync.h"

namespace {

std::string g_strName;
kx::SERVICE_STATUS_HANDLE g_hStatus = nullptr;
std::atomic<bool> g_bStop(false);

void Report(DWORD dwState, DWORD dwControls) {
  kx::SERVICE_STATUS status;
  std::memset(&status, 0, sizeof(status));
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = dwState;
  status.dwControlsAccepted = dwControls;
  kx::SetServiceStatus(g_hStatus, &status);
}

void Handler(DWORD dwControl) {
  if (dwControl == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING, 0);
    g_bStop.store(true);
  }
}

void ServiceMain(DWORD, char**) {
  if (kx::RegisterServiceHandler(g_strName.c_str(), Handler, &g_hStatus) != ERROR_SUCCESS) return;
  Report(SERVICE_START_PENDING, 0);
  kx::Sleep(300);  // long enough for a test to see the pending state
  Report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
  while (!g_bStop.load()) kx::Sleep(20);
  kx::Sleep(200);
  Report(SERVICE_STOPPED, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  g_strName = argv[1];
  kx::SERVICE_DISPATCH_ENTRY table[] = {{g_strName.c_str(), ServiceMain}, {nullptr, nullptr}};
  DWORD dwError = kx::RunServiceDispatcher(table);
  if (dwError != ERROR_SUCCESS) {
    std::printf("dispatcher: %lu\n", static_cast<unsigned long>(dwError));
    return 3;
  }
  return 0;
}
