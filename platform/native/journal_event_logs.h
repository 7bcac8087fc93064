// The journal (sd-journal) as the three event logs, answering the event-log
// facility's questions in its records and result codes.
//
// One boot's entries are shown: this boot's for the local journal, the boot of
// the newest entry for journal files opened by path. Each entry goes to one log:
//   Security     SYSLOG_FACILITY 4 or 10 (auth, authpriv), or _TRANSPORT=audit
//   System       _TRANSPORT=kernel, the service manager (_PID=1, its messages
//                about every unit) and the journal itself (_TRANSPORT=driver)
//   Application  everything else.
// A record holds: type from PRIORITY (0-3 error, 4 warning, else information),
// source SYSLOG_IDENTIFIER (else _SYSTEMD_UNIT, _COMM, "journal"), computer
// _HOSTNAME, event ID the MESSAGE_ID field when it is a number (decimal or
// 0x-hexadecimal, 32 bits; the journal's 128-bit IDs give 0), time the entry's
// wall-clock time, and MESSAGE as its one insertion string, all in code page 932.
//
// Entries written through DoReportEvent carry their log in KX_EVENT_LOG, which
// decides before the rules above when root wrote the entry (_UID=0); their
// strings joined by blanks are the MESSAGE.
//
// Records are numbered per log from 1 in the order the entries were written,
// as long as this object lives; entries the journal has dropped since (vacuum,
// rotation) advance the oldest record number. Opening walks the boot's entries
// once (about 8 us an entry), so one object should serve every log handle and
// waiter of a process. Any thread may call any method.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/kx_types.h"

struct sd_journal;

namespace kx {
namespace native {

// The fields of one entry that decide its log and make its record.
typedef std::map<std::string, std::string> JOURNAL_FIELDS;

class CJournalEventLogs {
 public:
  enum { kApplication = 0, kSecurity = 1, kSystem = 2, kLogCount = 3 };

  CJournalEventLogs() = default;
  ~CJournalEventLogs();
  CJournalEventLogs(const CJournalEventLogs&) = delete;
  CJournalEventLogs& operator=(const CJournalEventLogs&) = delete;

  // Opens this machine's journal (system and user files), this boot.
  DWORD DoOpenLocal();
  // Opens the journal files in a directory (and watches it for new ones).
  DWORD DoOpenDirectory(const char* lpPath);
  // Opens the given journal files.
  DWORD DoOpenFiles(const std::vector<std::string>& paths);

  // kApplication, kSecurity or kSystem for a log name (any case); -1 for none.
  static int FindLog(const char* lpLogName);
  // The log an entry belongs to.
  static int GetLogOfEntry(const JOURNAL_FIELDS& fields);
  // The record of an entry written at ullRealtimeUsec, numbered dwRecordNumber.
  static DWORD BuildRecordOfEntry(const JOURNAL_FIELDS& fields, unsigned long long ullRealtimeUsec,
                                  DWORD dwRecordNumber, std::string* pstrRecord);

  // The fields ("NAME=value", UTF-8) of the entry that records an event of
  // lpSourceName in log lpLogName, as ReportEventLogEntry takes it: priority
  // from the type (error 3, warning 4, audit failure 5, else 6), MESSAGE_ID the
  // event ID in decimal when it is not 0. ERROR_INVALID_PARAMETER when the
  // texts exceed a record's size or the log or source is missing.
  static DWORD MakeEventFields(const char* lpLogName, const char* lpSourceName, WORD wType, DWORD dwEventID,
                               WORD wNumStrings, const char** lpStrings, std::vector<std::string>* pFields);
  // Writes such an entry to this machine's journal. ERROR_SUCCESS or the
  // code of the failure.
  static DWORD DoReportEvent(const char* lpLogName, const char* lpSourceName, WORD wType, DWORD dwEventID,
                             WORD wNumStrings, const char** lpStrings);

  // As GetNumberOfEventLogRecords, GetOldestEventLogRecord and
  // ReadEventLogRecord for log nLog, after taking in what the journal gained.
  DWORD GetNumberOfRecords(int nLog, DWORD* pdwCount);
  DWORD GetOldestRecord(int nLog, DWORD* pdwOldestRecord);
  DWORD ReadRecord(int nLog, DWORD dwRecordNumber, std::string* pstrRecord);
  DWORD ReadRecord(int nLog, DWORD dwRecordNumber, void* lpBuffer, DWORD nBufferSize, DWORD* pdwBytesRead,
                   DWORD* pdwBytesNeeded);

  // Takes in the entries written since the last look.
  DWORD DoRefresh();
  // How many records log nLog gained since the object was opened.
  unsigned long long GetAddedCount(int nLog);
  // A descriptor that becomes readable when the journal changes (-1: none);
  // DoRefresh takes the change in.
  int GetChangeFd();

 private:
  struct ENTRY_POSITION {
    unsigned long long ullSeqnum;
    unsigned long long ullRealtime;
    unsigned nSeqnumId;  // index into m_seqnumIds
  };
  template <class Opener>
  DWORD OpenWith(bool bLocal, Opener open);
  void Close();
  DWORD Start();
  DWORD BindBoot(const std::string& strBootId);
  bool ReadPosition(sd_journal* pJournal, ENTRY_POSITION* pPosition);
  std::string CursorOf(const ENTRY_POSITION& position) const;
  void DropVanished();
  DWORD Refresh();

  std::mutex m_lock;
  sd_journal* m_pScanner = nullptr;  // walks forward once over every entry
  sd_journal* m_pReader = nullptr;   // seeks to the entry of a record
  std::string m_strBootId;           // empty: not bound to a boot yet
  bool m_bLocal = false;
  std::vector<std::string> m_seqnumIds;
  std::deque<ENTRY_POSITION> m_entries[kLogCount];
  DWORD m_dwOldest[kLogCount] = {1, 1, 1};
  unsigned long long m_ullAdded[kLogCount] = {0, 0, 0};
};

// Wakes a waiter when logs it watches gain records; the contract of
// CEventLogChangeWaiter. The journal is looked at no less often than every
// 250 ms, so a change is seen even where no change descriptor serves.
class CJournalChangeWaiter {
 public:
  explicit CJournalChangeWaiter(CJournalEventLogs* pLogs);
  ~CJournalChangeWaiter();
  CJournalChangeWaiter(const CJournalChangeWaiter&) = delete;
  CJournalChangeWaiter& operator=(const CJournalChangeWaiter&) = delete;

  DWORD AddLog(const char* lpLogName);
  DWORD Wait(DWORD dwMilliseconds, DWORD* pdwChangedMask);
  void Wake();

 private:
  void Collect();

  CJournalEventLogs* m_pLogs;
  int m_nWakeFd = -1;
  std::vector<int> m_logs;  // bit i: m_logs[i]
  std::vector<unsigned long long> m_seen;
  DWORD m_dwPendingMask = 0;
};

}  // namespace native
}  // namespace kx
