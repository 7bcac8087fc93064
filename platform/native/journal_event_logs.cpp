#include "platform/native/journal_event_logs.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/error_codes.h"
#include "platform/event_log_record.h"
#include "platform/posix_error.h"
#include "platform/sync.h"
#include "platform/system_info.h"
#include "platform/text_compare.h"
#include "platform/text_encoding.h"

namespace kx {
namespace native {

namespace {

const char* const kLogNames[] = {"Application", "Security", "System"};
// The fields that decide an entry's log, read for every entry of the boot.
const char* const kClassifyingFields[] = {"KX_EVENT_LOG", "_UID", "_TRANSPORT", "SYSLOG_FACILITY", "_PID"};
const char* const kRecordFields[] = {"PRIORITY", "SYSLOG_IDENTIFIER", "_SYSTEMD_UNIT", "_COMM",
                                     "_HOSTNAME", "MESSAGE_ID", "MESSAGE"};
// Longer messages are cut: the record must stay within its size limit.
const size_t kMaxMessage = 64 * 1024;
const size_t kMaxSource = 256;
const DWORD kLookIntervalMs = 250;

std::string FieldOf(const JOURNAL_FIELDS& fields, const char* lpName) {
  auto it = fields.find(lpName);
  return it != fields.end() ? it->second : std::string();
}

// Reads the named fields of the entry sd_journal stands on.
void ReadFields(sd_journal* pJournal, const char* const* lpNames, size_t nNames, JOURNAL_FIELDS* pFields) {
  pFields->clear();
  for (size_t i = 0; i < nNames; ++i) {
    const void* pData = nullptr;
    size_t cbData = 0;
    if (sd_journal_get_data(pJournal, lpNames[i], &pData, &cbData) < 0) continue;
    size_t cbName = std::strlen(lpNames[i]) + 1;  // "NAME="
    if (cbData < cbName) continue;
    (*pFields)[lpNames[i]] = std::string(static_cast<const char*>(pData) + cbName, cbData - cbName);
  }
}

DWORD JournalError(int nResult) { return ErrnoToWinError(-nResult); }

// The value of "key=" in a cursor.
std::string CursorPart(const std::string& strCursor, const char* lpKey) {
  size_t nKey = std::strlen(lpKey);
  size_t nPos = 0;
  while (nPos < strCursor.size()) {
    size_t nEnd = strCursor.find(';', nPos);
    if (nEnd == std::string::npos) nEnd = strCursor.size();
    if (strCursor.compare(nPos, nKey, lpKey) == 0) return strCursor.substr(nPos + nKey, nEnd - nPos - nKey);
    nPos = nEnd + 1;
  }
  return std::string();
}

}  // namespace

CJournalEventLogs::~CJournalEventLogs() { Close(); }

int CJournalEventLogs::FindLog(const char* lpLogName) {
  if (lpLogName == nullptr) return -1;
  for (int i = 0; i < kLogCount; ++i) {
    if (CompareNoCase(kLogNames[i], lpLogName) == 0) return i;
  }
  return -1;
}

int CJournalEventLogs::GetLogOfEntry(const JOURNAL_FIELDS& fields) {
  // Only an entry root wrote (the journal sets _UID, no writer can) may name
  // its log: no one else can write to System.
  if (FieldOf(fields, "_UID") == "0") {
    int nOwnLog = FindLog(FieldOf(fields, "KX_EVENT_LOG").c_str());
    if (nOwnLog >= 0) return nOwnLog;
  }
  std::string strTransport = FieldOf(fields, "_TRANSPORT");
  std::string strFacility = FieldOf(fields, "SYSLOG_FACILITY");
  if (strFacility == "4" || strFacility == "10" || strTransport == "audit") return kSecurity;
  if (strTransport == "kernel" || strTransport == "driver" || FieldOf(fields, "_PID") == "1") return kSystem;
  return kApplication;
}

DWORD CJournalEventLogs::BuildRecordOfEntry(const JOURNAL_FIELDS& fields, unsigned long long ullRealtimeUsec,
                                            DWORD dwRecordNumber, std::string* pstrRecord) {
  EVENT_RECORD_FIELDS record;
  record.dwRecordNumber = dwRecordNumber;
  record.dwTimeGenerated = static_cast<DWORD>(ullRealtimeUsec / 1000000ull);
  record.dwTimeWritten = record.dwTimeGenerated;
  std::string strPriority = FieldOf(fields, "PRIORITY");
  if (strPriority.size() == 1 && strPriority[0] >= '0' && strPriority[0] <= '3') {
    record.wEventType = EVENTLOG_ERROR_TYPE;
  } else if (strPriority == "4") {
    record.wEventType = EVENTLOG_WARNING_TYPE;
  } else {
    record.wEventType = EVENTLOG_INFORMATION_TYPE;
  }
  std::string strSource;
  for (const char* lpField : {"SYSLOG_IDENTIFIER", "_SYSTEMD_UNIT", "_COMM"}) {
    strSource = FieldOf(fields, lpField);
    // A NUL would end the name early in the record: what follows it is dropped.
    strSource = strSource.substr(0, strSource.find('\0'));
    if (!strSource.empty()) break;
  }
  if (strSource.empty()) strSource = "journal";
  record.strSourceName = CutCp932(Utf8ToCp932(strSource), kMaxSource);
  std::string strHost = FieldOf(fields, "_HOSTNAME");
  strHost = strHost.substr(0, strHost.find('\0'));
  record.strComputerName = CutCp932(Utf8ToCp932(strHost.empty() ? QueryComputerName() : strHost), kMaxSource);
  DWORD dwEventId = 0;
  if (ParseEventIdText(FieldOf(fields, "MESSAGE_ID"), &dwEventId)) record.dwEventID = dwEventId;
  std::string strMessage = FieldOf(fields, "MESSAGE");
  strMessage = strMessage.substr(0, strMessage.find('\0'));
  if (strMessage.size() > kMaxMessage) strMessage.resize(kMaxMessage);
  strMessage = CutCp932(Utf8ToCp932(strMessage), kMaxMessage);
  record.strings.push_back(strMessage.c_str());
  return BuildEventLogRecord(record, pstrRecord);
}

DWORD CJournalEventLogs::MakeEventFields(const char* lpLogName, const char* lpSourceName, WORD wType,
                                         DWORD dwEventID, WORD wNumStrings, const char** lpStrings,
                                         std::vector<std::string>* pFields) {
  int nLog = FindLog(lpLogName);
  if (nLog < 0 || lpSourceName == nullptr || lpSourceName[0] == '\0' || pFields == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  if (wNumStrings > 0 && lpStrings == nullptr) return ERROR_INVALID_PARAMETER;
  std::string strMessage;
  for (WORD i = 0; i < wNumStrings; ++i) {
    if (i > 0) strMessage += ' ';
    if (lpStrings[i] != nullptr) strMessage += lpStrings[i];
    if (strMessage.size() > kMaxEventRecordSize) return ERROR_INVALID_PARAMETER;
  }
  const char* lpPriority = "6";
  if (wType == EVENTLOG_ERROR_TYPE) {
    lpPriority = "3";
  } else if (wType == EVENTLOG_WARNING_TYPE) {
    lpPriority = "4";
  } else if (wType == EVENTLOG_AUDIT_FAILURE) {
    lpPriority = "5";
  }
  pFields->clear();
  pFields->push_back("MESSAGE=" + Cp932ToUtf8(strMessage));
  pFields->push_back(std::string("PRIORITY=") + lpPriority);
  pFields->push_back("SYSLOG_IDENTIFIER=" + Cp932ToUtf8(lpSourceName));
  pFields->push_back(std::string("KX_EVENT_LOG=") + kLogNames[nLog]);
  if (dwEventID != 0) pFields->push_back("MESSAGE_ID=" + std::to_string(dwEventID));
  return ERROR_SUCCESS;
}

DWORD CJournalEventLogs::DoReportEvent(const char* lpLogName, const char* lpSourceName, WORD wType, DWORD dwEventID,
                                       WORD wNumStrings, const char** lpStrings) {
  std::vector<std::string> fields;
  DWORD dwError = MakeEventFields(lpLogName, lpSourceName, wType, dwEventID, wNumStrings, lpStrings, &fields);
  if (dwError != ERROR_SUCCESS) return dwError;
  std::vector<struct iovec> vectors;
  for (std::string& strField : fields) vectors.push_back({&strField[0], strField.size()});
  int nResult = sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size()));
  return nResult < 0 ? JournalError(nResult) : static_cast<DWORD>(ERROR_SUCCESS);
}

template <class Opener>
DWORD CJournalEventLogs::OpenWith(bool bLocal, Opener open) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_pScanner != nullptr) return ERROR_INVALID_HANDLE;
  m_bLocal = bLocal;
  int nResult = open(&m_pScanner);
  if (nResult >= 0) nResult = open(&m_pReader);
  DWORD dwError = nResult < 0 ? JournalError(nResult) : Start();
  if (dwError != ERROR_SUCCESS) Close();
  return dwError;
}

void CJournalEventLogs::Close() {
  if (m_pScanner != nullptr) sd_journal_close(m_pScanner);
  if (m_pReader != nullptr) sd_journal_close(m_pReader);
  m_pScanner = nullptr;
  m_pReader = nullptr;
}

DWORD CJournalEventLogs::DoOpenLocal() {
  return OpenWith(true, [](sd_journal** ppJournal) { return sd_journal_open(ppJournal, SD_JOURNAL_LOCAL_ONLY); });
}

DWORD CJournalEventLogs::DoOpenDirectory(const char* lpPath) {
  if (lpPath == nullptr) return ERROR_INVALID_PARAMETER;
  // sd-journal takes a directory it cannot read as one with no files.
  if (access(lpPath, R_OK | X_OK) != 0) return ErrnoToWinError(errno);
  return OpenWith(false, [lpPath](sd_journal** ppJournal) { return sd_journal_open_directory(ppJournal, lpPath, 0); });
}

DWORD CJournalEventLogs::DoOpenFiles(const std::vector<std::string>& paths) {
  std::vector<const char*> names;
  for (const std::string& strPath : paths) names.push_back(strPath.c_str());
  names.push_back(nullptr);
  return OpenWith(false, [&names](sd_journal** ppJournal) { return sd_journal_open_files(ppJournal, names.data(), 0); });
}

DWORD CJournalEventLogs::Start() {
  // Set up the change watches before the first walk, so nothing written after
  // it goes unnoticed; without one a journal never takes in new files.
  sd_journal_get_fd(m_pScanner);
  sd_journal_get_fd(m_pReader);
  std::string strBoot;
  if (m_bLocal) {
    sd_id128_t boot;
    if (sd_id128_get_boot(&boot) >= 0) {
      char szBoot[SD_ID128_STRING_MAX];
      strBoot = sd_id128_to_string(boot, szBoot);
    }
  } else if (sd_journal_seek_tail(m_pScanner) >= 0 && sd_journal_previous(m_pScanner) > 0) {
    uint64_t qwMonotonic = 0;
    sd_id128_t boot;
    if (sd_journal_get_monotonic_usec(m_pScanner, &qwMonotonic, &boot) >= 0) {
      char szBoot[SD_ID128_STRING_MAX];
      strBoot = sd_id128_to_string(boot, szBoot);
    }
  }
  if (!strBoot.empty()) {
    DWORD dwError = BindBoot(strBoot);
    if (dwError != ERROR_SUCCESS) return dwError;
  }
  sd_journal_seek_head(m_pScanner);
  return Refresh();
}

DWORD CJournalEventLogs::BindBoot(const std::string& strBootId) {
  std::string strMatch = "_BOOT_ID=" + strBootId;
  for (sd_journal* pJournal : {m_pScanner, m_pReader}) {
    int nResult = sd_journal_add_match(pJournal, strMatch.c_str(), 0);
    if (nResult < 0) return JournalError(nResult);
  }
  m_strBootId = strBootId;
  return ERROR_SUCCESS;
}

bool CJournalEventLogs::ReadPosition(sd_journal* pJournal, ENTRY_POSITION* pPosition) {
  char* lpCursor = nullptr;
  if (sd_journal_get_cursor(pJournal, &lpCursor) < 0 || lpCursor == nullptr) return false;
  std::string strCursor = lpCursor;
  std::free(lpCursor);
  std::string strId = CursorPart(strCursor, "s=");
  std::string strSeqnum = CursorPart(strCursor, "i=");
  if (strId.empty() || strSeqnum.empty()) return false;
  uint64_t qwRealtime = 0;
  sd_journal_get_realtime_usec(pJournal, &qwRealtime);
  pPosition->ullSeqnum = std::strtoull(strSeqnum.c_str(), nullptr, 16);
  pPosition->ullRealtime = qwRealtime;
  size_t nId = 0;
  while (nId < m_seqnumIds.size() && m_seqnumIds[nId] != strId) ++nId;
  if (nId == m_seqnumIds.size()) m_seqnumIds.push_back(strId);
  pPosition->nSeqnumId = static_cast<unsigned>(nId);
  return true;
}

std::string CJournalEventLogs::CursorOf(const ENTRY_POSITION& position) const {
  char szCursor[128];
  std::snprintf(szCursor, sizeof(szCursor), "s=%s;i=%llx;t=%llx", m_seqnumIds[position.nSeqnumId].c_str(),
                position.ullSeqnum, position.ullRealtime);
  return szCursor;
}

// Entries older than the first one the journal still holds were vacuumed or
// rotated away: their records go and the oldest record number moves on.
void CJournalEventLogs::DropVanished() {
  if (sd_journal_seek_head(m_pReader) < 0 || sd_journal_next(m_pReader) <= 0) return;
  ENTRY_POSITION head;
  if (!ReadPosition(m_pReader, &head)) return;
  for (int nLog = 0; nLog < kLogCount; ++nLog) {
    std::deque<ENTRY_POSITION>& entries = m_entries[nLog];
    while (!entries.empty()) {
      const ENTRY_POSITION& first = entries.front();
      bool bGone = first.nSeqnumId == head.nSeqnumId ? first.ullSeqnum < head.ullSeqnum
                                                     : first.ullRealtime < head.ullRealtime;
      if (!bGone) break;
      entries.pop_front();
      ++m_dwOldest[nLog];
    }
  }
}

DWORD CJournalEventLogs::Refresh() {
  if (m_pScanner == nullptr) return ERROR_INVALID_HANDLE;
  sd_journal_process(m_pScanner);
  sd_journal_process(m_pReader);
  if (m_strBootId.empty()) {
    // Files opened empty: the first boot that appears is the one shown.
    if (sd_journal_seek_head(m_pScanner) < 0 || sd_journal_next(m_pScanner) <= 0) return ERROR_SUCCESS;
    uint64_t qwMonotonic = 0;
    sd_id128_t boot;
    if (sd_journal_get_monotonic_usec(m_pScanner, &qwMonotonic, &boot) < 0) return ERROR_SUCCESS;
    char szBoot[SD_ID128_STRING_MAX];
    DWORD dwError = BindBoot(sd_id128_to_string(boot, szBoot));
    if (dwError != ERROR_SUCCESS) return dwError;
    sd_journal_seek_head(m_pScanner);
  }
  bool bAdded = false;
  for (;;) {
    // A file the journal cannot walk is left out by sd-journal itself; any
    // other failure ends this look and the records taken in so far stay.
    if (sd_journal_next(m_pScanner) <= 0) break;
    ENTRY_POSITION position;
    if (!ReadPosition(m_pScanner, &position)) continue;
    JOURNAL_FIELDS fields;
    ReadFields(m_pScanner, kClassifyingFields, sizeof(kClassifyingFields) / sizeof(kClassifyingFields[0]), &fields);
    int nLog = GetLogOfEntry(fields);
    m_entries[nLog].push_back(position);
    ++m_ullAdded[nLog];
    bAdded = true;
  }
  // Only a journal that changed can have dropped entries.
  if (bAdded) DropVanished();
  return ERROR_SUCCESS;
}

DWORD CJournalEventLogs::DoRefresh() {
  std::lock_guard<std::mutex> lock(m_lock);
  return Refresh();
}

DWORD CJournalEventLogs::GetNumberOfRecords(int nLog, DWORD* pdwCount) {
  if (pdwCount == nullptr) return ERROR_INVALID_PARAMETER;
  *pdwCount = 0;
  if (nLog < 0 || nLog >= kLogCount) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::mutex> lock(m_lock);
  DWORD dwError = Refresh();
  if (dwError != ERROR_SUCCESS) return dwError;
  *pdwCount = static_cast<DWORD>(m_entries[nLog].size());
  return ERROR_SUCCESS;
}

DWORD CJournalEventLogs::GetOldestRecord(int nLog, DWORD* pdwOldestRecord) {
  if (pdwOldestRecord == nullptr) return ERROR_INVALID_PARAMETER;
  *pdwOldestRecord = 0;
  if (nLog < 0 || nLog >= kLogCount) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::mutex> lock(m_lock);
  DWORD dwError = Refresh();
  if (dwError != ERROR_SUCCESS) return dwError;
  *pdwOldestRecord = m_dwOldest[nLog];
  return ERROR_SUCCESS;
}

DWORD CJournalEventLogs::ReadRecord(int nLog, DWORD dwRecordNumber, std::string* pstrRecord) {
  if (pstrRecord == nullptr) return ERROR_INVALID_PARAMETER;
  if (nLog < 0 || nLog >= kLogCount) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_pReader == nullptr) return ERROR_INVALID_HANDLE;
  const std::deque<ENTRY_POSITION>& entries = m_entries[nLog];
  if (dwRecordNumber < m_dwOldest[nLog] || dwRecordNumber - m_dwOldest[nLog] >= entries.size()) {
    return ERROR_INVALID_PARAMETER;
  }
  const ENTRY_POSITION position = entries[dwRecordNumber - m_dwOldest[nLog]];
  std::string strCursor = CursorOf(position);
  std::string strIdentity = strCursor.substr(0, strCursor.find(";t="));
  if (sd_journal_seek_cursor(m_pReader, strCursor.c_str()) < 0 || sd_journal_next(m_pReader) <= 0 ||
      sd_journal_test_cursor(m_pReader, strIdentity.c_str()) <= 0) {
    // Gone since it was numbered: dropped by the journal, or its file is damaged.
    DropVanished();
    return dwRecordNumber < m_dwOldest[nLog] ? ERROR_INVALID_PARAMETER : ERROR_EVENTLOG_FILE_CORRUPT;
  }
  JOURNAL_FIELDS fields;
  ReadFields(m_pReader, kRecordFields, sizeof(kRecordFields) / sizeof(kRecordFields[0]), &fields);
  return BuildRecordOfEntry(fields, position.ullRealtime, dwRecordNumber, pstrRecord);
}

DWORD CJournalEventLogs::ReadRecord(int nLog, DWORD dwRecordNumber, void* lpBuffer, DWORD nBufferSize,
                                    DWORD* pdwBytesRead, DWORD* pdwBytesNeeded) {
  if (pdwBytesRead != nullptr) *pdwBytesRead = 0;
  if (pdwBytesNeeded != nullptr) *pdwBytesNeeded = 0;
  std::string strRecord;
  DWORD dwError = ReadRecord(nLog, dwRecordNumber, &strRecord);
  if (dwError != ERROR_SUCCESS) return dwError;
  return CopyEventLogRecord(strRecord, lpBuffer, nBufferSize, pdwBytesRead, pdwBytesNeeded);
}

unsigned long long CJournalEventLogs::GetAddedCount(int nLog) {
  if (nLog < 0 || nLog >= kLogCount) return 0;
  std::lock_guard<std::mutex> lock(m_lock);
  return m_ullAdded[nLog];
}

int CJournalEventLogs::GetChangeFd() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_pScanner == nullptr) return -1;
  int nFd = sd_journal_get_fd(m_pScanner);
  return nFd >= 0 ? nFd : -1;
}

// ---------------------------------------------------------------------------

CJournalChangeWaiter::CJournalChangeWaiter(CJournalEventLogs* pLogs) : m_pLogs(pLogs) {
  m_nWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CJournalChangeWaiter::~CJournalChangeWaiter() {
  if (m_nWakeFd >= 0) close(m_nWakeFd);
}

DWORD CJournalChangeWaiter::AddLog(const char* lpLogName) {
  int nLog = CJournalEventLogs::FindLog(lpLogName);
  if (nLog < 0) return ERROR_FILE_NOT_FOUND;
  if (m_logs.size() >= 32) return ERROR_INVALID_PARAMETER;
  if (m_pLogs == nullptr) return ERROR_INVALID_HANDLE;
  m_logs.push_back(nLog);
  m_seen.push_back(m_pLogs->GetAddedCount(nLog));
  return ERROR_SUCCESS;
}

void CJournalChangeWaiter::Collect() {
  if (m_pLogs == nullptr || m_logs.empty()) return;
  m_pLogs->DoRefresh();
  for (size_t i = 0; i < m_logs.size(); ++i) {
    unsigned long long ullAdded = m_pLogs->GetAddedCount(m_logs[i]);
    if (ullAdded != m_seen[i]) {
      m_seen[i] = ullAdded;
      m_dwPendingMask |= 1u << i;
    }
  }
}

DWORD CJournalChangeWaiter::Wait(DWORD dwMilliseconds, DWORD* pdwChangedMask) {
  if (pdwChangedMask != nullptr) *pdwChangedMask = 0;
  DWORD dwStart = GetTickCount();
  int nChangeFd = m_pLogs != nullptr && !m_logs.empty() ? m_pLogs->GetChangeFd() : -1;
  for (;;) {
    Collect();
    if (m_dwPendingMask != 0) {
      if (pdwChangedMask != nullptr) *pdwChangedMask = m_dwPendingMask;
      m_dwPendingMask = 0;
      return WAIT_OBJECT_0;
    }
    DWORD dwSlice = kLookIntervalMs;
    if (dwMilliseconds != INFINITE) {
      DWORD dwElapsed = GetTickCount() - dwStart;  // modular: right across the wrap
      if (dwElapsed >= dwMilliseconds) {
        // A time-out of 0 still takes one look, and an eventual Wake counts.
        struct pollfd wake = {m_nWakeFd, POLLIN, 0};
        if (poll(&wake, 1, 0) > 0) break;
        return WAIT_TIMEOUT;
      }
      if (dwMilliseconds - dwElapsed < dwSlice) dwSlice = dwMilliseconds - dwElapsed;
    }
    struct pollfd fds[2] = {{m_nWakeFd, POLLIN, 0}, {nChangeFd, POLLIN, 0}};
    int nReady = poll(fds, nChangeFd >= 0 ? 2 : 1, static_cast<int>(dwSlice));
    if (nReady < 0 && errno != EINTR) return WAIT_TIMEOUT;
    if (nReady > 0 && (fds[0].revents & POLLIN)) break;
  }
  std::uint64_t qwCount = 0;
  if (read(m_nWakeFd, &qwCount, sizeof(qwCount)) < 0) {
    // Another reader took it: the wake-up is delivered either way.
  }
  return WAIT_IO_COMPLETION;
}

void CJournalChangeWaiter::Wake() {
  std::uint64_t qwOne = 1;
  if (write(m_nWakeFd, &qwOne, sizeof(qwOne)) < 0) {
    // The counter only overflows after 2^64 - 1 wake-ups.
  }
}

}  // namespace native
}  // namespace kx
