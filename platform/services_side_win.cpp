// The service side on Windows: the dispatcher, the control handler and the
// status reports go straight to the service control manager. A process runs
// one service, the table's first entry.
#include "platform/windows_win.h"

#include "platform/error_codes.h"
#include "platform/services.h"

struct kx::CServiceStatusData {
  ::SERVICE_STATUS_HANDLE hStatus;
};

namespace kx {
namespace {

SERVICE_MAIN_PROC g_pfnServiceMain = nullptr;
SERVICE_HANDLER_PROC g_pfnHandler = nullptr;
CServiceStatusData g_statusHandle = {nullptr};

// The manager calls these with the system's calling convention; they hand
// over to the product's functions.
void WINAPI ServiceMainEntry(DWORD dwArgc, LPSTR* lpArgv) {
  if (g_pfnServiceMain != nullptr) g_pfnServiceMain(dwArgc, lpArgv);
}

void WINAPI HandlerEntry(DWORD dwControl) {
  if (g_pfnHandler != nullptr) g_pfnHandler(dwControl);
}

}  // namespace

DWORD RunServiceDispatcher(const SERVICE_DISPATCH_ENTRY* lpTable) {
  if (lpTable == nullptr || lpTable[0].lpServiceName == nullptr || lpTable[0].lpServiceProc == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  g_pfnServiceMain = lpTable[0].lpServiceProc;
  std::string strName = lpTable[0].lpServiceName;
  SERVICE_TABLE_ENTRYA table[] = {{&strName[0], ServiceMainEntry}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherA(table) ? ERROR_SUCCESS : ::GetLastError();
}

DWORD RegisterServiceHandler(const char* lpServiceName, SERVICE_HANDLER_PROC lpHandler,
                             SERVICE_STATUS_HANDLE* phStatus) {
  *phStatus = nullptr;
  g_pfnHandler = lpHandler;
  ::SERVICE_STATUS_HANDLE hStatus = ::RegisterServiceCtrlHandlerA(lpServiceName, HandlerEntry);
  if (hStatus == nullptr) return ::GetLastError();
  g_statusHandle.hStatus = hStatus;
  *phStatus = &g_statusHandle;
  return ERROR_SUCCESS;
}

DWORD SetServiceStatus(SERVICE_STATUS_HANDLE hStatus, const SERVICE_STATUS* pStatus) {
  if (hStatus == nullptr || pStatus == nullptr) return ERROR_INVALID_PARAMETER;
  ::SERVICE_STATUS status = {pStatus->dwServiceType,   pStatus->dwCurrentState,
                             pStatus->dwControlsAccepted, pStatus->dwWin32ExitCode,
                             pStatus->dwServiceSpecificExitCode, pStatus->dwCheckPoint,
                             pStatus->dwWaitHint};
  return ::SetServiceStatus(hStatus->hStatus, &status) ? ERROR_SUCCESS : ::GetLastError();
}

}  // namespace kx
