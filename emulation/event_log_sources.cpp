// Event-source registrations, emulated in the system state directory: one
// store file (key_value_store.h) per source,
//   <root>/eventlog/sources/<Log>/<Source>
// holding its named values, changed under the lock of <root>/eventlog/sources.
#include <dirent.h>
#include <strings.h>

#include <cstring>

#include "emulation/event_log_store.h"
#include "emulation/key_value_store.h"
#include "emulation/system_root.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/posix_error.h"
#include "platform/text_encoding.h"

namespace kx {

namespace emulation {

namespace {

std::string SourcesRoot() { return EventLogDir() + "/sources"; }

std::string SourcesDir(const char* lpLogName) { return SourcesRoot() + "/" + lpLogName; }

// The file of a registration, found case-insensitively; empty when none.
std::string FindSourceFile(const char* lpLogName, const char* lpSourceName) {
  std::string strDir = SourcesDir(lpLogName);
  std::string strWanted = Cp932ToUtf8(lpSourceName);
  DIR* pDir = opendir(strDir.c_str());
  if (pDir == nullptr) return std::string();
  std::string strFound;
  while (struct dirent* pEntry = readdir(pDir)) {
    if (strcasecmp(pEntry->d_name, strWanted.c_str()) == 0) {
      strFound = strDir + "/" + pEntry->d_name;
      break;
    }
  }
  closedir(pDir);
  return strFound;
}

// The entry of a value, its name compared case-insensitively as registry value names are.
CKeyValues::iterator FindValue(CKeyValues* pValues, const char* lpValueName) {
  for (CKeyValues::iterator it = pValues->begin(); it != pValues->end(); ++it) {
    if (strcasecmp(it->first.c_str(), lpValueName) == 0) return it;
  }
  return pValues->end();
}

}  // namespace

DWORD CEventLogEmulation::InstallSource(const char* lpLog, const char* lpSourceName,
                                        const char* lpEventMessageFile) {
  std::string strDir = SourcesDir(lpLog);
  DWORD dwError = EnsureDirectory(strDir);
  if (dwError != ERROR_SUCCESS) return dwError;
  CStoreLock lock(SourcesRoot());
  if (!lock.IsHeld()) return ErrnoToWinError(lock.GetErrno());
  std::string strPath = FindSourceFile(lpLog, lpSourceName);
  CKeyValues values;
  if (strPath.empty()) {
    strPath = strDir + "/" + Cp932ToUtf8(lpSourceName);
  } else {
    ReadKeyValueFile(strPath, &values);
  }
  if (lpEventMessageFile != nullptr) {
    CKeyValues::iterator it = FindValue(&values, "EventMessageFile");
    if (it != values.end()) {
      it->second = lpEventMessageFile;
    } else {
      values["EventMessageFile"] = lpEventMessageFile;
    }
  }
  return WriteKeyValueFile(strPath, values);
}

DWORD CEventLogEmulation::FindSourceLog(const char* lpSourceName, std::string* pstrLogName) {
  for (const char* lpLog : {"Application", "Security", "System"}) {
    if (!FindSourceFile(lpLog, lpSourceName).empty()) {
      *pstrLogName = lpLog;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

DWORD CEventLogEmulation::QuerySourceValue(const char* lpLog, const char* lpSourceName,
                                           const char* lpValueName, std::string* pstrValue) {
  std::string strPath = FindSourceFile(lpLog, lpSourceName);
  if (strPath.empty()) return ERROR_FILE_NOT_FOUND;
  CKeyValues values;
  DWORD dwError = ReadKeyValueFile(strPath, &values);
  if (dwError != ERROR_SUCCESS) return dwError;
  CKeyValues::iterator it = FindValue(&values, lpValueName);
  if (it == values.end()) return ERROR_FILE_NOT_FOUND;
  *pstrValue = it->second;
  return ERROR_SUCCESS;
}

}  // namespace emulation
}  // namespace kx
