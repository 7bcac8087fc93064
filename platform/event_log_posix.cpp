// The event logs on POSIX: the checks every backend shares, then the backend
// (backends_posix.h). Message catalogues are read in event_log_catalogue_posix.cpp.
#include <cstring>

#include "platform/backends_posix.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"

namespace kx {

DWORD OpenEventLogByName(const char* lpLogName, HEVENTLOG* phLog) {
  if (phLog == nullptr) return ERROR_INVALID_PARAMETER;
  *phLog = nullptr;
  const char* lpName = GetCanonicalEventLogName(lpLogName);
  if (lpName == nullptr) return ERROR_FILE_NOT_FOUND;
  return GetEventLogBackend().OpenLog(lpName, phLog);
}

void CloseEventLogHandle(HEVENTLOG hLog) { delete hLog; }

DWORD GetNumberOfEventLogRecords(HEVENTLOG hLog, DWORD* pdwCount) {
  if (pdwCount == nullptr) return ERROR_INVALID_PARAMETER;
  *pdwCount = 0;
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  return GetEventLogBackend().GetRecordCount(hLog, pdwCount);
}

DWORD GetOldestEventLogRecord(HEVENTLOG hLog, DWORD* pdwOldestRecord) {
  if (pdwOldestRecord == nullptr) return ERROR_INVALID_PARAMETER;
  *pdwOldestRecord = 0;
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  return GetEventLogBackend().GetOldestRecord(hLog, pdwOldestRecord);
}

DWORD ReadEventLogRecord(HEVENTLOG hLog, DWORD dwRecordNumber, void* lpBuffer, DWORD nBufferSize,
                         DWORD* pdwBytesRead, DWORD* pdwBytesNeeded) {
  if (pdwBytesRead != nullptr) *pdwBytesRead = 0;
  if (pdwBytesNeeded != nullptr) *pdwBytesNeeded = 0;
  if (lpBuffer == nullptr && nBufferSize != 0) return ERROR_INVALID_PARAMETER;
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  return GetEventLogBackend().ReadRecord(hLog, dwRecordNumber, lpBuffer, nBufferSize, pdwBytesRead,
                                         pdwBytesNeeded);
}

DWORD ClearEventLogRecords(HEVENTLOG hLog) {
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  return GetEventLogBackend().ClearLog(hLog);
}

DWORD SetEventLogMaxRecords(HEVENTLOG hLog, DWORD dwMaxRecords) {
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  return GetEventLogBackend().SetMaxRecords(hLog, dwMaxRecords);
}

DWORD GetEventLogMaxRecords(HEVENTLOG hLog, DWORD* pdwMaxRecords) {
  if (pdwMaxRecords == nullptr) return ERROR_INVALID_PARAMETER;
  *pdwMaxRecords = 0;
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  return GetEventLogBackend().GetMaxRecords(hLog, pdwMaxRecords);
}

void EventTimeToLocalTime(DWORD dwTime, SYSTEMTIME* lpTime) {
  if (lpTime != nullptr) UnixTimeToLocalTime(static_cast<long long>(dwTime), lpTime);
}

DWORD RegisterEventLogSource(const char* lpSourceName, HEVENTSOURCE* phSource) {
  if (phSource != nullptr) *phSource = nullptr;
  if (lpSourceName == nullptr || phSource == nullptr) return ERROR_INVALID_PARAMETER;
  if (!IsValidEventSourceName(lpSourceName)) return ERROR_INVALID_NAME;
  return GetEventLogBackend().OpenSource(lpSourceName, phSource);
}

DWORD ReportEventLogEntry(HEVENTSOURCE hSource, WORD wType, WORD wCategory, DWORD dwEventID,
                          WORD wNumStrings, const char** lpStrings) {
  if (hSource == nullptr) return ERROR_INVALID_HANDLE;
  if (wNumStrings > 0 && lpStrings == nullptr) return ERROR_INVALID_PARAMETER;
  return GetEventLogBackend().ReportEntry(hSource, wType, wCategory, dwEventID, wNumStrings, lpStrings);
}

void DeregisterEventLogSource(HEVENTSOURCE hSource) { delete hSource; }

DWORD InstallEventSource(const char* lpLogName, const char* lpSourceName,
                         const char* lpEventMessageFile) {
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr) return ERROR_FILE_NOT_FOUND;
  if (!IsValidEventSourceName(lpSourceName)) return ERROR_INVALID_NAME;
  if (lpEventMessageFile != nullptr && std::strpbrk(lpEventMessageFile, "\r\n") != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  return GetEventLogBackend().InstallSource(lpLog, lpSourceName, lpEventMessageFile);
}

DWORD FindEventSourceLog(const char* lpSourceName, std::string* pstrLogName) {
  if (pstrLogName != nullptr) pstrLogName->clear();
  if (!IsValidEventSourceName(lpSourceName)) return ERROR_FILE_NOT_FOUND;
  std::string strLog;
  DWORD dwError = GetEventLogBackend().FindSourceLog(lpSourceName, &strLog);
  if (dwError == ERROR_SUCCESS && pstrLogName != nullptr) *pstrLogName = strLog;
  return dwError;
}

DWORD QueryEventSourceValue(const char* lpLogName, const char* lpSourceName,
                            const char* lpValueName, std::string* pstrValue) {
  if (pstrValue == nullptr || lpValueName == nullptr) return ERROR_INVALID_PARAMETER;
  pstrValue->clear();
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr || !IsValidEventSourceName(lpSourceName)) return ERROR_FILE_NOT_FOUND;
  return GetEventLogBackend().QuerySourceValue(lpLog, lpSourceName, lpValueName, pstrValue);
}

CEventLogChangeWaiter::CEventLogChangeWaiter() : m_pImpl(GetEventLogBackend().CreateChangeWaiter()) {}

CEventLogChangeWaiter::~CEventLogChangeWaiter() { delete m_pImpl; }

DWORD CEventLogChangeWaiter::AddLog(const char* lpLogName) {
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr) return ERROR_FILE_NOT_FOUND;
  return m_pImpl->AddLog(lpLog);
}

DWORD CEventLogChangeWaiter::Wait(DWORD dwMilliseconds, DWORD* pdwChangedMask) {
  if (pdwChangedMask != nullptr) *pdwChangedMask = 0;
  return m_pImpl->Wait(dwMilliseconds, pdwChangedMask);
}

void CEventLogChangeWaiter::Wake() { m_pImpl->Wake(); }

}  // namespace kx
