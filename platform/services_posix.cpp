// The service manager on POSIX: the checks every backend shares, then the
// backend (backends_posix.h).
#include "platform/backends_posix.h"
#include "platform/error_codes.h"
#include "platform/services.h"

namespace kx {

DWORD OpenServiceManager(SC_HANDLE* phManager) {
  if (phManager == nullptr) return ERROR_INVALID_PARAMETER;
  *phManager = nullptr;
  return GetServiceBackend().OpenManager(phManager);
}

DWORD OpenServiceByName(SC_HANDLE hManager, const char* lpServiceName, SC_HANDLE* phService) {
  if (phService == nullptr) return ERROR_INVALID_PARAMETER;
  *phService = nullptr;
  if (hManager == nullptr) return ERROR_INVALID_HANDLE;
  return GetServiceBackend().OpenService(hManager, lpServiceName, phService);
}

DWORD InstallService(SC_HANDLE hManager, const char* lpServiceName, const SERVICE_CONFIG& config,
                     SC_HANDLE* phService) {
  if (phService == nullptr) return ERROR_INVALID_PARAMETER;
  *phService = nullptr;
  if (hManager == nullptr) return ERROR_INVALID_HANDLE;
  return GetServiceBackend().Install(hManager, lpServiceName, config, phService);
}

DWORD DeleteService(SC_HANDLE hService) {
  if (hService == nullptr) return ERROR_INVALID_HANDLE;
  return GetServiceBackend().Delete(hService);
}

void CloseServiceHandle(SC_HANDLE hHandle) { delete hHandle; }

DWORD GetServiceName(SC_HANDLE hService, std::string* pstrName) {
  if (pstrName == nullptr) return ERROR_INVALID_PARAMETER;
  if (hService == nullptr) return ERROR_INVALID_HANDLE;
  return GetServiceBackend().GetName(hService, pstrName);
}

DWORD QueryServiceConfiguration(SC_HANDLE hService, SERVICE_CONFIG* pConfig) {
  if (pConfig == nullptr) return ERROR_INVALID_PARAMETER;
  if (hService == nullptr) return ERROR_INVALID_HANDLE;
  return GetServiceBackend().QueryConfiguration(hService, pConfig);
}

DWORD ChangeServiceConfiguration(SC_HANDLE hService, const SERVICE_CONFIG& config) {
  if (hService == nullptr) return ERROR_INVALID_HANDLE;
  return GetServiceBackend().ChangeConfiguration(hService, config);
}

DWORD QueryServiceStatus(SC_HANDLE hService, SERVICE_STATUS* pStatus) {
  if (pStatus == nullptr) return ERROR_INVALID_PARAMETER;
  if (hService == nullptr) return ERROR_INVALID_HANDLE;
  return GetServiceBackend().QueryStatus(hService, pStatus);
}

DWORD StartInstalledService(SC_HANDLE hService) {
  if (hService == nullptr) return ERROR_INVALID_HANDLE;
  return GetServiceBackend().Start(hService);
}

DWORD ControlService(SC_HANDLE hService, DWORD dwControl, SERVICE_STATUS* pStatus) {
  if (hService == nullptr) return ERROR_INVALID_HANDLE;
  return GetServiceBackend().Control(hService, dwControl, pStatus);
}

DWORD EnumerateServices(SC_HANDLE hManager, std::vector<SERVICE_LIST_ENTRY>* pServices) {
  if (pServices == nullptr) return ERROR_INVALID_PARAMETER;
  pServices->clear();
  if (hManager == nullptr) return ERROR_INVALID_HANDLE;
  return GetServiceBackend().Enumerate(hManager, pServices);
}

DWORD RunServiceDispatcher(const SERVICE_DISPATCH_ENTRY* lpTable) {
  if (lpTable == nullptr || lpTable[0].lpServiceName == nullptr || lpTable[0].lpServiceProc == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  return GetServiceBackend().RunDispatcher(lpTable);
}

DWORD RegisterServiceHandler(const char* lpServiceName, SERVICE_HANDLER_PROC lpHandler,
                             SERVICE_STATUS_HANDLE* phStatus) {
  if (phStatus == nullptr) return ERROR_INVALID_PARAMETER;
  *phStatus = nullptr;
  return GetServiceBackend().RegisterHandler(lpServiceName, lpHandler, phStatus);
}

DWORD SetServiceStatus(SERVICE_STATUS_HANDLE hStatus, const SERVICE_STATUS* pStatus) {
  if (hStatus == nullptr || pStatus == nullptr) return ERROR_INVALID_HANDLE;
  return GetServiceBackend().SetStatus(hStatus, pStatus);
}

}  // namespace kx
