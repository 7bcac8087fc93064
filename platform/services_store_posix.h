// Internal to the POSIX service manager: the files of the service store, its
// lock, and the launch of a service process. Shared by the manager side
// (services_posix.cpp), the launcher and the service side.
#pragma once

#include <map>
#include <string>

#include "platform/key_value_store.h"
#include "platform/services.h"

namespace kx {
namespace service_store {

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

}  // namespace service_store
}  // namespace kx
