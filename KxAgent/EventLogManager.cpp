#include "EventLogManager.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/sync.h"
#include "platform/text_encoding.h"

namespace {

const char* const kLogNames[] = {"Application", "Security", "System"};
const size_t kMessageTextSize = 5000;
const size_t kMessageFileListSize = 1000;
const size_t kLineSize = 1024;  // formatted line with its terminating NUL
const DWORD kWatchIntervalMs = 1000;

}  // namespace

CEventLogManager::CEventLogManager(kx::CClock& clock)
    : m_watcher(),
      m_nWatching(0),
      m_nSuspended(1),
      m_pListener(nullptr),
      m_pWaiter(nullptr),
      m_clock(clock),
      m_dwRoundStart(0),
      m_nRounds(0) {
  for (int i = 0; i < kLogCount; ++i) {
    m_hLogs[i] = nullptr;
    m_dwLastReported[i] = kNoRecord;
    m_qwLastReportedStamp[i] = 0;
  }
}

CEventLogManager::~CEventLogManager() { CloseLogs(); }

void CEventLogManager::SetListener(CEventLogListener* pListener) { m_pListener = pListener; }

int CEventLogManager::OpenLogs() {
  for (int i = 0; i < kLogCount; ++i) {
    if (m_hLogs[i] == nullptr) kx::OpenEventLogByName(kLogNames[i], &m_hLogs[i]);
  }
  return 1;
}

int CEventLogManager::CloseLogs() {
  if (m_watcher.joinable()) StopWatch();
  for (int i = 0; i < kLogCount; ++i) {
    kx::CloseEventLogHandle(m_hLogs[i]);
    m_hLogs[i] = nullptr;
  }
  return 1;
}

int CEventLogManager::FindLog(const char* lpLogName) const {
  const char* lpCanonical = kx::GetCanonicalEventLogName(lpLogName);
  for (int i = 0; lpCanonical != nullptr && i < kLogCount; ++i) {
    if (std::strcmp(lpCanonical, kLogNames[i]) == 0) return i;
  }
  return -1;
}

DWORD CEventLogManager::GetRecordCount(const char* lpLogName) {
  int nLog = FindLog(lpLogName);
  if (nLog < 0) return 0;
  DWORD dwCount = 0;
  if (kx::GetNumberOfEventLogRecords(m_hLogs[nLog], &dwCount) != ERROR_SUCCESS) return 0;
  return dwCount;
}

DWORD CEventLogManager::GetNewestRecordOf(int nLog) {
  DWORD dwOldest = 0;
  DWORD dwCount = 0;
  if (kx::GetOldestEventLogRecord(m_hLogs[nLog], &dwOldest) != ERROR_SUCCESS) dwOldest = 0;
  if (kx::GetNumberOfEventLogRecords(m_hLogs[nLog], &dwCount) != ERROR_SUCCESS) dwCount = 0;
  return dwOldest + dwCount - 1;
}

DWORD CEventLogManager::GetOldestRecordOf(int nLog) {
  DWORD dwOldest = 0;
  if (kx::GetOldestEventLogRecord(m_hLogs[nLog], &dwOldest) != ERROR_SUCCESS) dwOldest = 0;
  return dwOldest;
}

bool CEventLogManager::ReadRecord(int nLog, DWORD dwRecordNo, std::vector<BYTE>* pRecord) {
  // Ask for the size first, then read into a buffer of exactly that size.
  BYTE probe[1];
  DWORD dwRead = 0;
  DWORD dwNeeded = 0;
  DWORD dwError = kx::ReadEventLogRecord(m_hLogs[nLog], dwRecordNo, probe, sizeof(probe), &dwRead, &dwNeeded);
  if (dwError != ERROR_INSUFFICIENT_BUFFER || dwNeeded < sizeof(kx::EVENTLOGRECORD)) return false;
  pRecord->assign(dwNeeded, 0);
  if (kx::ReadEventLogRecord(m_hLogs[nLog], dwRecordNo, pRecord->data(), dwNeeded, &dwRead, &dwNeeded) !=
          ERROR_SUCCESS ||
      dwRead < sizeof(kx::EVENTLOGRECORD)) {
    return false;
  }
  pRecord->resize(dwRead);
  return true;
}

std::uint64_t CEventLogManager::GetRecordStamp(int nLog, DWORD dwRecordNo) {
  std::vector<BYTE> record;
  if (!ReadRecord(nLog, dwRecordNo, &record)) return 0;
  std::uint64_t qwHash = 14695981039346656037ull;  // FNV-1a
  for (BYTE b : record) qwHash = (qwHash ^ b) * 1099511628211ull;
  return qwHash != 0 ? qwHash : 1;
}

DWORD CEventLogManager::GetNewestRecordNumber(const char* lpLogName) {
  int nLog = FindLog(lpLogName);
  // An unknown log reads like one that could not be opened: oldest 0, count 0.
  if (nLog < 0) return kNoRecord;
  return GetNewestRecordOf(nLog);
}

const char* CEventLogManager::GetEventTypeName(WORD wEventType) {
  switch (wEventType) {
    case EVENTLOG_SUCCESS:
      return "SUCCESS";
    case EVENTLOG_ERROR_TYPE:
      return "ERROR";
    case EVENTLOG_WARNING_TYPE:
      return "WARNING";
    case EVENTLOG_INFORMATION_TYPE:
      return "INFO";
    case EVENTLOG_AUDIT_SUCCESS:
      return "AUDIT_SUCCESS";
    case EVENTLOG_AUDIT_FAILURE:
      return "AUDIT_FAILURE";
    default:
      return "UNKNOWN";
  }
}

void CEventLogManager::CleanMessageText(char* lpText) {
  char* lpOut = lpText;
  for (const char* p = lpText; *p != '\0';) {
    // A lead byte without a trail byte after it (cut off at the end, or a
    // writer's stray byte) stands alone, so a line break after it still goes.
    if (kx::IsCp932LeadByte(static_cast<unsigned char>(p[0])) &&
        kx::IsCp932TrailByte(static_cast<unsigned char>(p[1]))) {
      *lpOut++ = *p++;
      *lpOut++ = *p++;
      continue;
    }
    if (*p == '\r' || *p == '\n') {
      ++p;
      continue;
    }
    *lpOut++ = (*p == '\t') ? ' ' : *p;
    ++p;
  }
  *lpOut = '\0';
}

int CEventLogManager::ResolveMessage(const char* lpLogName, const char* lpSourceName,
                                     const char* const* lpStrings, DWORD dwNumStrings, DWORD dwEventID,
                                     char* lpOutput) {
  std::memset(lpOutput, 0, kMessageTextSize);
  std::string strFileList;
  bool bListRead = false;
  if (dwEventID != 0 &&
      kx::QueryEventSourceValue(lpLogName, lpSourceName, "EventMessageFile", &strFileList) == ERROR_SUCCESS) {
    strFileList = kx::CutCp932(strFileList, kMessageFileListSize - 1);
    strFileList = kx::ExpandEnvironmentText(strFileList.c_str());
    strFileList = kx::CutCp932(strFileList, kMessageFileListSize - 1);
    bListRead = true;
  }
  if (bListRead) {
    size_t nStart = 0;
    for (;;) {
      size_t nEnd = strFileList.find(';', nStart);
      std::string strPath = strFileList.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
      kx::HMESSAGEMODULE hModule = nullptr;
      // A catalogue that cannot be loaded ends the search: the paths after it
      // are not consulted.
      if (kx::LoadMessageModule(strPath.c_str(), &hModule) != ERROR_SUCCESS) return 0;
      std::string strText;
      DWORD dwError = kx::FormatModuleMessage(hModule, dwEventID, lpStrings, dwNumStrings, &strText);
      kx::FreeMessageModule(hModule);
      if (dwError == ERROR_SUCCESS) {
        strText = kx::CutCp932(strText, kMessageTextSize - 1);
        std::memcpy(lpOutput, strText.data(), strText.size());
        CleanMessageText(lpOutput);
        return 1;
      }
      if (nEnd == std::string::npos) return 0;
      nStart = nEnd + 1;
    }
  }
  if (dwNumStrings > 0 && lpStrings[0] != nullptr) {
    std::string strText = lpStrings[0];
    strText = kx::CutCp932(strText, kMessageTextSize - 1);
    std::memcpy(lpOutput, strText.data(), strText.size());
    CleanMessageText(lpOutput);
  }
  return 1;
}

int CEventLogManager::GetEventLogMessage(const char* lpLogName, DWORD dwRecordNo, char* lpBuffer,
                                         int bNotifyFormat) {
  int nLog = FindLog(lpLogName);
  if (nLog < 0 || lpBuffer == nullptr) return 0;
  std::vector<BYTE> record;
  if (!ReadRecord(nLog, dwRecordNo, &record)) return 0;
  // The layer checked the record; it is parsed here all the same so that no
  // text is ever read past the bytes that were read.
  kx::EVENTLOGRECORD_TEXTS texts;
  if (!kx::ParseEventLogRecord(record.data(), static_cast<DWORD>(record.size()), &texts)) return 0;
  kx::EVENTLOGRECORD header;
  std::memcpy(&header, record.data(), sizeof(header));
  const char* lpSourceName = texts.lpSourceName;
  std::vector<const char*> strings = texts.vecStrings;
  if (strings.empty()) strings.push_back(nullptr);

  std::vector<char> message(kMessageTextSize);
  if (!ResolveMessage(lpLogName, lpSourceName, strings.data(), header.NumStrings, header.EventID,
                      message.data())) {
    std::snprintf(message.data(), message.size(), "## An event message cannot be displayed. (EID:%08X) ##",
                  static_cast<unsigned int>(header.EventID));
  }

  kx::SYSTEMTIME time;
  kx::EventTimeToLocalTime(header.TimeGenerated, &time);
  long lEventCode = static_cast<long>(header.EventID & 0xFFFF);
  const char* lpTypeName = GetEventTypeName(header.EventType);
  int nLength;
  if (bNotifyFormat == 0) {
    nLength = std::snprintf(lpBuffer, kLineSize, "[%05ld] %d-%02d-%02d %02d:%02d:%02d [%s] (%s:%ld) %s",
                            static_cast<long>(dwRecordNo), time.wYear, time.wMonth, time.wDay, time.wHour,
                            time.wMinute, time.wSecond, lpTypeName, lpSourceName, lEventCode, message.data());
  } else {
    nLength = std::snprintf(lpBuffer, kLineSize, "* %d-%02d-%02d %02d:%02d:%02d [%s:%s] (%s:%ld) %s",
                            time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond,
                            lpLogName, lpTypeName, lpSourceName, lEventCode, message.data());
  }
  if (nLength >= static_cast<int>(kLineSize)) {
    // Cut where a character ends, not between the two bytes of one.
    std::string strLine(lpBuffer);
    strLine = kx::CutCp932(strLine, kLineSize - 1);
    std::memcpy(lpBuffer, strLine.c_str(), strLine.size() + 1);
  }
  // Any program may write a record: what is left of its control characters
  // after cleaning must not reach the terminal as such.
  kx::MaskControlCharacters(lpBuffer);
  return 1;
}

int CEventLogManager::StartWatch() {
  // A watcher asked to stop from its own thread is still winding down.
  if (m_watcher.joinable() && m_nWatching.load()) return 1;
  if (m_watcher.joinable()) StopWatch();
  m_nWatching = 1;
  m_nSuspended = 0;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    for (int i = 0; i < kLogCount; ++i) {
      m_dwLastReported[i] = GetNewestRecordOf(i);
      m_qwLastReportedStamp[i] = GetRecordStamp(i, m_dwLastReported[i]);
    }
  }
  // Taken here rather than on the thread, so that time that passes once
  // StartWatch returns counts towards the first round.
  m_dwRoundStart = m_clock.GetTickCount();
  m_pWaiter = new kx::CEventLogChangeWaiter();
  for (int i = 0; i < kLogCount; ++i) {
    // Without a change watch the watcher still finds new records once a second.
    m_pWaiter->AddLog(kLogNames[i]);
  }
  try {
    m_watcher = std::thread(&CEventLogManager::WatchThread, this);
  } catch (...) {
    delete m_pWaiter;
    m_pWaiter = nullptr;
    m_nWatching = 0;
    return 0;
  }
  return 1;
}

int CEventLogManager::StopWatch() {
  if (!m_watcher.joinable()) return 0;
  m_nWatching = 0;
  // The listener runs on the watcher thread; it cannot wait for itself.
  if (std::this_thread::get_id() == m_watcher.get_id()) return 0;
  m_pWaiter->Wake();
  m_watcher.join();
  delete m_pWaiter;
  m_pWaiter = nullptr;
  return 1;
}

void CEventLogManager::WatchThread() {
  while (m_nWatching.load()) {
    DWORD dwElapsed = m_clock.GetTickCount() - m_dwRoundStart;
    DWORD dwRemaining = dwElapsed >= kWatchIntervalMs ? 0 : kWatchIntervalMs - dwElapsed;
    DWORD dwChanged = 0;
    // The change wait is the system's: the clock says how much of the rest it may take.
    DWORD dwResult =
        dwRemaining == 0 ? WAIT_TIMEOUT : m_pWaiter->Wait(m_clock.LimitOutsideWait(dwRemaining), &dwChanged);
    if (!m_nWatching.load()) break;
    if (dwResult == WAIT_OBJECT_0) {
      if (m_nSuspended.load()) continue;
      for (int i = 0; i < kLogCount; ++i) {
        if (dwChanged & (1u << i)) ReportLog(i, GetNewestRecordOf(i));
      }
      continue;
    }
    if (dwResult != WAIT_TIMEOUT) continue;
    DWORD dwNow = m_clock.GetTickCount();
    if (dwNow - m_dwRoundStart < kWatchIntervalMs) continue;
    m_dwRoundStart = dwNow;
    if (!m_nSuspended.load()) {
      for (int i = 0; i < kLogCount; ++i) {
        DWORD dwNewest = GetNewestRecordOf(i);
        if (HasChanged(i, dwNewest)) ReportLog(i, dwNewest);
      }
    }
    CountRound();
  }
}

void CEventLogManager::CountRound() {
  std::lock_guard<std::mutex> lock(m_roundLock);
  ++m_nRounds;
  m_roundDone.notify_all();
}

unsigned CEventLogManager::GetRoundCount() {
  std::lock_guard<std::mutex> lock(m_roundLock);
  return m_nRounds;
}

bool CEventLogManager::WaitForRound(unsigned nCount, DWORD dwRealLimitMs) {
  std::unique_lock<std::mutex> lock(m_roundLock);
  return m_roundDone.wait_for(lock, std::chrono::milliseconds(dwRealLimitMs),
                              [&] { return m_nRounds >= nCount; });
}

// Besides a newer record, a clear counts: one seen while suspended (its change
// signal went unheeded then) must still reach ReportLog, which starts over
// from the log's new numbering.
bool CEventLogManager::HasChanged(int nLog, DWORD dwNewest) {
  DWORD dwLast;
  std::uint64_t qwStamp;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    dwLast = m_dwLastReported[nLog];
    qwStamp = m_qwLastReportedStamp[nLog];
  }
  if (dwLast == kNoRecord) return false;
  if (dwNewest != dwLast) return true;
  return qwStamp != 0 && GetRecordStamp(nLog, dwLast) != qwStamp;
}

void CEventLogManager::SetSuspended(int nSuspended) {
  if (nSuspended == 0) {
    m_nSuspended.store(0);
    return;
  }
  std::lock_guard<std::mutex> lock(m_lock);
  m_nSuspended.store(nSuspended);
}

void CEventLogManager::ReportLog(int nLog, DWORD dwNewest) {
  if (m_pListener == nullptr) return;
  std::lock_guard<std::mutex> lock(m_lock);
  // Suspended while this report waited for the lock: the records stay new and
  // are reported after the suspension.
  if (m_nSuspended.load() != 0) return;
  // Start is the record after the last one reported (the newest itself when
  // none was reported yet). A start above the end tells the listener there is
  // nothing to show; the baseline still moves to dwNewest, which is how a
  // cleared log is followed from its new numbering.
  DWORD dwLast = m_dwLastReported[nLog];
  DWORD dwStart = dwLast == kNoRecord ? dwNewest : dwLast + 1;
  if (dwLast != kNoRecord) {
    DWORD dwOldest = GetOldestRecordOf(nLog);
    std::uint64_t qwStamp = m_qwLastReportedStamp[nLog] != 0 ? GetRecordStamp(nLog, dwLast) : 0;
    bool bReplaced = qwStamp != 0 && qwStamp != m_qwLastReportedStamp[nLog];
    if ((bReplaced || dwLast > dwNewest || dwStart < dwOldest) && dwOldest <= dwNewest) {
      // Another record has the last reported number, or the numbering fell
      // back: the log was cleared (and maybe written again) since, so all it
      // holds is new. Or records were dropped since: the report starts at the
      // oldest one left.
      dwStart = dwOldest;
    }
  }
  m_pListener->OnChangeEventLog(kLogNames[nLog], dwStart, dwNewest);
  m_dwLastReported[nLog] = dwNewest;
  m_qwLastReportedStamp[nLog] = GetRecordStamp(nLog, dwNewest);
}
