// The service side: a service program started by the manager connects through
// RunServiceDispatcher, receives the stop control (the manager's SIGTERM,
// turned into a handler call on the dispatcher thread) and writes the states it
// reports into its status file, where the manager side reads them.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "emulation/services_store.h"
#include "platform/error_codes.h"
#include "platform/services.h"

namespace kx {
namespace emulation {

namespace {

struct CEmulatedServiceStatus : CServiceStatusData {
  std::string strKey;
};

std::mutex g_lock;  // guards the names and the handler below
std::string g_strConnectedKey;
SERVICE_HANDLER_PROC g_lpHandler = nullptr;
CEmulatedServiceStatus g_statusHandle;
int g_controlPipe[2] = {-1, -1};

void OnTerminate(int) {
  int nSaved = errno;
  char c = 's';
  ssize_t n = write(g_controlPipe[1], &c, 1);
  (void)n;  // a full pipe already holds a pending stop
  errno = nSaved;
}

// The service this process was started as, from the manager's launch.
std::string LaunchedServiceKey() {
  const char* lpName = std::getenv("KX_SERVICE_NAME");
  return (lpName != nullptr && IsValidName(lpName)) ? KeyOf(lpName) : std::string();
}

}  // namespace

DWORD CServiceEmulation::RunDispatcher(const SERVICE_DISPATCH_ENTRY* lpTable) {
  if (lpTable == nullptr || lpTable[0].lpServiceName == nullptr || lpTable[0].lpServiceProc == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  std::string strKey = LaunchedServiceKey();
  if (strKey.empty() || strKey != KeyOf(lpTable[0].lpServiceName)) {
    return ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
  }
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_strConnectedKey.empty()) return ERROR_SERVICE_ALREADY_RUNNING;
    if (pipe2(g_controlPipe, O_CLOEXEC | O_NONBLOCK) != 0) return ERROR_NOT_ENOUGH_MEMORY;
    g_strConnectedKey = strKey;
  }
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = OnTerminate;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);

  std::string strName = lpTable[0].lpServiceName;
  std::atomic<bool> bMainDone(false);
  SERVICE_MAIN_PROC lpMain = lpTable[0].lpServiceProc;
  std::thread mainThread([&]() {
    char* argv[] = {&strName[0], nullptr};
    lpMain(1, argv);
    bMainDone.store(true);
  });
  while (!bMainDone.load()) {
    struct pollfd wait = {g_controlPipe[0], POLLIN, 0};
    if (poll(&wait, 1, 100) > 0) {
      char buffer[16];
      while (read(g_controlPipe[0], buffer, sizeof(buffer)) > 0) {
      }
      SERVICE_HANDLER_PROC lpHandler;
      {
        std::lock_guard<std::mutex> guard(g_lock);
        lpHandler = g_lpHandler;
      }
      if (lpHandler != nullptr) lpHandler(SERVICE_CONTROL_STOP);
    }
  }
  mainThread.join();
  return ERROR_SUCCESS;
}

DWORD CServiceEmulation::RegisterHandler(const char* lpServiceName, SERVICE_HANDLER_PROC lpHandler,
                                         SERVICE_STATUS_HANDLE* phStatus) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (lpServiceName == nullptr || g_strConnectedKey.empty() || KeyOf(lpServiceName) != g_strConnectedKey) {
    return ERROR_SERVICE_DOES_NOT_EXIST;
  }
  g_lpHandler = lpHandler;
  g_statusHandle.strKey = g_strConnectedKey;
  *phStatus = &g_statusHandle;
  return ERROR_SUCCESS;
}

DWORD CServiceEmulation::SetStatus(SERVICE_STATUS_HANDLE hHandle, const SERVICE_STATUS* pStatus) {
  const CEmulatedServiceStatus* hStatus = static_cast<const CEmulatedServiceStatus*>(hHandle);
  if (hStatus->strKey.empty()) return ERROR_INVALID_HANDLE;
  if (pStatus->dwCurrentState < SERVICE_STOPPED || pStatus->dwCurrentState > SERVICE_PAUSED) {
    return ERROR_INVALID_DATA;
  }
  std::string strDirectory = ServiceDirectory();
  CServiceFiles files(strDirectory, hStatus->strKey);
  CLock lock(strDirectory);
  if (!lock.IsHeld()) return ERROR_SERVICE_DATABASE_LOCKED;
  CKeyValues status;
  ReadKeyValues(files.strStatus, &status);
  // The manager recorded the process it started; a report from any other
  // process (a second copy run by hand) must not take the service over.
  if (Number(status, "Pid", 0) != static_cast<DWORD>(getpid())) return ERROR_INVALID_HANDLE;
  status["Reported"] = "1";
  // The first report after a stop request is the handler's answer, which the
  // requester is waiting for (see ControlService).
  if (Number(status, "StopSent", 0) != 0 && status.find("StopAnswer") == status.end()) {
    status["StopAnswer"] = std::to_string(pStatus->dwCurrentState);
  }
  status["State"] = std::to_string(pStatus->dwCurrentState);
  status["ControlsAccepted"] = std::to_string(pStatus->dwControlsAccepted);
  status["ExitCode"] = std::to_string(pStatus->dwWin32ExitCode);
  status["SpecificExitCode"] = std::to_string(pStatus->dwServiceSpecificExitCode);
  status["CheckPoint"] = std::to_string(pStatus->dwCheckPoint);
  status["WaitHint"] = std::to_string(pStatus->dwWaitHint);
  return WriteKeyValueFile(files.strStatus, status);
}

}  // namespace emulation
}  // namespace kx
