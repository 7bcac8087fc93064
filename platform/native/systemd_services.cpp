#include "platform/native/systemd_services.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/error_codes.h"
#include "platform/text_compare.h"
#include "platform/text_encoding.h"

namespace kx {
namespace native {

namespace {

const char kDestination[] = "org.freedesktop.systemd1";
const char kManagerPath[] = "/org/freedesktop/systemd1";
const char kManagerInterface[] = "org.freedesktop.systemd1.Manager";
const char kUnitInterface[] = "org.freedesktop.systemd1.Unit";
const char kSuffix[] = ".service";
const size_t kSuffixLength = sizeof(kSuffix) - 1;

const BUS_ERROR_CODE kManagerErrors[] = {
    {"org.freedesktop.systemd1.NoSuchUnit", ERROR_SERVICE_DOES_NOT_EXIST},
    {"org.freedesktop.systemd1.LoadFailed", ERROR_INVALID_DATA},  // its unit file is broken
    {"org.freedesktop.systemd1.UnitMasked", ERROR_SERVICE_DISABLED},
    {"org.freedesktop.systemd1.OnlyByDependency", ERROR_ACCESS_DENIED},
    {"org.freedesktop.systemd1.TransactionIsDestructive", ERROR_SERVICE_DATABASE_LOCKED},
    {"org.freedesktop.systemd1.ShuttingDown", ERROR_SERVICE_DATABASE_LOCKED},
    {nullptr, 0},
};

bool EndsWithSuffix(const std::string& strName) {
  return strName.size() > kSuffixLength && strName.compare(strName.size() - kSuffixLength, kSuffixLength, kSuffix) == 0;
}

std::string UnitName(const std::string& strServiceName) { return strServiceName + kSuffix; }

// A template ("name@.service") is no service of its own until instantiated.
bool IsTemplate(const std::string& strUnitName) {
  return strUnitName.size() > kSuffixLength && strUnitName[strUnitName.size() - kSuffixLength - 1] == '@';
}

std::string BaseName(const std::string& strPath) {
  size_t nSlash = strPath.rfind('/');
  return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

// The unit's description as the display name, else the service name.
std::string DisplayName(const char* lpDescription, const std::string& strServiceName) {
  if (lpDescription == nullptr || lpDescription[0] == '\0') return strServiceName;
  return CutCp932(Utf8ToCp932(lpDescription), kMaxServiceName);
}

}  // namespace

DWORD CSystemdServiceManager::DoConnect(const char* lpBusAddress) { return m_bus.DoConnect(lpBusAddress); }

DWORD CSystemdServiceManager::GetStartType(const std::string& strUnitFileState) {
  if (strUnitFileState == "enabled" || strUnitFileState == "enabled-runtime" || strUnitFileState == "generated") {
    return SERVICE_AUTO_START;
  }
  if (strUnitFileState == "masked" || strUnitFileState == "masked-runtime") return SERVICE_DISABLED;
  return SERVICE_DEMAND_START;
}

DWORD CSystemdServiceManager::GetServiceState(const std::string& strActiveState) {
  if (strActiveState == "active" || strActiveState == "reloading" || strActiveState == "refreshing") {
    return SERVICE_RUNNING;
  }
  if (strActiveState == "activating") return SERVICE_START_PENDING;
  if (strActiveState == "deactivating") return SERVICE_STOP_PENDING;
  return SERVICE_STOPPED;
}

bool CSystemdServiceManager::IsValidServiceName(const std::string& strServiceName) {
  if (strServiceName.empty() || strServiceName.size() + kSuffixLength > kMaxServiceName) return false;
  for (char c : strServiceName) {
    bool bAllowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
                    c == '_' || c == '.' || c == '-' || c == '@' || c == '\\';
    if (!bAllowed) return false;
  }
  return true;
}

void CSystemdServiceManager::FillStatus(const std::string& strActiveState, SERVICE_STATUS* pStatus) {
  *pStatus = SERVICE_STATUS();
  pStatus->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  pStatus->dwCurrentState = GetServiceState(strActiveState);
  if (pStatus->dwCurrentState == SERVICE_RUNNING) pStatus->dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
}

DWORD CSystemdServiceManager::LoadUnit(const std::string& strServiceName, std::string* pstrPath) {
  if (m_bus.GetBus() == nullptr) return ERROR_INVALID_HANDLE;
  CBusError error;
  CBusMessage reply;
  std::string strUnit = UnitName(strServiceName);
  // LoadUnit also finds a unit that is installed but not loaded now.
  int nResult = sd_bus_call_method(m_bus.GetBus(), kDestination, kManagerPath, kManagerInterface, "LoadUnit",
                                   error.Get(), reply.Receive(), "s", strUnit.c_str());
  if (nResult < 0) return MapBusError(error.Get(), nResult, kManagerErrors);
  const char* lpPath = nullptr;
  nResult = sd_bus_message_read(reply.Get(), "o", &lpPath);
  if (nResult < 0 || lpPath == nullptr) return ERROR_INVALID_DATA;
  *pstrPath = lpPath;
  return ERROR_SUCCESS;
}

DWORD CSystemdServiceManager::ReadProperties(const std::string& strServiceName, UNIT_PROPERTIES* pProperties) {
  std::string strPath;
  DWORD dwError = LoadUnit(strServiceName, &strPath);
  if (dwError != ERROR_SUCCESS) return dwError;
  struct {
    const char* lpName;
    std::string* pstrValue;
    bool bRequired;
  } properties[] = {
      {"LoadState", &pProperties->strLoadState, true},
      {"ActiveState", &pProperties->strActiveState, true},
      {"Description", &pProperties->strDescription, false},
      {"UnitFileState", &pProperties->strUnitFileState, false},
  };
  for (auto& property : properties) {
    CBusError error;
    char* lpValue = nullptr;
    int nResult = sd_bus_get_property_string(m_bus.GetBus(), kDestination, strPath.c_str(), kUnitInterface,
                                             property.lpName, error.Get(), &lpValue);
    if (nResult < 0) {
      if (property.bRequired) return MapBusError(error.Get(), nResult, kManagerErrors);
      property.pstrValue->clear();
      continue;
    }
    *property.pstrValue = lpValue != nullptr ? lpValue : "";
    std::free(lpValue);
  }
  // The manager makes up a unit for any name it is asked about; one without
  // a unit file is no service.
  if (pProperties->strLoadState == "not-found") return ERROR_SERVICE_DOES_NOT_EXIST;
  return ERROR_SUCCESS;
}

DWORD CSystemdServiceManager::DoFindService(const char* lpServiceName, std::string* pstrServiceName) {
  if (lpServiceName == nullptr || pstrServiceName == nullptr) return ERROR_INVALID_PARAMETER;
  std::string strName = lpServiceName;
  if (EndsWithSuffix(strName)) strName.resize(strName.size() - kSuffixLength);
  if (!IsValidServiceName(strName) || IsTemplate(UnitName(strName))) return ERROR_INVALID_NAME;
  UNIT_PROPERTIES properties;
  DWORD dwError;
  {
    std::lock_guard<std::mutex> lock(m_bus.GetLock());
    dwError = ReadProperties(strName, &properties);
  }
  if (dwError == ERROR_SUCCESS) {
    *pstrServiceName = strName;
    return ERROR_SUCCESS;
  }
  if (dwError != ERROR_SERVICE_DOES_NOT_EXIST) return dwError;
  // Unit names are case-sensitive, service names are not.
  std::vector<SERVICE_LIST_ENTRY> services;
  if (DoEnumerateServices(&services) != ERROR_SUCCESS) return dwError;
  for (const SERVICE_LIST_ENTRY& service : services) {
    if (CompareNoCase(service.strServiceName.c_str(), strName.c_str()) == 0) {
      *pstrServiceName = service.strServiceName;
      return ERROR_SUCCESS;
    }
  }
  return dwError;
}

DWORD CSystemdServiceManager::DoQueryConfiguration(const std::string& strServiceName, SERVICE_CONFIG* pConfig) {
  if (pConfig == nullptr) return ERROR_INVALID_PARAMETER;
  UNIT_PROPERTIES properties;
  std::lock_guard<std::mutex> lock(m_bus.GetLock());
  DWORD dwError = ReadProperties(strServiceName, &properties);
  if (dwError != ERROR_SUCCESS) return dwError;
  *pConfig = SERVICE_CONFIG();
  pConfig->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  // A masked unit has no file state of its own to say so.
  pConfig->dwStartType = properties.strLoadState == "masked" ? SERVICE_DISABLED : GetStartType(properties.strUnitFileState);
  pConfig->strDisplayName = DisplayName(properties.strDescription.c_str(), strServiceName);
  return ERROR_SUCCESS;
}

DWORD CSystemdServiceManager::DoQueryStatus(const std::string& strServiceName, SERVICE_STATUS* pStatus) {
  if (pStatus == nullptr) return ERROR_INVALID_PARAMETER;
  UNIT_PROPERTIES properties;
  std::lock_guard<std::mutex> lock(m_bus.GetLock());
  DWORD dwError = ReadProperties(strServiceName, &properties);
  if (dwError != ERROR_SUCCESS) return dwError;
  FillStatus(properties.strActiveState, pStatus);
  return ERROR_SUCCESS;
}

DWORD CSystemdServiceManager::CallJob(const char* lpMethod, const std::string& strServiceName) {
  CBusError error;
  CBusMessage reply;
  std::string strUnit = UnitName(strServiceName);
  int nResult = sd_bus_call_method(m_bus.GetBus(), kDestination, kManagerPath, kManagerInterface, lpMethod,
                                   error.Get(), reply.Receive(), "ss", strUnit.c_str(), "replace");
  if (nResult < 0) return MapBusError(error.Get(), nResult, kManagerErrors);
  return ERROR_SUCCESS;
}

DWORD CSystemdServiceManager::DoStartService(const std::string& strServiceName) {
  UNIT_PROPERTIES properties;
  std::lock_guard<std::mutex> lock(m_bus.GetLock());
  DWORD dwError = ReadProperties(strServiceName, &properties);
  if (dwError != ERROR_SUCCESS) return dwError;
  if (properties.strLoadState == "masked") return ERROR_SERVICE_DISABLED;
  if (GetServiceState(properties.strActiveState) != SERVICE_STOPPED) return ERROR_SERVICE_ALREADY_RUNNING;
  return CallJob("StartUnit", strServiceName);
}

DWORD CSystemdServiceManager::DoControlService(const std::string& strServiceName, DWORD dwControl,
                                               SERVICE_STATUS* pStatus) {
  if (pStatus == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(m_bus.GetLock());
  UNIT_PROPERTIES properties;
  DWORD dwError = ReadProperties(strServiceName, &properties);
  if (dwError != ERROR_SUCCESS) return dwError;
  FillStatus(properties.strActiveState, pStatus);
  if (dwControl == SERVICE_CONTROL_INTERROGATE) {
    return pStatus->dwCurrentState == SERVICE_STOPPED ? static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE)
                                                      : static_cast<DWORD>(ERROR_SUCCESS);
  }
  if (dwControl != SERVICE_CONTROL_STOP) return ERROR_INVALID_SERVICE_CONTROL;
  if (pStatus->dwCurrentState == SERVICE_STOPPED) return ERROR_SERVICE_NOT_ACTIVE;
  if (pStatus->dwCurrentState != SERVICE_RUNNING) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  dwError = CallJob("StopUnit", strServiceName);
  // A unit that refuses a manual stop does not accept the control.
  if (dwError == ERROR_ACCESS_DENIED) return ERROR_INVALID_SERVICE_CONTROL;
  if (dwError != ERROR_SUCCESS) return dwError;
  if (ReadProperties(strServiceName, &properties) == ERROR_SUCCESS) {
    FillStatus(properties.strActiveState, pStatus);
    // The stop was accepted: until the manager has done it, it is pending.
    if (pStatus->dwCurrentState == SERVICE_RUNNING) {
      pStatus->dwCurrentState = SERVICE_STOP_PENDING;
      pStatus->dwControlsAccepted = 0;
    }
  }
  return ERROR_SUCCESS;
}

DWORD CSystemdServiceManager::DoEnumerateServices(std::vector<SERVICE_LIST_ENTRY>* pServices) {
  if (pServices == nullptr) return ERROR_INVALID_PARAMETER;
  pServices->clear();
  std::lock_guard<std::mutex> lock(m_bus.GetLock());
  if (m_bus.GetBus() == nullptr) return ERROR_INVALID_HANDLE;
  std::map<std::string, SERVICE_LIST_ENTRY> services;
  {
    CBusError error;
    CBusMessage reply;
    int nResult = sd_bus_call_method(m_bus.GetBus(), kDestination, kManagerPath, kManagerInterface, "ListUnits",
                                     error.Get(), reply.Receive(), "");
    if (nResult < 0) return MapBusError(error.Get(), nResult, kManagerErrors);
    nResult = sd_bus_message_enter_container(reply.Get(), 'a', "(ssssssouso)");
    if (nResult < 0) return ERROR_INVALID_DATA;
    for (;;) {
      const char *lpName, *lpDescription, *lpLoad, *lpActive, *lpSub, *lpFollowing, *lpPath, *lpJobType, *lpJobPath;
      uint32_t dwJob;
      nResult = sd_bus_message_read(reply.Get(), "(ssssssouso)", &lpName, &lpDescription, &lpLoad, &lpActive, &lpSub,
                                    &lpFollowing, &lpPath, &dwJob, &lpJobType, &lpJobPath);
      if (nResult < 0) return ERROR_INVALID_DATA;
      if (nResult == 0) break;
      std::string strUnit = lpName;
      if (!EndsWithSuffix(strUnit) || std::string(lpLoad) == "not-found") continue;
      SERVICE_LIST_ENTRY entry;
      entry.strServiceName = strUnit.substr(0, strUnit.size() - kSuffixLength);
      entry.strDisplayName = DisplayName(lpDescription, entry.strServiceName);
      FillStatus(lpActive, &entry.status);
      services[entry.strServiceName] = entry;
    }
  }
  // Installed units that are not loaded now (stopped, disabled, masked).
  std::vector<std::string> unloaded;
  {
    CBusError error;
    CBusMessage reply;
    int nResult = sd_bus_call_method(m_bus.GetBus(), kDestination, kManagerPath, kManagerInterface, "ListUnitFiles",
                                     error.Get(), reply.Receive(), "");
    if (nResult >= 0 && sd_bus_message_enter_container(reply.Get(), 'a', "(ss)") >= 0) {
      for (;;) {
        const char *lpPath, *lpState;
        if (sd_bus_message_read(reply.Get(), "(ss)", &lpPath, &lpState) <= 0) break;
        std::string strUnit = BaseName(lpPath);
        // An alias is another name of a unit listed under its own.
        if (!EndsWithSuffix(strUnit) || IsTemplate(strUnit) || std::string(lpState) == "alias") continue;
        std::string strName = strUnit.substr(0, strUnit.size() - kSuffixLength);
        if (services.count(strName) == 0 && IsValidServiceName(strName)) unloaded.push_back(strName);
      }
    }
  }
  for (const std::string& strName : unloaded) {
    UNIT_PROPERTIES properties;
    if (ReadProperties(strName, &properties) != ERROR_SUCCESS) continue;
    SERVICE_LIST_ENTRY entry;
    entry.strServiceName = strName;
    entry.strDisplayName = DisplayName(properties.strDescription.c_str(), strName);
    FillStatus(properties.strActiveState, &entry.status);
    services[strName] = entry;
  }
  for (auto& item : services) pServices->push_back(item.second);
  return ERROR_SUCCESS;
}

}  // namespace native
}  // namespace kx
