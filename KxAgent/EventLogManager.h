// CEventLogManager: the agent's window on the Application, Security and System
// event logs. It counts and reads records, formats one record as one line, and
// runs a watcher thread that reports newly written records to a listener.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/kx_types.h"

// Receives the watcher's change reports, on the watcher thread, with the
// manager's lock held: it must not call back into StartWatch or StopWatch.
class CEventLogListener {
 public:
  virtual ~CEventLogListener() {}
  // Records dwStartRecordNo..dwEndRecordNo of lpLogName ("Application",
  // "Security" or "System") are new; a start above the end means nothing to show.
  virtual void OnChangeEventLog(const char* lpLogName, DWORD dwStartRecordNo,
                                DWORD dwEndRecordNo) = 0;
};

class CEventLogManager {
 public:
  static const DWORD kNoRecord = 0xFFFFFFFF;
  // The smallest buffer GetEventLogMessage may be given.
  static const int kMessageBufferMin = 1024;

  // The watcher's rounds are paced by `clock`, which outlives the manager.
  explicit CEventLogManager(kx::CClock& clock = kx::GetSystemClock());
  ~CEventLogManager();
  CEventLogManager(const CEventLogManager&) = delete;
  CEventLogManager& operator=(const CEventLogManager&) = delete;

  // Stores the listener of change reports (not owned).
  void SetListener(CEventLogListener* pListener);
  // Opens the three logs; a log that cannot be opened reads as empty. Returns 1.
  int OpenLogs();
  // Stops the watcher and closes the three logs. Returns 1.
  int CloseLogs();
  // Number of records of the log (name compared case-insensitively); 0 for an
  // unknown name or a failure.
  DWORD GetRecordCount(const char* lpLogName);
  // oldest + count - 1, in unsigned 32-bit arithmetic.
  DWORD GetNewestRecordNumber(const char* lpLogName);
  // Formats record dwRecordNo of the log as one line (at most 1023 characters)
  // into lpBuffer (at least kMessageBufferMin bytes): the show eventlog format,
  // or the notification format when bNotifyFormat is non-zero. 1 on success,
  // 0 for an unknown log or a record that cannot be read.
  int GetEventLogMessage(const char* lpLogName, DWORD dwRecordNo, char* lpBuffer, int bNotifyFormat);
  // Starts the watcher: only records written from now on are reported.
  // 1 on success, 0 when the thread cannot be started.
  int StartWatch();
  // Stops the watcher and waits for it to end. 0 when none was running.
  int StopWatch();
  int IsWatching() const { return m_nWatching.load(); }
  // While non-zero the watcher reports nothing; what it finds meanwhile is
  // reported at its first wake-up after the suspension ends.
  // Suspending waits for a report in progress to finish, so that nothing is
  // written to the terminal once the caller goes on (a command's output follows).
  void SetSuspended(int nSuspended);
  // Rounds the watcher has completed since the manager was made: one each time
  // the watch interval has passed on the clock, suspended or not. A round looks
  // at every log; changes signalled in between are reported without one.
  unsigned GetRoundCount();
  // Waits, on the real clock and at most dwRealLimitMs, until GetRoundCount()
  // reaches nCount. true when it has.
  bool WaitForRound(unsigned nCount, DWORD dwRealLimitMs);

 private:
  enum { kLogCount = 3 };
  void WatchThread();
  void CountRound();
  // Reports records up to dwNewest of log nLog to the listener (see ReportLog in the .cpp).
  void ReportLog(int nLog, DWORD dwNewest);
  // Index of a log name (case-insensitive), or -1.
  int FindLog(const char* lpLogName) const;
  DWORD GetNewestRecordOf(int nLog);
  DWORD GetOldestRecordOf(int nLog);
  // Whether log nLog, whose newest record is dwNewest, changed since the last report.
  bool HasChanged(int nLog, DWORD dwNewest);
  // Reads record dwRecordNo of log nLog whole into *pRecord. false when it cannot be read.
  bool ReadRecord(int nLog, DWORD dwRecordNo, std::vector<BYTE>* pRecord);
  // A fingerprint of the record's bytes, never 0; 0 when the record cannot be read.
  std::uint64_t GetRecordStamp(int nLog, DWORD dwRecordNo);
  // Fills the 5000-byte lpOutput with the record's message text. 1 on success.
  int ResolveMessage(const char* lpLogName, const char* lpSourceName, const char* const* lpStrings,
                     DWORD dwNumStrings, DWORD dwEventID, char* lpOutput);
  static const char* GetEventTypeName(WORD wEventType);
  // Removes CR and LF and turns TAB into a blank, by code page 932 characters.
  static void CleanMessageText(char* lpText);

  kx::HEVENTLOG m_hLogs[kLogCount];
  DWORD m_dwLastReported[kLogCount];
  // The fingerprint of each last reported record (0: none), which tells a log
  // cleared and written again since the last report from one that only grew.
  std::uint64_t m_qwLastReportedStamp[kLogCount];
  std::thread m_watcher;
  std::atomic<int> m_nWatching;
  std::atomic<int> m_nSuspended;
  CEventLogListener* m_pListener;
  std::mutex m_lock;
  // Wakes the watcher on a change or for a stop; lives while the watcher does.
  kx::CEventLogChangeWaiter* m_pWaiter;
  kx::CClock& m_clock;
  // When the watcher's current round began, on m_clock.
  DWORD m_dwRoundStart;
  std::mutex m_roundLock;
  std::condition_variable m_roundDone;
  unsigned m_nRounds;
};
