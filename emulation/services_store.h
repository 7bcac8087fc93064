// Internal to the emulated service manager: the files of the service store, its
// lock, and the launch of a service process. Shared by the manager side
// (services_manager.cpp), the launcher and the service side.
#pragma once

#include <map>
#include <string>

#include "emulation/key_value_store.h"
#include "platform/backends_posix.h"
#include "platform/services.h"

namespace kx {
namespace emulation {

// The file name stem of a service: its name in lower case, since names compare
// case-insensitively.
std::string KeyOf(const std::string& strName);
// TRUE for a name that may be a service name here.
bool IsValidName(const char* lpName);
bool IsSingleLine(const std::string& strText);
// Reads a store file (key_value_store.h); false when it cannot be read.
inline bool ReadKeyValues(const std::string& strPath, CKeyValues* pValues) {
  return ReadKeyValueFile(strPath, pValues) == 0;
}
inline DWORD Number(const CKeyValues& values, const char* lpKey, DWORD dwDefault) {
  return static_cast<DWORD>(GetKeyNumber(values, lpKey, dwDefault));
}
// <system root>/services
std::string ServiceDirectory();

// Every read-modify-write of a store file happens under the directory's lock.
typedef CStoreLock CLock;

// The paths of one service's files.
struct CServiceFiles {
  CServiceFiles(const std::string& strDirectory, const std::string& strKey);
  std::string strConfig;  // configuration, written by create/config/delete
  std::string strStatus;  // process id, start time, reported state
  std::string strOutput;  // the service process's standard output and error
};

// The status a service has now, from its configuration, its status file and
// whether the process recorded there still lives (*pbAlive, when given).
SERVICE_STATUS DeriveStatus(const CKeyValues& config, const CKeyValues& status, bool* pbAlive);

// What a service process is started with.
struct CLaunch {
  std::string strCommandLine;
  std::string strServiceName;
  std::string strOutputPath;
};

// Runs the command line in a new session, detached from the caller (no zombie
// is left behind), with KX_SERVICE_NAME and KX_SYSTEM_ROOT set for it. Returns
// once the program image is loaded: ERROR_SUCCESS and its process id, or the
// error that kept it from running (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED...).
DWORD LaunchDetached(const CLaunch& launch, DWORD* pdwProcessId);

// The services kept in the system state directory.
class CServiceEmulation : public CServiceBackend {
 public:
  // services_manager.cpp
  DWORD OpenManager(SC_HANDLE* phManager) override;
  DWORD OpenService(SC_HANDLE hManager, const char* lpServiceName, SC_HANDLE* phService) override;
  DWORD Install(SC_HANDLE hManager, const char* lpServiceName, const SERVICE_CONFIG& config,
                SC_HANDLE* phService) override;
  DWORD Delete(SC_HANDLE hService) override;
  DWORD GetName(SC_HANDLE hService, std::string* pstrName) override;
  DWORD QueryConfiguration(SC_HANDLE hService, SERVICE_CONFIG* pConfig) override;
  DWORD ChangeConfiguration(SC_HANDLE hService, const SERVICE_CONFIG& config) override;
  DWORD QueryStatus(SC_HANDLE hService, SERVICE_STATUS* pStatus) override;
  DWORD Start(SC_HANDLE hService) override;
  DWORD Control(SC_HANDLE hService, DWORD dwControl, SERVICE_STATUS* pStatus) override;
  DWORD Enumerate(SC_HANDLE hManager, std::vector<SERVICE_LIST_ENTRY>* pServices) override;
  // services_side.cpp
  DWORD RunDispatcher(const SERVICE_DISPATCH_ENTRY* lpTable) override;
  DWORD RegisterHandler(const char* lpServiceName, SERVICE_HANDLER_PROC lpHandler,
                        SERVICE_STATUS_HANDLE* phStatus) override;
  DWORD SetStatus(SERVICE_STATUS_HANDLE hStatus, const SERVICE_STATUS* pStatus) override;
};

}  // namespace emulation
}  // namespace kx
