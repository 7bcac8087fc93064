// The event logs on Windows: the system's own logs, sources and message
// modules. A message module is a program or DLL with a message table; its
// texts are expanded by the shared FormatMessageText, so an insert beyond the
// strings a record carries is never read.
#include "platform/windows_win.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/program_path.h"
#include "platform/sync.h"

struct kx::CEventLogData {
  HANDLE hLog;
};

struct kx::CEventSourceData {
  HANDLE hSource;
};

struct kx::CMessageModuleData {
  HMODULE hModule;
};

namespace kx {
namespace {

const char kEventLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\";
const char* const kLogOrder[] = {"Application", "Security", "System"};
// The largest record ReportEventLogEntry writes, as the logs allow.
const size_t kMaxRecordBytes = 256 * 1024;

std::string SourceKey(const char* lpLogName, const char* lpSourceName) {
  return std::string(kEventLogKey) + lpLogName + "\\" + lpSourceName;
}

}  // namespace

DWORD OpenEventLogByName(const char* lpLogName, HEVENTLOG* phLog) {
  *phLog = nullptr;
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr) return ERROR_FILE_NOT_FOUND;
  HANDLE hLog = ::OpenEventLogA(nullptr, lpLog);
  if (hLog == nullptr) return ::GetLastError();
  *phLog = new (std::nothrow) CEventLogData{hLog};
  if (*phLog == nullptr) {
    ::CloseEventLog(hLog);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

void CloseEventLogHandle(HEVENTLOG hLog) {
  if (hLog == nullptr) return;
  ::CloseEventLog(hLog->hLog);
  delete hLog;
}

DWORD GetNumberOfEventLogRecords(HEVENTLOG hLog, DWORD* pdwCount) {
  *pdwCount = 0;
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  return ::GetNumberOfEventLogRecords(hLog->hLog, pdwCount) ? ERROR_SUCCESS : ::GetLastError();
}

DWORD GetOldestEventLogRecord(HEVENTLOG hLog, DWORD* pdwOldestRecord) {
  *pdwOldestRecord = 0;
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  return ::GetOldestEventLogRecord(hLog->hLog, pdwOldestRecord) ? ERROR_SUCCESS : ::GetLastError();
}

DWORD ReadEventLogRecord(HEVENTLOG hLog, DWORD dwRecordNumber, void* lpBuffer, DWORD nBufferSize,
                         DWORD* pdwBytesRead, DWORD* pdwBytesNeeded) {
  *pdwBytesRead = 0;
  *pdwBytesNeeded = 0;
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  // The record layout is the system's own EVENTLOGRECORD.
  static_assert(sizeof(EVENTLOGRECORD) == sizeof(::EVENTLOGRECORD), "record layouts differ");
  if (!::ReadEventLogA(hLog->hLog, EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ, dwRecordNumber, lpBuffer,
                       nBufferSize, pdwBytesRead, pdwBytesNeeded)) {
    DWORD dwError = ::GetLastError();
    return dwError == ERROR_HANDLE_EOF ? ERROR_INVALID_PARAMETER : dwError;
  }
  return ERROR_SUCCESS;
}

DWORD ClearEventLogRecords(HEVENTLOG hLog) {
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  return ::ClearEventLogA(hLog->hLog, nullptr) ? ERROR_SUCCESS : ::GetLastError();
}

// Windows limits a log by size and retention, not by a record count.
DWORD SetEventLogMaxRecords(HEVENTLOG hLog, DWORD /*dwMaxRecords*/) {
  return hLog == nullptr ? ERROR_INVALID_HANDLE : ERROR_NOT_SUPPORTED;
}

DWORD GetEventLogMaxRecords(HEVENTLOG hLog, DWORD* pdwMaxRecords) {
  *pdwMaxRecords = 0;
  return hLog == nullptr ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
}

void EventTimeToLocalTime(DWORD dwTime, SYSTEMTIME* lpTime) {
  UnixTimeToLocalTime(static_cast<long long>(dwTime), lpTime);
}

DWORD RegisterEventLogSource(const char* lpSourceName, HEVENTSOURCE* phSource) {
  *phSource = nullptr;
  if (!IsValidEventSourceName(lpSourceName)) return ERROR_INVALID_NAME;
  HANDLE hSource = ::RegisterEventSourceA(nullptr, lpSourceName);
  if (hSource == nullptr) return ::GetLastError();
  *phSource = new (std::nothrow) CEventSourceData{hSource};
  if (*phSource == nullptr) {
    ::DeregisterEventSource(hSource);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

DWORD ReportEventLogEntry(HEVENTSOURCE hSource, WORD wType, WORD wCategory, DWORD dwEventID,
                          WORD wNumStrings, const char** lpStrings) {
  if (hSource == nullptr) return ERROR_INVALID_HANDLE;
  std::vector<const char*> strings(wNumStrings);
  size_t cbTotal = sizeof(::EVENTLOGRECORD);
  for (WORD i = 0; i < wNumStrings; ++i) {
    strings[i] = (lpStrings != nullptr && lpStrings[i] != nullptr) ? lpStrings[i] : "";
    cbTotal += std::string(strings[i]).size() + 1;
  }
  if (cbTotal > kMaxRecordBytes) return ERROR_INVALID_PARAMETER;
  if (!::ReportEventA(hSource->hSource, wType, wCategory, dwEventID, nullptr, wNumStrings, 0,
                      strings.empty() ? nullptr : strings.data(), nullptr)) {
    return ::GetLastError();
  }
  return ERROR_SUCCESS;
}

void DeregisterEventLogSource(HEVENTSOURCE hSource) {
  if (hSource == nullptr) return;
  ::DeregisterEventSource(hSource->hSource);
  delete hSource;
}

DWORD InstallEventSource(const char* lpLogName, const char* lpSourceName, const char* lpEventMessageFile) {
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr) return ERROR_FILE_NOT_FOUND;
  if (!IsValidEventSourceName(lpSourceName)) return ERROR_INVALID_NAME;
  HKEY hKey = nullptr;
  LONG lError = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, SourceKey(lpLog, lpSourceName).c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &hKey, nullptr);
  if (lError != ERROR_SUCCESS) return static_cast<DWORD>(lError);
  if (lpEventMessageFile != nullptr) {
    DWORD dwTypes = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    lError = ::RegSetValueExA(hKey, "EventMessageFile", 0, REG_EXPAND_SZ,
                              reinterpret_cast<const BYTE*>(lpEventMessageFile),
                              static_cast<DWORD>(std::string(lpEventMessageFile).size() + 1));
    if (lError == ERROR_SUCCESS) {
      lError = ::RegSetValueExA(hKey, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwTypes),
                                sizeof(dwTypes));
    }
  }
  ::RegCloseKey(hKey);
  return static_cast<DWORD>(lError);
}

DWORD FindEventSourceLog(const char* lpSourceName, std::string* pstrLogName) {
  if (!IsValidEventSourceName(lpSourceName)) return ERROR_FILE_NOT_FOUND;
  for (const char* lpLog : kLogOrder) {
    HKEY hKey = nullptr;
    // The registry compares key names without case.
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SourceKey(lpLog, lpSourceName).c_str(), 0, KEY_QUERY_VALUE, &hKey) ==
        ERROR_SUCCESS) {
      ::RegCloseKey(hKey);
      *pstrLogName = lpLog;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

DWORD QueryEventSourceValue(const char* lpLogName, const char* lpSourceName, const char* lpValueName,
                            std::string* pstrValue) {
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr || !IsValidEventSourceName(lpSourceName)) return ERROR_FILE_NOT_FOUND;
  HKEY hKey = nullptr;
  LONG lError = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SourceKey(lpLog, lpSourceName).c_str(), 0, KEY_QUERY_VALUE,
                                &hKey);
  if (lError != ERROR_SUCCESS) return static_cast<DWORD>(lError);
  DWORD dwType = 0;
  DWORD dwSize = 0;
  lError = ::RegQueryValueExA(hKey, lpValueName, nullptr, &dwType, nullptr, &dwSize);
  std::vector<char> value(dwSize + 1, '\0');
  if (lError == ERROR_SUCCESS) {
    lError = ::RegQueryValueExA(hKey, lpValueName, nullptr, &dwType, reinterpret_cast<BYTE*>(value.data()), &dwSize);
  }
  ::RegCloseKey(hKey);
  if (lError != ERROR_SUCCESS) return static_cast<DWORD>(lError);
  if (dwType == REG_DWORD && dwSize == sizeof(DWORD)) {
    DWORD dwValue = 0;
    std::memcpy(&dwValue, value.data(), sizeof(dwValue));
    *pstrValue = std::to_string(dwValue);
  } else {
    pstrValue->assign(value.data());
  }
  return ERROR_SUCCESS;
}

std::string GetMessageFileForCatalogue(const std::string& /*strCataloguePath*/) {
  return GetProgramPath();
}

DWORD LoadMessageModule(const char* lpPath, HMESSAGEMODULE* phModule) {
  *phModule = nullptr;
  if (lpPath == nullptr) return ERROR_INVALID_PARAMETER;
  std::string strPath = ExpandEnvironmentText(lpPath);
  HMODULE hModule = ::LoadLibraryExA(strPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (hModule == nullptr) return ::GetLastError();
  *phModule = new (std::nothrow) CMessageModuleData{hModule};
  if (*phModule == nullptr) {
    ::FreeLibrary(hModule);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

void FreeMessageModule(HMESSAGEMODULE hModule) {
  if (hModule == nullptr) return;
  ::FreeLibrary(hModule->hModule);
  delete hModule;
}

DWORD FormatModuleMessage(HMESSAGEMODULE hModule, DWORD dwMessageID, const char* const* lpArguments,
                          DWORD dwArgumentCount, std::string* pstrText) {
  pstrText->clear();
  if (hModule == nullptr) return ERROR_INVALID_HANDLE;
  char* lpTemplate = nullptr;
  DWORD dwLength = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      hModule->hModule, dwMessageID, 0, reinterpret_cast<char*>(&lpTemplate), 0, nullptr);
  if (dwLength == 0) return ::GetLastError();
  // Message tables may end their lines in LF alone; the texts end them in CR LF.
  std::string strTemplate;
  for (DWORD i = 0; i < dwLength; ++i) {
    if (lpTemplate[i] == '\n' && (i == 0 || lpTemplate[i - 1] != '\r')) strTemplate += '\r';
    strTemplate += lpTemplate[i];
  }
  ::LocalFree(lpTemplate);
  *pstrText = FormatMessageText(strTemplate, lpArguments, dwArgumentCount);
  return ERROR_SUCCESS;
}

// Change notification: one event per watched log, set by the system when the
// log changes, and one for Wake.
struct CEventLogChangeWaiter::Impl {
  std::vector<HANDLE> vecLogs;
  std::vector<HANDLE> vecEvents;  // [0] is Wake's
  // The change-mask bit of each watched log (events [1..]): a log that could
  // not be watched keeps its bit, so the logs after it keep theirs.
  std::vector<DWORD> vecBits;
  DWORD dwLogsAdded = 0;
  ~Impl() {
    for (HANDLE hLog : vecLogs) ::CloseEventLog(hLog);
    for (HANDLE hEvent : vecEvents) CloseKernelHandle(hEvent);
  }
};

CEventLogChangeWaiter::CEventLogChangeWaiter() : m_pImpl(new Impl()) {
  m_pImpl->vecEvents.push_back(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

CEventLogChangeWaiter::~CEventLogChangeWaiter() { delete m_pImpl; }

DWORD CEventLogChangeWaiter::AddLog(const char* lpLogName) {
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr) return ERROR_FILE_NOT_FOUND;
  DWORD dwBit = m_pImpl->dwLogsAdded++;
  if (m_pImpl->vecLogs.size() >= MAXIMUM_WAIT_OBJECTS - 1 || dwBit >= 32) return ERROR_NOT_ENOUGH_MEMORY;
  HANDLE hLog = ::OpenEventLogA(nullptr, lpLog);
  if (hLog == nullptr) return ::GetLastError();
  HANDLE hEvent = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (hEvent == nullptr || !::NotifyChangeEventLog(hLog, hEvent)) {
    DWORD dwError = ::GetLastError();
    CloseKernelHandle(hEvent);
    ::CloseEventLog(hLog);
    return dwError;
  }
  m_pImpl->vecLogs.push_back(hLog);
  m_pImpl->vecEvents.push_back(hEvent);
  m_pImpl->vecBits.push_back(1u << dwBit);
  return ERROR_SUCCESS;
}

DWORD CEventLogChangeWaiter::Wait(DWORD dwMilliseconds, DWORD* pdwChangedMask) {
  *pdwChangedMask = 0;
  const std::vector<HANDLE>& events = m_pImpl->vecEvents;
  DWORD dwResult = ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, dwMilliseconds);
  if (dwResult == WAIT_OBJECT_0) return WAIT_IO_COMPLETION;
  if (dwResult == WAIT_TIMEOUT || dwResult == WAIT_FAILED) return WAIT_TIMEOUT;
  // Collect every log that changed, not only the first one signalled.
  *pdwChangedMask |= m_pImpl->vecBits[dwResult - WAIT_OBJECT_0 - 1];
  for (size_t i = 1; i < events.size(); ++i) {
    if (::WaitForSingleObject(events[i], 0) == WAIT_OBJECT_0) *pdwChangedMask |= m_pImpl->vecBits[i - 1];
  }
  return WAIT_OBJECT_0;
}

void CEventLogChangeWaiter::Wake() { ::SetEvent(m_pImpl->vecEvents[0]); }

}  // namespace kx
