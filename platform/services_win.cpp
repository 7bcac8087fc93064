#include "platform/windows_win.h"

#include <algorithm>
#include <new>
#include <vector>

#include "platform/error_codes.h"
#include "platform/services.h"

struct kx::CServiceHandleData {
  ::SC_HANDLE hHandle;
  std::string strName;  // empty for the manager
};

namespace kx {
namespace {

DWORD WrapHandle(::SC_HANDLE hHandle, const std::string& strName, SC_HANDLE* phHandle) {
  *phHandle = new (std::nothrow) CServiceHandleData{hHandle, strName};
  if (*phHandle != nullptr) return ERROR_SUCCESS;
  ::CloseServiceHandle(hHandle);
  return ERROR_NOT_ENOUGH_MEMORY;
}

void CopyStatus(const ::SERVICE_STATUS& source, SERVICE_STATUS* pStatus) {
  pStatus->dwServiceType = source.dwServiceType;
  pStatus->dwCurrentState = source.dwCurrentState;
  pStatus->dwControlsAccepted = source.dwControlsAccepted;
  pStatus->dwWin32ExitCode = source.dwWin32ExitCode;
  pStatus->dwServiceSpecificExitCode = source.dwServiceSpecificExitCode;
  pStatus->dwCheckPoint = source.dwCheckPoint;
  pStatus->dwWaitHint = source.dwWaitHint;
}

// Validates a configuration as the manager takes it: the dependencies as one
// double-NUL-terminated list.
DWORD CheckConfig(const SERVICE_CONFIG& config, std::vector<char>* pDependencies) {
  if (config.dwServiceType != SERVICE_WIN32_OWN_PROCESS && config.dwServiceType != SERVICE_WIN32_SHARE_PROCESS) {
    return ERROR_INVALID_PARAMETER;  // no plain-program services here
  }
  pDependencies->clear();
  for (const std::string& strDependency : config.dependencies) {
    pDependencies->insert(pDependencies->end(), strDependency.begin(), strDependency.end());
    pDependencies->push_back('\0');
  }
  pDependencies->push_back('\0');
  pDependencies->push_back('\0');
  return ERROR_SUCCESS;
}

const char* NullIfEmpty(const std::string& strText) { return strText.empty() ? nullptr : strText.c_str(); }

}  // namespace

DWORD OpenServiceManager(SC_HANDLE* phManager) {
  *phManager = nullptr;
  ::SC_HANDLE hManager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  // Without administrator rights the manager still lists and queries.
  if (hManager == nullptr) hManager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
  if (hManager == nullptr) return ::GetLastError();
  return WrapHandle(hManager, std::string(), phManager);
}

DWORD OpenServiceByName(SC_HANDLE hManager, const char* lpServiceName, SC_HANDLE* phService) {
  *phService = nullptr;
  if (hManager == nullptr || !hManager->strName.empty()) return ERROR_INVALID_HANDLE;
  if (lpServiceName == nullptr || lpServiceName[0] == '\0' || std::string(lpServiceName).size() >= kMaxServiceName) {
    return ERROR_INVALID_NAME;
  }
  ::SC_HANDLE hService = ::OpenServiceA(hManager->hHandle, lpServiceName, SERVICE_ALL_ACCESS);
  if (hService == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) {
    hService = ::OpenServiceA(hManager->hHandle, lpServiceName,
                              SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
  }
  if (hService == nullptr) return ::GetLastError();
  return WrapHandle(hService, lpServiceName, phService);
}

DWORD InstallService(SC_HANDLE hManager, const char* lpServiceName, const SERVICE_CONFIG& config,
                     SC_HANDLE* phService) {
  *phService = nullptr;
  if (hManager == nullptr || !hManager->strName.empty()) return ERROR_INVALID_HANDLE;
  if (lpServiceName == nullptr || lpServiceName[0] == '\0') return ERROR_INVALID_NAME;
  std::vector<char> dependencies;
  DWORD dwError = CheckConfig(config, &dependencies);
  if (dwError != ERROR_SUCCESS) return dwError;
  const std::string strDisplayName = config.strDisplayName.empty() ? lpServiceName : config.strDisplayName;
  ::SC_HANDLE hService = ::CreateServiceA(
      hManager->hHandle, lpServiceName, strDisplayName.c_str(), SERVICE_ALL_ACCESS, config.dwServiceType,
      config.dwStartType, config.dwErrorControl, config.strBinaryPathName.c_str(), nullptr, nullptr,
      dependencies.data(), NullIfEmpty(config.strServiceStartName), nullptr);
  if (hService == nullptr) return ::GetLastError();
  return WrapHandle(hService, lpServiceName, phService);
}

DWORD DeleteService(SC_HANDLE hService) {
  if (hService == nullptr || hService->strName.empty()) return ERROR_INVALID_HANDLE;
  return ::DeleteService(hService->hHandle) ? ERROR_SUCCESS : ::GetLastError();
}

void CloseServiceHandle(SC_HANDLE hHandle) {
  if (hHandle == nullptr) return;
  ::CloseServiceHandle(hHandle->hHandle);
  delete hHandle;
}

DWORD GetServiceName(SC_HANDLE hService, std::string* pstrName) {
  if (hService == nullptr || hService->strName.empty()) return ERROR_INVALID_HANDLE;
  *pstrName = hService->strName;
  return ERROR_SUCCESS;
}

DWORD QueryServiceConfiguration(SC_HANDLE hService, SERVICE_CONFIG* pConfig) {
  if (hService == nullptr || hService->strName.empty()) return ERROR_INVALID_HANDLE;
  DWORD dwNeeded = 0;
  ::QueryServiceConfigA(hService->hHandle, nullptr, 0, &dwNeeded);
  if (dwNeeded == 0) return ::GetLastError();
  std::vector<BYTE> buffer(dwNeeded);
  auto* pInfo = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!::QueryServiceConfigA(hService->hHandle, pInfo, dwNeeded, &dwNeeded)) return ::GetLastError();
  *pConfig = SERVICE_CONFIG();
  pConfig->dwServiceType = pInfo->dwServiceType;
  pConfig->dwStartType = pInfo->dwStartType;
  pConfig->dwErrorControl = pInfo->dwErrorControl;
  pConfig->strBinaryPathName = pInfo->lpBinaryPathName != nullptr ? pInfo->lpBinaryPathName : "";
  for (const char* p = pInfo->lpDependencies; p != nullptr && *p != '\0'; p += std::string(p).size() + 1) {
    pConfig->dependencies.push_back(p);
  }
  pConfig->strServiceStartName = pInfo->lpServiceStartName != nullptr ? pInfo->lpServiceStartName : "";
  pConfig->strDisplayName = pInfo->lpDisplayName != nullptr ? pInfo->lpDisplayName : "";
  return ERROR_SUCCESS;
}

DWORD ChangeServiceConfiguration(SC_HANDLE hService, const SERVICE_CONFIG& config) {
  if (hService == nullptr || hService->strName.empty()) return ERROR_INVALID_HANDLE;
  std::vector<char> dependencies;
  DWORD dwError = CheckConfig(config, &dependencies);
  if (dwError != ERROR_SUCCESS) return dwError;
  const std::string strDisplayName = config.strDisplayName.empty() ? hService->strName : config.strDisplayName;
  if (!::ChangeServiceConfigA(hService->hHandle, config.dwServiceType, config.dwStartType, config.dwErrorControl,
                              config.strBinaryPathName.c_str(), nullptr, nullptr, dependencies.data(),
                              NullIfEmpty(config.strServiceStartName), nullptr, strDisplayName.c_str())) {
    return ::GetLastError();
  }
  return ERROR_SUCCESS;
}

DWORD QueryServiceStatus(SC_HANDLE hService, SERVICE_STATUS* pStatus) {
  if (hService == nullptr || hService->strName.empty()) return ERROR_INVALID_HANDLE;
  ::SERVICE_STATUS status = {};
  if (!::QueryServiceStatus(hService->hHandle, &status)) return ::GetLastError();
  CopyStatus(status, pStatus);
  return ERROR_SUCCESS;
}

DWORD StartInstalledService(SC_HANDLE hService) {
  if (hService == nullptr || hService->strName.empty()) return ERROR_INVALID_HANDLE;
  return ::StartServiceA(hService->hHandle, 0, nullptr) ? ERROR_SUCCESS : ::GetLastError();
}

DWORD ControlService(SC_HANDLE hService, DWORD dwControl, SERVICE_STATUS* pStatus) {
  if (hService == nullptr || hService->strName.empty()) return ERROR_INVALID_HANDLE;
  ::SERVICE_STATUS status = {};
  BOOL bDone = ::ControlService(hService->hHandle, dwControl, &status);
  DWORD dwError = bDone ? ERROR_SUCCESS : ::GetLastError();
  if (pStatus != nullptr) {
    if (!bDone) ::QueryServiceStatus(hService->hHandle, &status);
    CopyStatus(status, pStatus);
  }
  return dwError;
}

DWORD EnumerateServices(SC_HANDLE hManager, std::vector<SERVICE_LIST_ENTRY>* pServices) {
  pServices->clear();
  if (hManager == nullptr || !hManager->strName.empty()) return ERROR_INVALID_HANDLE;
  DWORD dwResume = 0;
  std::vector<BYTE> buffer(64 * 1024);
  for (;;) {
    DWORD dwNeeded = 0;
    DWORD dwCount = 0;
    BOOL bDone = ::EnumServicesStatusA(hManager->hHandle, SERVICE_WIN32, SERVICE_STATE_ALL,
                                       reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data()),
                                       static_cast<DWORD>(buffer.size()), &dwNeeded, &dwCount, &dwResume);
    DWORD dwError = bDone ? ERROR_SUCCESS : ::GetLastError();
    if (!bDone && dwError != ERROR_MORE_DATA) return dwError;
    auto* pEntries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
    for (DWORD i = 0; i < dwCount; ++i) {
      SERVICE_LIST_ENTRY entry;
      entry.strServiceName = pEntries[i].lpServiceName != nullptr ? pEntries[i].lpServiceName : "";
      entry.strDisplayName = pEntries[i].lpDisplayName != nullptr ? pEntries[i].lpDisplayName : "";
      CopyStatus(pEntries[i].ServiceStatus, &entry.status);
      pServices->push_back(entry);
    }
    if (bDone) break;
    if (dwCount == 0) buffer.resize(std::max<size_t>(buffer.size() * 2, dwNeeded));
  }
  std::sort(pServices->begin(), pServices->end(), [](const SERVICE_LIST_ENTRY& a, const SERVICE_LIST_ENTRY& b) {
    return ::lstrcmpiA(a.strServiceName.c_str(), b.strServiceName.c_str()) < 0;
  });
  return ERROR_SUCCESS;
}

}  // namespace kx
