#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "EventLogManager.h"
#include "KxAgentLog.h"
#include "KxAgentMessages.h"
#include "fake_agent_log.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/text_encoding.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TemporarySystemRoot.h"

namespace {

typedef std::tuple<std::string, DWORD, DWORD> Report;

// Keeps the reports; tests wait for them with a generous limit.
class CRecordingListener : public CEventLogListener {
 public:
  void OnChangeEventLog(const char* lpLogName, DWORD dwStart, DWORD dwEnd) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vecReports.emplace_back(lpLogName, dwStart, dwEnd);
    m_cond.notify_all();
  }
  // Waits until at least nCount reports arrived (or 20 s passed) and returns them.
  std::vector<Report> WaitFor(size_t nCount) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait_for(lock, std::chrono::seconds(20), [&] { return m_vecReports.size() >= nCount; });
    return m_vecReports;
  }
  // Reports that show records (start <= end): the ones a terminal would see.
  std::vector<Report> Shown() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Report> shown;
    for (const Report& report : m_vecReports) {
      if (std::get<1>(report) <= std::get<2>(report)) shown.push_back(report);
    }
    return shown;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vecReports.clear();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cond;
  std::vector<Report> m_vecReports;
};

class EventLogManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.Enter("/tmp/kx-eventmgr-XXXXXX"));
    m_strRoot = m_root.GetPath();
  }
  void TearDown() override {
    m_root.Leave();
  }

  static void Write(const char* lpLog, const char* lpText, DWORD dwTimes = 1) {
    std::string strSource = std::string(lpLog) + "Src";
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallEventSource(lpLog, strSource.c_str(), nullptr));
    kx::HEVENTSOURCE hSource = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::RegisterEventLogSource(strSource.c_str(), &hSource));
    for (DWORD i = 0; i < dwTimes; ++i) {
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ReportEventLogEntry(hSource, 4, 0, 1, 1, &lpText));
    }
    kx::DeregisterEventLogSource(hSource);
  }

  // Moves the clock one watch interval on and waits until the watcher has
  // completed the round that it starts.
  static void RunRound(CManualClock& clock, CEventLogManager& manager) {
    unsigned nNext = manager.GetRoundCount() + 1;
    clock.Advance(kIntervalMs);
    ASSERT_TRUE(manager.WaitForRound(nNext, 10000));
  }

  static const DWORD kIntervalMs = 1000;
  std::string m_strRoot;
  CTemporarySystemRoot m_root;
};

TEST_F(EventLogManagerTest, CountAndNewestFollowTheLog) {
  CEventLogManager manager;
  manager.OpenLogs();
  EXPECT_EQ(0u, manager.GetRecordCount("System"));
  EXPECT_EQ(0u, manager.GetNewestRecordNumber("System"));
  Write("System", "x", 4);
  EXPECT_EQ(4u, manager.GetRecordCount("system"));
  EXPECT_EQ(4u, manager.GetNewestRecordNumber("SYSTEM"));
  EXPECT_EQ(0u, manager.GetRecordCount("Setup"));
  EXPECT_EQ(0u, manager.GetRecordCount(nullptr));
  manager.CloseLogs();
  // Closed logs read as empty.
  EXPECT_EQ(0u, manager.GetRecordCount("System"));
}

TEST_F(EventLogManagerTest, WatcherReportsOnlyRecordsWrittenAfterItStarted) {
  Write("System", "before");
  CRecordingListener listener;
  CEventLogManager manager;
  manager.SetListener(&listener);
  manager.OpenLogs();
  EXPECT_EQ(0, manager.IsWatching());
  ASSERT_EQ(1, manager.StartWatch());
  EXPECT_EQ(1, manager.IsWatching());

  Write("System", "after");
  listener.WaitFor(1);
  EXPECT_EQ((std::vector<Report>{Report("System", 2, 2)}), listener.Shown());

  listener.Clear();
  Write("Security", "sec");
  listener.WaitFor(1);
  EXPECT_EQ((std::vector<Report>{Report("Security", 1, 1)}), listener.Shown());

  EXPECT_EQ(1, manager.StopWatch());
  EXPECT_EQ(0, manager.IsWatching());
  EXPECT_EQ(0, manager.StopWatch());
  manager.CloseLogs();
}

TEST_F(EventLogManagerTest, RecordsWrittenWhileSuspendedArriveInOneReportAfterwards) {
  CManualClock clock;
  CRecordingListener listener;
  CEventLogManager manager(clock);
  manager.SetListener(&listener);
  manager.OpenLogs();
  Write("Application", "a", 3);
  ASSERT_EQ(1, manager.StartWatch());
  manager.SetSuspended(1);
  Write("Application", "during", 2);
  // A whole round passes: a suspended watcher stays silent.
  RunRound(clock, manager);
  EXPECT_TRUE(listener.Shown().empty());
  manager.SetSuspended(0);
  RunRound(clock, manager);
  EXPECT_EQ((std::vector<Report>{Report("Application", 4, 5)}), listener.Shown());
  manager.CloseLogs();
  EXPECT_EQ(0, manager.IsWatching());
}

// Rounds follow the watcher's clock: one per interval that has passed on it;
// a jump of several intervals makes one round, and the next interval starts
// where the jump ended.
TEST_F(EventLogManagerTest, RoundsFollowTheClock) {
  struct Step {
    DWORD dwAdvanceMs;
    unsigned nRounds;  // rounds completed once the clock has moved
  };
  const Step steps[] = {{400, 0}, {400, 0}, {200, 1}, {2500, 2}, {999, 2}, {1, 3}, {999, 3}, {1000, 4}};
  CManualClock clock(0xFFFFFE00);  // the tick count wraps during the run
  CEventLogManager manager(clock);
  manager.OpenLogs();
  ASSERT_EQ(1, manager.StartWatch());
  for (const Step& step : steps) {
    SCOPED_TRACE(step.dwAdvanceMs);
    clock.Advance(step.dwAdvanceMs);
    // A step that completes no round is proved by the next that does: the
    // count it reaches is exact.
    if (step.nRounds > 0) {
      ASSERT_TRUE(manager.WaitForRound(step.nRounds, 10000));
    }
    EXPECT_EQ(step.nRounds, manager.GetRoundCount());
  }
  EXPECT_EQ(1, manager.StopWatch());
}

// The system clock paces the watcher in real time, a round to the interval.
TEST_F(EventLogManagerTest, OnTheSystemClockARoundTakesTheInterval) {
  CEventLogManager manager;
  manager.OpenLogs();
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(1, manager.StartWatch());
  ASSERT_TRUE(manager.WaitForRound(1, 20000));
  // Less only by the tick count's granularity.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kIntervalMs - 50));
  manager.CloseLogs();
}

TEST_F(EventLogManagerTest, AfterAClearTheNewNumberingIsFollowed) {
  CRecordingListener listener;
  CEventLogManager manager;
  manager.SetListener(&listener);
  manager.OpenLogs();
  Write("System", "old", 5);
  ASSERT_EQ(1, manager.StartWatch());
  kx::HEVENTLOG hLog = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenEventLogByName("System", &hLog));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ClearEventLogRecords(hLog));
  kx::CloseEventLogHandle(hLog);
  // The clear is reported as nothing to show (start above end) ...
  std::vector<Report> reports = listener.WaitFor(1);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(Report("System", 6, 0), reports[0]);
  EXPECT_TRUE(listener.Shown().empty());
  // ... and the next record, number 1, is reported.
  Write("System", "new");
  for (int i = 0; i < 200 && listener.Shown().empty(); ++i) listener.WaitFor(reports.size() + 1 + i);
  EXPECT_EQ((std::vector<Report>{Report("System", 1, 1)}), listener.Shown());
  manager.CloseLogs();
}

// What happens to a log while a command runs (the watcher suspended), and the
// one report that follows: every record the log then holds that was not
// reported before, and nothing twice.
struct WhileSuspendedCase {
  const char* lpName;
  bool bClear;
  DWORD dwMaxRecords;
  DWORD dwWrites;
  Report expected;
};

const WhileSuspendedCase kWhileSuspendedCases[] = {
    {"cleared, then fewer records than before", true, 0, 2, Report("System", 1, 2)},
    {"cleared, then more records than before", true, 0, 7, Report("System", 1, 7)},
    {"cleared, then as many records as before", true, 0, 5, Report("System", 1, 5)},
    {"records dropped past the last one reported", false, 3, 10, Report("System", 13, 15)},
};

TEST_F(EventLogManagerTest, ReportAfterASuspensionHoldsEveryNewRecordOnce) {
  for (const WhileSuspendedCase& c : kWhileSuspendedCases) {
    SCOPED_TRACE(c.lpName);
    CTemporarySystemRoot root;
    ASSERT_TRUE(root.Enter("/tmp/kx-eventmgr-case-XXXXXX"));
    CManualClock clock;
    CRecordingListener listener;
    CEventLogManager manager(clock);
    manager.SetListener(&listener);
    manager.OpenLogs();
    Write("System", "old", 5);
    ASSERT_EQ(1, manager.StartWatch());
    manager.SetSuspended(1);
    kx::HEVENTLOG hLog = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenEventLogByName("System", &hLog));
    if (c.bClear) {
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ClearEventLogRecords(hLog));
    }
    if (c.dwMaxRecords != 0) {
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::SetEventLogMaxRecords(hLog, c.dwMaxRecords));
    }
    kx::CloseEventLogHandle(hLog);
    Write("System", "new", c.dwWrites);
    manager.SetSuspended(0);
    RunRound(clock, manager);
    EXPECT_EQ(std::vector<Report>{c.expected}, listener.Shown());
    // One more round: nothing may be reported twice.
    RunRound(clock, manager);
    EXPECT_EQ(std::vector<Report>{c.expected}, listener.Shown());
    manager.CloseLogs();
  }
}

TEST_F(EventLogManagerTest, StartingTwiceKeepsOneWatcher) {
  CManualClock clock;
  CRecordingListener listener;
  CEventLogManager manager(clock);
  manager.SetListener(&listener);
  manager.OpenLogs();
  ASSERT_EQ(1, manager.StartWatch());
  ASSERT_EQ(1, manager.StartWatch());
  Write("System", "x");
  RunRound(clock, manager);
  RunRound(clock, manager);
  EXPECT_EQ(1u, listener.Shown().size());
  EXPECT_EQ(1, manager.StopWatch());
  EXPECT_EQ(0, manager.StopWatch());
}

TEST_F(EventLogManagerTest, LogFileLimitWritesOneWarningEvent) {
  CTestAgentLog log;
  log.Setting().SetLogFileLimit(TRUE);
  log.Setting().SetLogFileMaxSize(2048);
  log.Install<CKxAgentLog>();
  for (int i = 0; i < 100; ++i) CKxAgentLog::LogInfo("logon", "entry %d of a log that fills up", i);

  kx::HEVENTLOG hLog = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenEventLogByName("Application", &hLog));
  DWORD dwCount = 0;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetNumberOfEventLogRecords(hLog, &dwCount));
  ASSERT_EQ(1u, dwCount);
  std::vector<BYTE> record(70000);
  DWORD dwRead = 0, dwNeeded = 0;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            kx::ReadEventLogRecord(hLog, 1, record.data(), static_cast<DWORD>(record.size()), &dwRead, &dwNeeded));
  kx::CloseEventLogHandle(hLog);
  kx::EVENTLOGRECORD header;
  std::memcpy(&header, record.data(), sizeof(header));
  EXPECT_EQ(0x80000102u, header.EventID);
  EXPECT_EQ(EVENTLOG_WARNING_TYPE, header.EventType);
  EXPECT_STREQ("KxAgent", reinterpret_cast<const char*>(record.data()) + sizeof(header));
  ASSERT_EQ(1, header.NumStrings);
  std::string strText = reinterpret_cast<const char*>(record.data()) + header.StringOffset;
  std::string strExpected = kx::Utf8ToCp932("ログファイル " + log.Dir() + "/info.log の容量が規定値(2 KB)に達したため、"
                                            "ファシリティ INFO のログ出力を停止します。");
  EXPECT_EQ(0u, strText.find(strExpected)) << kx::Cp932ToUtf8(strText);
}

// With the catalogue beside the program, the source resolves the agent's IDs.
TEST_F(EventLogManagerTest, AgentSourceRegistrationNeedsALoadableCatalogue) {
  EXPECT_FALSE(RegisterAgentEventSource(m_strRoot + "/"));
  std::string strValue;
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            kx::QueryEventSourceValue("Application", "KxAgent", "EventMessageFile", &strValue));
  if (std::system(("printf 'MessageId=0x40000101\\n%%1\\n.\\n' > " + m_strRoot + "/KxAgent.msg").c_str()) != 0) {
    FAIL() << "cannot write the catalogue";
  }
  EXPECT_TRUE(RegisterAgentEventSource(m_strRoot + "/"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            kx::QueryEventSourceValue("Application", "KxAgent", "EventMessageFile", &strValue));
  EXPECT_EQ(m_strRoot + "/KxAgent.msg", strValue);

  CKxAgentLog::__LogEvent(EVENTLOG_INFORMATION_TYPE, "started\r\n");
  CEventLogManager manager;
  manager.OpenLogs();
  char szLine[1024];
  ASSERT_EQ(1, manager.GetEventLogMessage("application", 1, szLine, 0));
  std::string strLine = szLine;
  EXPECT_EQ(strLine.size() - std::strlen("(KxAgent:257) started"), strLine.find("(KxAgent:257) started"))
      << strLine;
}

}  // namespace
