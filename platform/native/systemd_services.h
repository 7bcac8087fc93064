// systemd's manager (org.freedesktop.systemd1) answering the service
// facility's questions: its service units as services, in the facility's
// records and result codes. A service's name is its unit name without
// ".service"; a caller may give either form.
//
// Start modes from the unit file state: enabled (and enabled-runtime,
// generated) -> SERVICE_AUTO_START; masked -> SERVICE_DISABLED; anything else
// (disabled, static, indirect, ...) -> SERVICE_DEMAND_START. States from the
// active state: active, reloading -> running; activating -> start pending;
// deactivating -> stop pending; inactive, failed and the rest -> stopped.
//
// Any thread may call any method; calls are serialized on one bus connection.
#pragma once

#include <string>
#include <vector>

#include "platform/kx_types.h"
#include "platform/native/bus_connection.h"
#include "platform/services.h"

namespace kx {
namespace native {

class CSystemdServiceManager {
 public:
  CSystemdServiceManager() = default;
  CSystemdServiceManager(const CSystemdServiceManager&) = delete;
  CSystemdServiceManager& operator=(const CSystemdServiceManager&) = delete;

  // Connects to the manager on the system bus, or on the bus at lpBusAddress.
  // ERROR_SUCCESS, or the code of the failure (ERROR_NOT_SUPPORTED: no bus).
  DWORD DoConnect(const char* lpBusAddress);

  // The installed name of the service lpServiceName names (exact, else
  // compared case-insensitively). ERROR_INVALID_NAME for a name no unit can
  // have, ERROR_SERVICE_DOES_NOT_EXIST (1060) for no such service unit.
  DWORD DoFindService(const char* lpServiceName, std::string* pstrServiceName);
  // Display name (the unit's description, else its name) and start mode.
  DWORD DoQueryConfiguration(const std::string& strServiceName, SERVICE_CONFIG* pConfig);
  DWORD DoQueryStatus(const std::string& strServiceName, SERVICE_STATUS* pStatus);
  // Asks the manager to start the unit. ERROR_SERVICE_ALREADY_RUNNING (1056)
  // unless it is stopped, ERROR_SERVICE_DISABLED (1058) when masked,
  // ERROR_ACCESS_DENIED when the manager refuses.
  DWORD DoStartService(const std::string& strServiceName);
  // SERVICE_CONTROL_STOP asks the manager to stop the unit;
  // SERVICE_CONTROL_INTERROGATE only reads the status. ERROR_SERVICE_NOT_ACTIVE
  // (1062) when stopped, ERROR_SERVICE_CANNOT_ACCEPT_CTRL (1061) while pending,
  // ERROR_INVALID_SERVICE_CONTROL (1052) for other controls or a unit that
  // refuses a manual stop. *pStatus gets the status after the control.
  DWORD DoControlService(const std::string& strServiceName, DWORD dwControl, SERVICE_STATUS* pStatus);
  // The loaded service units and the installed service unit files (templates
  // and aliases left out), in name order.
  DWORD DoEnumerateServices(std::vector<SERVICE_LIST_ENTRY>* pServices);

  // The facility's start mode for a unit file state.
  static DWORD GetStartType(const std::string& strUnitFileState);
  // The facility's state for an active state.
  static DWORD GetServiceState(const std::string& strActiveState);
  // True for a name a service unit can have (without its ".service").
  static bool IsValidServiceName(const std::string& strServiceName);

 private:
  struct UNIT_PROPERTIES {
    std::string strLoadState;
    std::string strActiveState;
    std::string strDescription;
    std::string strUnitFileState;
  };
  DWORD LoadUnit(const std::string& strServiceName, std::string* pstrPath);
  DWORD ReadProperties(const std::string& strServiceName, UNIT_PROPERTIES* pProperties);
  DWORD CallJob(const char* lpMethod, const std::string& strServiceName);
  static void FillStatus(const std::string& strActiveState, SERVICE_STATUS* pStatus);

  CBusConnection m_bus;
};

}  // namespace native
}  // namespace kx
