#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "KxAgentLog.h"
#include "fake_agent_log.h"
#include "platform/event_log.h"
#include "platform/text_encoding.h"
#include "tests/support/EventLogRecords.h"

namespace {

void FixedClock(kx::SYSTEMTIME* lpTime) {
  *lpTime = kx::SYSTEMTIME{2024, 1, 5, 5, 9, 3, 7, 250};
}

class AgentLogTest : public ::testing::Test {
 protected:
  void SetUp() override { CLogFile::SetTimeSourceForTest(FixedClock); }
  void TearDown() override { CLogFile::SetTimeSourceForTest(nullptr); }
  CTestAgentLog m_log;
};

// Counts the limit notices instead of writing them to the event log.
class CCountingLog : public CKxAgentLog {
 public:
  using CKxAgentLog::CKxAgentLog;
  void OnLogFileLimit(CLogFile* pFile, int nReason) override {
    m_levels.push_back(pFile->GetLevelName());
    m_reasons.push_back(nReason);
  }
  std::vector<std::string> m_levels;
  std::vector<int> m_reasons;
};

long long FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

TEST_F(AgentLogTest, EachLevelWritesItsOwnFileInTheLineFormat) {
  m_log.Install<CKxAgentLog>();
  CKxAgentLog::LogError("initialize", "Plug-in DLL load error. (file=%s)", "x.dll");
  CKxAgentLog::LogWarning("logon", "user '%s@%s' logon failure.", "bob", "(LOCAL)");
  CKxAgentLog::LogInfo("logon", "user '%s@%s' logon success.", "bob", "(LOCAL)");
  CKxAgentLog::LogDebug("CKestrixAgent::CKestrixAgent()", "initialize ok.");
  CKxAgentLog::LogErrorText("Internal", "100% as is");
  CKxAgentLog::LogDebugText("Internal", "%s stays");
  EXPECT_EQ(
      "2024-01-05 09:03:07 ERROR [initialize] Plug-in DLL load error. (file=x.dll)\r\n"
      "2024-01-05 09:03:07 ERROR [Internal] 100% as is\r\n",
      m_log.Read("error.log"));
  EXPECT_EQ("2024-01-05 09:03:07 WARN  [logon] user 'bob@(LOCAL)' logon failure.\r\n",
            m_log.Read("warning.log"));
  EXPECT_EQ("2024-01-05 09:03:07 INFO  [logon] user 'bob@(LOCAL)' logon success.\r\n",
            m_log.Read("info.log"));
  EXPECT_EQ(
      "2024-01-05 09:03:07 DEBUG [CKestrixAgent::CKestrixAgent()] initialize ok.\r\n"
      "2024-01-05 09:03:07 DEBUG [Internal] %s stays\r\n",
      m_log.Read("debug.log"));
}

TEST_F(AgentLogTest, LineBreaksAndTabsAreRemovedFromTheWholeLine) {
  m_log.Install<CKxAgentLog>();
  CKxAgentLog::LogInfo("Command\tExecute", "a\r\nb\tc");
  EXPECT_EQ("2024-01-05 09:03:07 INFO  [CommandExecute] abc\r\n", m_log.Read("info.log"));
}

TEST(AgentLog, UsesTheLocalClockByDefault) {
  CTestAgentLog log;
  log.Install<CKxAgentLog>();
  CKxAgentLog::LogInfo("show date", "x");
  std::string line = log.Read("info.log");
  EXPECT_TRUE(std::regex_match(
      line, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} INFO  \\[show date\\] x\r\n")))
      << line;
}

TEST_F(AgentLogTest, TheEntryThatPassesTheLimitIsTheLastAndIsReportedOnce) {
  m_log.Setting().SetLogFileLimit(TRUE);
  m_log.Setting().SetLogFileMaxSize(10240);
  CCountingLog* pLog = m_log.Install<CCountingLog>();
  // Each line is exactly 100 bytes: 30 of header, 68 of text, CR LF.
  const std::string text(68, 'x');
  for (int i = 0; i < 102; ++i) CKxAgentLog::LogInfo("s", "%s", text.c_str());
  EXPECT_EQ(10200, FileSize(m_log.Dir() + "/info.log"));
  EXPECT_TRUE(pLog->m_levels.empty());

  CKxAgentLog::LogInfo("s", "%s", text.c_str());  // 10300 > 10240: written, then the level stops
  CKxAgentLog::LogInfo("s", "%s", text.c_str());
  CKxAgentLog::LogInfo("s", "%s", text.c_str());
  EXPECT_EQ(10300, FileSize(m_log.Dir() + "/info.log"));
  EXPECT_EQ(std::vector<std::string>{"INFO"}, pLog->m_levels);
  EXPECT_EQ(std::vector<int>{1}, pLog->m_reasons);
  // Other levels go on.
  CKxAgentLog::LogWarning("s", "still");
  EXPECT_NE("", m_log.Read("warning.log"));
}

TEST_F(AgentLogTest, AFileEndingExactlyOnItsLimitStopsWithItsNotice) {
  m_log.Setting().SetLogFileLimit(TRUE);
  m_log.Setting().SetLogFileMaxSize(200);
  CCountingLog* pLog = m_log.Install<CCountingLog>();
  const std::string text(68, 'x');
  CKxAgentLog::LogInfo("s", "%s", text.c_str());
  CKxAgentLog::LogInfo("s", "%s", text.c_str());
  CKxAgentLog::LogInfo("s", "%s", text.c_str());
  EXPECT_EQ(200, FileSize(m_log.Dir() + "/info.log"));
  EXPECT_EQ(std::vector<std::string>{"INFO"}, pLog->m_levels);
}

TEST_F(AgentLogTest, LimitNoticeGoesToTheEventLogInCodePage932) {
  m_log.Setting().SetLogFileLimit(TRUE);
  m_log.Setting().SetLogFileMaxSize(10240);
  m_log.Install<CKxAgentLog>();
  const std::string text(10300, 'x');
  CKxAgentLog::LogWarning("s", "%s", text.c_str());
  CKxAgentLog::LogWarning("s", "%s", text.c_str());

  std::string path = m_log.Dir() + "/warning.log";
  std::string notice = kx::Utf8ToCp932(
      "ログファイル " + path +
      " の容量が規定値(10 KB)に達したため、ファシリティ WARN のログ出力を停止します。"
      "ログ出力を有効にするには、Kestrix Agent for Windowsサービスを停止後、"
      "該当ファイルを移動・または削除し、再度Kestrix Agent for Windowsサービスを"
      "起動してください。");
  std::string debug = m_log.Read("debug.log");
  EXPECT_EQ("2024-01-05 09:03:07 DEBUG [CKxAgentLog::__LogEvent()] wType=2, lpMessage=" + notice +
                "\r\n",
            debug);
  // The event itself went to the Application log: no failure was recorded.
  EXPECT_EQ("", m_log.Read("error.log"));
}

TEST_F(AgentLogTest, DisabledLoggingWritesNothingYetCreatesAllFourFiles) {
  m_log.Setting().SetLogEnabled(FALSE);
  m_log.Install<CKxAgentLog>();
  CKxAgentLog::LogError("s", "e");
  CKxAgentLog::LogWarning("s", "w");
  CKxAgentLog::LogInfo("s", "i");
  CKxAgentLog::LogDebug("s", "d");
  for (const char* lpFile : {"error.log", "warning.log", "info.log", "debug.log"}) {
    EXPECT_TRUE(m_log.Exists(lpFile)) << lpFile;
    EXPECT_EQ("", m_log.Read(lpFile)) << lpFile;
  }
}

TEST_F(AgentLogTest, EachLevelFlagGatesOnlyItsLevel) {
  m_log.Setting().SetInfoLogEnabled(FALSE);
  m_log.Install<CKxAgentLog>();
  CKxAgentLog::LogInfo("s", "i");
  CKxAgentLog::LogDebug("s", "d");
  EXPECT_EQ("", m_log.Read("info.log"));
  EXPECT_NE("", m_log.Read("debug.log"));
}

TEST_F(AgentLogTest, MissingDirectorySilencesTheLevelsWithoutACrash) {
  m_log.Setting().SetLogFileDir((m_log.Dir() + "/missing").c_str());
  m_log.Install<CKxAgentLog>();
  CKxAgentLog::LogError("s", "e");
  CKxAgentLog::LogInfo("s", "i");
  CKxAgentLog::LogEventWarning("w %d", 1);
  EXPECT_FALSE(m_log.Exists("missing"));
}

// A file that cannot be opened is reported for an enabled level only (a
// disabled one loses nothing), on standard error and in the event log.
TEST_F(AgentLogTest, OnlyAnEnabledLevelsUnopenableFileIsReported) {
  ASSERT_EQ(0, symlink("victim", (m_log.Dir() + "/warning.log").c_str()));
  ASSERT_EQ(0, symlink("victim", (m_log.Dir() + "/debug.log").c_str()));
  m_log.Setting().SetDebugLogEnabled(FALSE);
  size_t nEventsBefore = ReadEventLogRecords("Application").size();
  ::testing::internal::CaptureStderr();
  m_log.Install<CKxAgentLog>();
  EXPECT_EQ("KxAgent: the WARN log file " + m_log.Dir() +
                "/warning.log cannot be opened: The create operation stopped after reaching a symbolic link.\n",
            ::testing::internal::GetCapturedStderr());
  std::vector<CEventRecord> events = ReadEventLogRecords("Application");
  ASSERT_EQ(nEventsBefore + 1, events.size());
  EXPECT_EQ(0x80000102u, events.back().dwEventID);
  EXPECT_EQ(kx::Utf8ToCp932("ログファイル " + m_log.Dir() +
                            "/warning.log を開けないため、ファシリティ WARN のログ出力を停止します。(The create "
                            "operation stopped after reaching a symbolic link.)"),
            events.back().strFirstString);
  EXPECT_FALSE(m_log.Exists("victim"));
}

TEST_F(AgentLogTest, EntryPointsDoNothingBeforeTheLogExists) {
  ASSERT_EQ(nullptr, CKxAgentLog::GetInstance());
  EXPECT_EQ(nullptr, CKxAgentLog::GetInstance(nullptr));
  CKxAgentLog::LogError("s", "e");
  CKxAgentLog::LogDebugText("s", "d");
  CKxAgentLog::__LogEvent(EVENTLOG_ERROR_TYPE, "stopped");
  EXPECT_EQ("", m_log.Read("error.log"));
}

TEST_F(AgentLogTest, GetInstanceCreatesTheLogOnceFromTheFirstSetting) {
  CKxAgentLog* pFirst = CKxAgentLog::GetInstance(&m_log.Setting());
  ASSERT_NE(nullptr, pFirst);
  CKxAgentLogSetting other;
  EXPECT_EQ(pFirst, CKxAgentLog::GetInstance(&other));
  EXPECT_EQ(pFirst, CKxAgentLog::GetInstance());
  CKxAgentLog::LogInfo("s", "i");
  EXPECT_NE("", m_log.Read("info.log"));
  delete CKxAgentLog::ReplaceInstanceForTest(nullptr);
}

}  // namespace
