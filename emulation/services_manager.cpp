// The service manager, emulated in the system state directory: one store
// file per service for its configuration and one for its status, changed under
// the lock of <root>/services (services_store.h).
#include "platform/services.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "emulation/emulation.h"
#include "emulation/services_store.h"
#include "emulation/system_root.h"
#include "platform/error_codes.h"
#include "platform/posix_error.h"
#include "platform/processes.h"

namespace kx {
namespace emulation {

namespace {

struct CEmulatedServiceHandle : CServiceHandleData {
  CEmulatedServiceHandle(bool bIsManager, const std::string& strDir, const std::string& strServiceKey)
      : bManager(bIsManager), strDirectory(strDir), strKey(strServiceKey) {}
  bool bManager;
  std::string strDirectory;  // <system root>/services
  std::string strKey;        // the service's file name stem; empty for the manager
};

}  // namespace

std::string KeyOf(const std::string& strName) {
  std::string strKey = strName;
  for (char& c : strKey) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return strKey;
}

// Names become file names, so only printable ASCII without separators is taken.
bool IsValidName(const char* lpName) {
  if (lpName == nullptr) return false;
  std::size_t nLength = std::strlen(lpName);
  if (nLength == 0 || nLength > kMaxServiceName || lpName[0] == '.' || lpName[0] == ' ') return false;
  for (std::size_t i = 0; i < nLength; ++i) {
    unsigned char c = static_cast<unsigned char>(lpName[i]);
    if (c < 0x20 || c > 0x7E || c == '/' || c == '\\') return false;
  }
  return true;
}

bool IsSingleLine(const std::string& strText) { return strText.find_first_of("\r\n") == std::string::npos; }

std::uint64_t Number64(const CKeyValues& values, const char* lpKey) { return GetKeyNumber(values, lpKey); }

std::string ServiceDirectory() { return GetSystemRoot() + "/services"; }

CServiceFiles::CServiceFiles(const std::string& strDirectory, const std::string& strKey)
    : strConfig(strDirectory + "/" + strKey + ".conf"),
      strStatus(strDirectory + "/" + strKey + ".status"),
      strOutput(strDirectory + "/" + strKey + ".log") {}

SERVICE_STATUS DeriveStatus(const CKeyValues& config, const CKeyValues& status, bool* pbAlive) {
  SERVICE_STATUS result;
  std::memset(&result, 0, sizeof(result));
  result.dwServiceType = Number(config, "Type", SERVICE_WIN32_OWN_PROCESS);
  result.dwCurrentState = SERVICE_STOPPED;
  DWORD dwProcessId = Number(status, "Pid", 0);
  std::uint64_t qwStartTime = 0;
  bool bAlive = dwProcessId != 0 && GetProcessStartTime(dwProcessId, &qwStartTime) == ERROR_SUCCESS &&
                qwStartTime == Number64(status, "StartTime");
  if (pbAlive) *pbAlive = bAlive;
  bool bReported = Number(status, "Reported", 0) != 0;
  if (bReported) {
    result.dwWin32ExitCode = Number(status, "ExitCode", 0);
    result.dwServiceSpecificExitCode = Number(status, "SpecificExitCode", 0);
  }
  if (!bAlive) return result;
  bool bStopSent = Number(status, "StopSent", 0) != 0;
  if (bReported) {
    result.dwCurrentState = Number(status, "State", SERVICE_STOPPED);
    result.dwControlsAccepted = Number(status, "ControlsAccepted", 0);
    result.dwCheckPoint = Number(status, "CheckPoint", 0);
    result.dwWaitHint = Number(status, "WaitHint", 0);
    if (result.dwCurrentState == SERVICE_STOPPED) result.dwControlsAccepted = 0;
  } else if (result.dwServiceType == KX_SERVICE_COMMAND) {
    result.dwCurrentState = bStopSent ? SERVICE_STOP_PENDING : SERVICE_RUNNING;
    result.dwControlsAccepted = bStopSent ? 0 : SERVICE_ACCEPT_STOP;
  } else {
    // A service program that has not reported yet is still starting.
    result.dwCurrentState = bStopSent ? SERVICE_STOP_PENDING : SERVICE_START_PENDING;
  }
  return result;
}

namespace {

// The handle as a manager or as a service; null when it is not one.
const CEmulatedServiceHandle* AsManager(SC_HANDLE hHandle) {
  const CEmulatedServiceHandle* pHandle = static_cast<const CEmulatedServiceHandle*>(hHandle);
  return pHandle != nullptr && pHandle->bManager ? pHandle : nullptr;
}
const CEmulatedServiceHandle* AsService(SC_HANDLE hHandle) {
  const CEmulatedServiceHandle* pHandle = static_cast<const CEmulatedServiceHandle*>(hHandle);
  return pHandle != nullptr && !pHandle->bManager ? pHandle : nullptr;
}

// A service marked for delete disappears once its process has ended.
// Called under the lock. TRUE when the service is gone afterwards.
bool RemoveIfDeleted(const CServiceFiles& files, const CKeyValues& config) {
  if (Number(config, "DeletePending", 0) == 0) return false;
  CKeyValues status;
  ReadKeyValues(files.strStatus, &status);
  bool bAlive = false;
  DeriveStatus(config, status, &bAlive);
  if (bAlive) return false;
  unlink(files.strConfig.c_str());
  unlink(files.strStatus.c_str());
  unlink(files.strOutput.c_str());
  return true;
}

DWORD ValidateConfig(const SERVICE_CONFIG& config) {
  if (config.dwServiceType != SERVICE_WIN32_OWN_PROCESS && config.dwServiceType != KX_SERVICE_COMMAND) {
    return ERROR_INVALID_PARAMETER;
  }
  if (config.dwStartType != SERVICE_AUTO_START && config.dwStartType != SERVICE_DEMAND_START &&
      config.dwStartType != SERVICE_DISABLED) {
    return ERROR_INVALID_PARAMETER;
  }
  if (!IsSingleLine(config.strBinaryPathName) || !IsSingleLine(config.strDisplayName) ||
      !IsSingleLine(config.strServiceStartName) || config.strDisplayName.size() > kMaxServiceName) {
    return ERROR_INVALID_PARAMETER;
  }
  for (const std::string& strDependency : config.dependencies) {
    if (!IsValidName(strDependency.c_str())) return ERROR_INVALID_NAME;
  }
  return ERROR_SUCCESS;
}

void StoreConfig(const SERVICE_CONFIG& config, const std::string& strName, CKeyValues* pValues) {
  std::string strDependencies;
  for (const std::string& strDependency : config.dependencies) {
    if (!strDependencies.empty()) strDependencies += "/";
    strDependencies += strDependency;
  }
  (*pValues)["Name"] = strName;
  (*pValues)["DisplayName"] = config.strDisplayName.empty() ? strName : config.strDisplayName;
  (*pValues)["Type"] = std::to_string(config.dwServiceType);
  (*pValues)["StartType"] = std::to_string(config.dwStartType);
  (*pValues)["ErrorControl"] = std::to_string(config.dwErrorControl);
  (*pValues)["BinaryPath"] = config.strBinaryPathName;
  (*pValues)["Dependencies"] = strDependencies;
  (*pValues)["StartName"] = config.strServiceStartName;
}

void LoadConfig(const CKeyValues& values, SERVICE_CONFIG* pConfig) {
  pConfig->dwServiceType = Number(values, "Type", SERVICE_WIN32_OWN_PROCESS);
  pConfig->dwStartType = Number(values, "StartType", SERVICE_DEMAND_START);
  pConfig->dwErrorControl = Number(values, "ErrorControl", SERVICE_ERROR_NORMAL);
  pConfig->strBinaryPathName = GetKeyText(values, "BinaryPath");
  pConfig->strServiceStartName = GetKeyText(values, "StartName");
  pConfig->strDisplayName = GetKeyText(values, "DisplayName");
  pConfig->dependencies.clear();
  std::string strList = GetKeyText(values, "Dependencies");
  std::size_t nStart = 0;
  while (nStart < strList.size()) {
    std::size_t nEnd = strList.find('/', nStart);
    if (nEnd == std::string::npos) nEnd = strList.size();
    if (nEnd > nStart) pConfig->dependencies.push_back(strList.substr(nStart, nEnd - nStart));
    nStart = nEnd + 1;
  }
}

// Reads the configuration of an open service; ERROR_SERVICE_DOES_NOT_EXIST when
// it was deleted meanwhile.
DWORD ReadConfig(SC_HANDLE hHandle, CKeyValues* pConfig) {
  const CEmulatedServiceHandle* hService = AsService(hHandle);
  if (hService == nullptr) return ERROR_INVALID_HANDLE;
  CServiceFiles files(hService->strDirectory, hService->strKey);
  return ReadKeyValues(files.strConfig, pConfig) ? ERROR_SUCCESS : ERROR_SERVICE_DOES_NOT_EXIST;
}

// One open service with the manager's lock held and its configuration read:
// where every change of a service starts. GetError() says why it could not be
// had: a handle that is no service's, the lock, a service that is gone, or one
// marked for deletion (unless that is allowed).
class CLockedService {
 public:
  CLockedService(SC_HANDLE hHandle, bool bAllowDeletePending) : m_dwError(ERROR_SUCCESS) {
    const CEmulatedServiceHandle* hService = AsService(hHandle);
    if (hService == nullptr) {
      m_dwError = ERROR_INVALID_HANDLE;
      return;
    }
    m_pFiles.reset(new CServiceFiles(hService->strDirectory, hService->strKey));
    m_pLock.reset(new CLock(hService->strDirectory));
    if (!m_pLock->IsHeld()) {
      m_dwError = ERROR_SERVICE_DATABASE_LOCKED;
    } else if (!ReadKeyValues(m_pFiles->strConfig, &m_config)) {
      m_dwError = ERROR_SERVICE_DOES_NOT_EXIST;
    } else if (!bAllowDeletePending && Number(m_config, "DeletePending", 0) != 0) {
      m_dwError = ERROR_SERVICE_MARKED_FOR_DELETE;
    }
  }
  CLockedService(const CLockedService&) = delete;
  CLockedService& operator=(const CLockedService&) = delete;

  DWORD GetError() const { return m_dwError; }
  // Valid when GetError() is ERROR_SUCCESS.
  const CServiceFiles& Files() const { return *m_pFiles; }
  CKeyValues& Config() { return m_config; }

 private:
  DWORD m_dwError;
  std::unique_ptr<CServiceFiles> m_pFiles;
  std::unique_ptr<CLock> m_pLock;
  CKeyValues m_config;
};

}  // namespace

DWORD CServiceEmulation::OpenManager(SC_HANDLE* phManager) {
  std::string strDirectory = ServiceDirectory();
  DWORD dwError = EnsureDirectory(strDirectory);
  if (dwError != ERROR_SUCCESS) return dwError;
  if (access(strDirectory.c_str(), R_OK | W_OK | X_OK) != 0) return ERROR_ACCESS_DENIED;
  *phManager = new CEmulatedServiceHandle(true, strDirectory, std::string());
  return ERROR_SUCCESS;
}

DWORD CServiceEmulation::OpenService(SC_HANDLE hHandle, const char* lpServiceName, SC_HANDLE* phService) {
  const CEmulatedServiceHandle* hManager = AsManager(hHandle);
  if (hManager == nullptr) return ERROR_INVALID_HANDLE;
  if (!IsValidName(lpServiceName)) return ERROR_INVALID_NAME;
  std::string strKey = KeyOf(lpServiceName);
  CServiceFiles files(hManager->strDirectory, strKey);
  CKeyValues config;
  if (!ReadKeyValues(files.strConfig, &config)) return ERROR_SERVICE_DOES_NOT_EXIST;
  if (Number(config, "DeletePending", 0) != 0) {
    CLock lock(hManager->strDirectory);
    if (ReadKeyValues(files.strConfig, &config) && RemoveIfDeleted(files, config)) {
      return ERROR_SERVICE_DOES_NOT_EXIST;
    }
  }
  *phService = new CEmulatedServiceHandle(false, hManager->strDirectory, strKey);
  return ERROR_SUCCESS;
}

DWORD CServiceEmulation::Install(SC_HANDLE hHandle, const char* lpServiceName, const SERVICE_CONFIG& config,
                                 SC_HANDLE* phService) {
  const CEmulatedServiceHandle* hManager = AsManager(hHandle);
  if (hManager == nullptr) return ERROR_INVALID_HANDLE;
  if (!IsValidName(lpServiceName)) return ERROR_INVALID_NAME;
  DWORD dwError = ValidateConfig(config);
  if (dwError != ERROR_SUCCESS) return dwError;
  std::string strKey = KeyOf(lpServiceName);
  CServiceFiles files(hManager->strDirectory, strKey);
  CLock lock(hManager->strDirectory);
  if (!lock.IsHeld()) return ERROR_SERVICE_DATABASE_LOCKED;
  CKeyValues existing;
  if (ReadKeyValues(files.strConfig, &existing) && !RemoveIfDeleted(files, existing)) {
    return Number(existing, "DeletePending", 0) ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
  }
  CKeyValues values;
  StoreConfig(config, lpServiceName, &values);
  unlink(files.strStatus.c_str());
  dwError = WriteKeyValueFile(files.strConfig, values);
  if (dwError != ERROR_SUCCESS) return dwError;
  *phService = new CEmulatedServiceHandle(false, hManager->strDirectory, strKey);
  return ERROR_SUCCESS;
}

DWORD CServiceEmulation::Delete(SC_HANDLE hHandle) {
  CLockedService service(hHandle, false);
  if (service.GetError() != ERROR_SUCCESS) return service.GetError();
  service.Config()["DeletePending"] = "1";
  DWORD dwError = WriteKeyValueFile(service.Files().strConfig, service.Config());
  if (dwError != ERROR_SUCCESS) return dwError;
  RemoveIfDeleted(service.Files(), service.Config());
  return ERROR_SUCCESS;
}

DWORD CServiceEmulation::GetName(SC_HANDLE hService, std::string* pstrName) {
  CKeyValues config;
  DWORD dwError = ReadConfig(hService, &config);
  if (dwError == ERROR_SUCCESS) *pstrName = GetKeyText(config, "Name");
  return dwError;
}

DWORD CServiceEmulation::QueryConfiguration(SC_HANDLE hService, SERVICE_CONFIG* pConfig) {
  CKeyValues config;
  DWORD dwError = ReadConfig(hService, &config);
  if (dwError == ERROR_SUCCESS) LoadConfig(config, pConfig);
  return dwError;
}

DWORD CServiceEmulation::ChangeConfiguration(SC_HANDLE hHandle, const SERVICE_CONFIG& config) {
  if (AsService(hHandle) == nullptr) return ERROR_INVALID_HANDLE;
  DWORD dwError = ValidateConfig(config);
  if (dwError != ERROR_SUCCESS) return dwError;
  CLockedService service(hHandle, false);
  if (service.GetError() != ERROR_SUCCESS) return service.GetError();
  CKeyValues& values = service.Config();
  StoreConfig(config, GetKeyText(values, "Name"), &values);
  return WriteKeyValueFile(service.Files().strConfig, values);
}

DWORD CServiceEmulation::QueryStatus(SC_HANDLE hHandle, SERVICE_STATUS* pStatus) {
  CKeyValues config;
  DWORD dwError = ReadConfig(hHandle, &config);
  if (dwError != ERROR_SUCCESS) return dwError;
  const CEmulatedServiceHandle* hService = AsService(hHandle);
  CKeyValues status;
  ReadKeyValues(CServiceFiles(hService->strDirectory, hService->strKey).strStatus, &status);
  *pStatus = DeriveStatus(config, status, nullptr);
  return ERROR_SUCCESS;
}

DWORD CServiceEmulation::Start(SC_HANDLE hHandle) {
  CLockedService service(hHandle, false);
  if (service.GetError() != ERROR_SUCCESS) return service.GetError();
  const CServiceFiles& files = service.Files();
  const CKeyValues& config = service.Config();
  CKeyValues status;
  ReadKeyValues(files.strStatus, &status);
  if (DeriveStatus(config, status, nullptr).dwCurrentState != SERVICE_STOPPED) {
    return ERROR_SERVICE_ALREADY_RUNNING;
  }
  if (Number(config, "StartType", SERVICE_DEMAND_START) == SERVICE_DISABLED) return ERROR_SERVICE_DISABLED;

  CLaunch launch;
  launch.strCommandLine = GetKeyText(config, "BinaryPath");
  launch.strServiceName = GetKeyText(config, "Name");
  launch.strOutputPath = files.strOutput;
  DWORD dwProcessId = 0;
  DWORD dwError = LaunchDetached(launch, &dwProcessId);
  if (dwError != ERROR_SUCCESS) return dwError;
  std::uint64_t qwStartTime = 0;
  GetProcessStartTime(dwProcessId, &qwStartTime);  // 0 when it has already ended: reads as stopped

  CKeyValues fresh;
  fresh["Pid"] = std::to_string(dwProcessId);
  fresh["StartTime"] = std::to_string(qwStartTime);
  fresh["StopSent"] = "0";
  fresh["Reported"] = "0";
  return WriteKeyValueFile(files.strStatus, fresh);
}

namespace {

// Sends the control under the manager's lock. *pbAwaitReport is set when a
// service program was asked to stop and its answer is still to come.
DWORD SendControl(SC_HANDLE hHandle, DWORD dwControl, SERVICE_STATUS* pStatus, bool* pbAwaitReport) {
  CLockedService service(hHandle, true);
  if (service.GetError() != ERROR_SUCCESS) return service.GetError();
  const CServiceFiles& files = service.Files();
  const CKeyValues& config = service.Config();
  CKeyValues status;
  ReadKeyValues(files.strStatus, &status);
  SERVICE_STATUS current = DeriveStatus(config, status, nullptr);
  if (pStatus) *pStatus = current;
  if (dwControl == SERVICE_CONTROL_INTERROGATE) {
    return current.dwCurrentState == SERVICE_STOPPED ? ERROR_SERVICE_NOT_ACTIVE : ERROR_SUCCESS;
  }
  if (dwControl != SERVICE_CONTROL_STOP) return ERROR_INVALID_SERVICE_CONTROL;
  if (current.dwCurrentState == SERVICE_STOPPED) return ERROR_SERVICE_NOT_ACTIVE;
  if (current.dwCurrentState != SERVICE_RUNNING && current.dwCurrentState != SERVICE_PAUSED) {
    return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  }
  if ((current.dwControlsAccepted & SERVICE_ACCEPT_STOP) == 0) return ERROR_INVALID_SERVICE_CONTROL;

  pid_t pid = static_cast<pid_t>(Number(status, "Pid", 0));
  // A plain program may have started helpers of its own: its whole process
  // group (its session, made at start) is asked to end. A service program gets
  // the request alone and decides itself.
  bool bCommand = current.dwServiceType == KX_SERVICE_COMMAND;
  if (kill(bCommand ? -pid : pid, SIGTERM) != 0 && errno != ESRCH) return ErrnoToWinError(errno);
  status["StopSent"] = "1";
  status.erase("StopAnswer");
  DWORD dwError = WriteKeyValueFile(files.strStatus, status);
  if (dwError != ERROR_SUCCESS) return dwError;
  if (pStatus) *pStatus = DeriveStatus(config, status, nullptr);
  *pbAwaitReport = !bCommand;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD CServiceEmulation::Control(SC_HANDLE hHandle, DWORD dwControl, SERVICE_STATUS* pStatus) {
  const CEmulatedServiceHandle* hService = AsService(hHandle);
  if (hService == nullptr) return ERROR_INVALID_HANDLE;
  bool bAwaitReport = false;
  SERVICE_STATUS before;
  DWORD dwError = SendControl(hHandle, dwControl, &before, &bAwaitReport);
  if (pStatus) *pStatus = before;
  if (dwError != ERROR_SUCCESS || !bAwaitReport) return dwError;

  // A service program takes the control in its handler, whose first report
  // (stop pending, as a rule) is what the Windows manager answers with, since it
  // waits for the handler to return; wait for that report, or for the end of
  // the process, a little while.
  const int kReportWaitMs = 3000;
  const int kPollMs = 10;
  CServiceFiles files(hService->strDirectory, hService->strKey);
  for (int nWaited = 0; nWaited < kReportWaitMs; nWaited += kPollMs) {
    SERVICE_STATUS now;
    if (QueryStatus(hHandle, &now) != ERROR_SUCCESS) break;
    CKeyValues status;
    ReadKeyValues(files.strStatus, &status);
    if (status.find("StopAnswer") != status.end()) {
      now.dwCurrentState = Number(status, "StopAnswer", now.dwCurrentState);
      if (pStatus) *pStatus = now;
      break;
    }
    if (now.dwCurrentState == SERVICE_STOPPED) {
      if (pStatus) *pStatus = now;
      break;
    }
    usleep(kPollMs * 1000);
  }
  return ERROR_SUCCESS;
}

DWORD CServiceEmulation::Enumerate(SC_HANDLE hHandle, std::vector<SERVICE_LIST_ENTRY>* pServices) {
  pServices->clear();
  const CEmulatedServiceHandle* hManager = AsManager(hHandle);
  if (hManager == nullptr) return ERROR_INVALID_HANDLE;
  DIR* pDir = opendir(hManager->strDirectory.c_str());
  if (pDir == nullptr) return ErrnoToWinError(errno);
  std::vector<std::string> keys;
  while (struct dirent* pEntry = readdir(pDir)) {
    std::string strFile = pEntry->d_name;
    const std::string strSuffix = ".conf";
    if (strFile.size() > strSuffix.size() && strFile[0] != '.' &&
        strFile.compare(strFile.size() - strSuffix.size(), strSuffix.size(), strSuffix) == 0) {
      keys.push_back(strFile.substr(0, strFile.size() - strSuffix.size()));
    }
  }
  closedir(pDir);
  std::sort(keys.begin(), keys.end());
  for (const std::string& strKey : keys) {
    CServiceFiles files(hManager->strDirectory, strKey);
    CKeyValues config;
    if (!ReadKeyValues(files.strConfig, &config)) continue;  // deleted meanwhile
    CKeyValues status;
    ReadKeyValues(files.strStatus, &status);
    bool bAlive = false;
    SERVICE_LIST_ENTRY entry;
    entry.status = DeriveStatus(config, status, &bAlive);
    if (Number(config, "DeletePending", 0) != 0 && !bAlive) {
      CLock lock(hManager->strDirectory);
      if (ReadKeyValues(files.strConfig, &config) && RemoveIfDeleted(files, config)) continue;
    }
    entry.strServiceName = GetKeyText(config, "Name");
    entry.strDisplayName = GetKeyText(config, "DisplayName");
    pServices->push_back(entry);
  }
  return ERROR_SUCCESS;
}

CServiceBackend& GetServiceEmulation() {
  static CServiceEmulation emulation;
  return emulation;
}

}  // namespace emulation
}  // namespace kx
