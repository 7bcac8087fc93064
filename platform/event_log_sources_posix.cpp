// Event-source registrations, emulated in the system state directory: one
// store file (key_value_store.h) per source,
//   <root>/eventlog/sources/<Log>/<Source>
// holding its named values, changed under the lock of <root>/eventlog/sources.
#include <dirent.h>
#include <strings.h>

#include <cstring>

#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/event_log_posix.h"
#include "platform/key_value_store.h"
#include "platform/posix_error.h"
#include "platform/system_root.h"
#include "platform/text_encoding.h"

namespace kx {

namespace event_log {

// Like a registry key name it may hold control characters: whoever shows one
// masks them.
bool IsValidSourceName(const char* lpName) {
  if (lpName == nullptr || lpName[0] == '\0') return false;
  if (std::strcmp(lpName, ".") == 0 || std::strcmp(lpName, "..") == 0) return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(lpName); *p != '\0'; ++p) {
    bool bLead = (*p >= 0x81 && *p <= 0x9F) || (*p >= 0xE0 && *p <= 0xFC);
    // Only a real trail byte (0x40-0x7E, 0x80-0xFC) belongs to the lead byte;
    // it may be 0x5C and is no separator then. '/' or a control character is never one.
    bool bTrail = (p[1] >= 0x40 && p[1] <= 0x7E) || (p[1] >= 0x80 && p[1] <= 0xFC);
    if (bLead && bTrail) {
      ++p;
      continue;
    }
    if (*p == '/' || *p == '\\') return false;
  }
  return true;
}

}  // namespace event_log

using namespace event_log;

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

DWORD InstallEventSource(const char* lpLogName, const char* lpSourceName,
                         const char* lpEventMessageFile) {
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr) return ERROR_FILE_NOT_FOUND;
  if (!IsValidSourceName(lpSourceName)) return ERROR_INVALID_NAME;
  if (lpEventMessageFile != nullptr && std::strpbrk(lpEventMessageFile, "\r\n") != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
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

DWORD FindEventSourceLog(const char* lpSourceName, std::string* pstrLogName) {
  if (pstrLogName != nullptr) pstrLogName->clear();
  if (!IsValidSourceName(lpSourceName)) return ERROR_FILE_NOT_FOUND;
  for (const char* lpLog : {"Application", "Security", "System"}) {
    if (!FindSourceFile(lpLog, lpSourceName).empty()) {
      if (pstrLogName != nullptr) *pstrLogName = lpLog;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

DWORD QueryEventSourceValue(const char* lpLogName, const char* lpSourceName,
                            const char* lpValueName, std::string* pstrValue) {
  if (pstrValue == nullptr || lpValueName == nullptr) return ERROR_INVALID_PARAMETER;
  pstrValue->clear();
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr || !IsValidSourceName(lpSourceName)) return ERROR_FILE_NOT_FOUND;
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

}  // namespace kx
