// Event-log records as the terminal sees them: records written by the
// eventcreate tool while the agent runs are pushed as notification lines, at the
// prompt and at the logon screen, never inside a command's output; show eventlog
// lists the newest records.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "tests/support/TemporarySystemRoot.h"

extern char** environ;

namespace kx {
namespace e2e {
namespace {

const char kStampPattern[] = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d";

// Runs eventcreate with the arguments; its exit code, or -1 when it did not run.
// What it wrote to standard error goes to *pstrError when given.
int RunEventCreate(const std::vector<std::string>& vecArguments, std::string* pstrError) {
  std::vector<std::string> vecArgs = {std::string(KX_BIN_DIR) + "/eventcreate"};
  vecArgs.insert(vecArgs.end(), vecArguments.begin(), vecArguments.end());
  std::vector<char*> argv;
  for (std::string& strArg : vecArgs) argv.push_back(&strArg[0]);
  argv.push_back(nullptr);
  char szErrorPath[] = "/tmp/kx-eventcreate-stderr-XXXXXX";
  int nErrorFd = mkstemp(szErrorPath);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (nErrorFd >= 0) posix_spawn_file_actions_adddup2(&actions, nErrorFd, 2);
  pid_t pid = -1;
  int nError = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int nStatus = 0;
  bool bRan = nError == 0 && waitpid(pid, &nStatus, 0) == pid && WIFEXITED(nStatus);
  if (nErrorFd >= 0) {
    if (pstrError != nullptr) {
      pstrError->clear();
      char buffer[4096];
      ssize_t n;
      lseek(nErrorFd, 0, SEEK_SET);
      while ((n = read(nErrorFd, buffer, sizeof(buffer))) > 0) pstrError->append(buffer, static_cast<size_t>(n));
    }
    close(nErrorFd);
    unlink(szErrorPath);
  }
  return bRan ? WEXITSTATUS(nStatus) : -1;
}

class EventLogE2eTest : public CAgentTest {
 protected:
  void StartWithNotification(BOOL bNotification) {
    CAgentOptions options = MakeTestOptions();
    options.m_bEventLogNotification = bNotification;
    options.m_vecLibraries.push_back("KxAgent.msg");
    StartAgent(options);
    if (HasFatalFailure()) return;
    // eventcreate writes to the agent's system state directory.
    setenv("KX_SYSTEM_ROOT", (m_pAgent->GetBaseDir() + "/system").c_str(), 1);
  }

  static int EventCreate(const std::vector<std::string>& vecArguments) {
    return RunEventCreate(vecArguments, nullptr);
  }

  static std::string NotifyLine(const std::string& strLog, const std::string& strType,
                                const std::string& strSource, int nCode, const std::string& strText) {
    return std::string("\\* ") + kStampPattern + " \\[" + strLog + ":" + strType + "\\] \\(" +
           RegexLiteral(strSource) + ":" + std::to_string(nCode) + "\\) " + RegexLiteral(strText) + "\n";
  }
};

TEST_F(EventLogE2eTest, RecordWrittenWhileTypingArrivesAsOneNotifyLine) {
  StartWithNotification(TRUE);
  ASSERT_FALSE(HasFatalFailure());
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(m_pAgent->Send("show da"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "show da"));
  ASSERT_EQ(0, EventCreate({"/L", "System", "/T", "ERROR", "/ID", "5", "/SO", "Tester", "/D",
                            "disk\r\nfailed\tnow"}));
  ASSERT_TRUE(ReceivesMatching(*m_pAgent, "\n", NotifyLine("System", "ERROR", "Tester", 5, "diskfailed now")));
  // The line being typed is still there: finishing it runs the command.
  ASSERT_TRUE(m_pAgent->Send("te\r"));
  ASSERT_TRUE(ReceivesMatching(*m_pAgent, Prompt(), "te\r\n Local Time : [^\n]*\n System Time: [^\n]*\n\r\n" +
                                                        RegexLiteral(Prompt())));
}

TEST_F(EventLogE2eTest, SeveralRecordsArriveOldestFirst) {
  StartWithNotification(TRUE);
  ASSERT_FALSE(HasFatalFailure());
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  std::string strExpected;
  for (int i = 1; i <= 5; ++i) {
    std::string strText = "record " + std::to_string(i);
    ASSERT_EQ(0, EventCreate({"/L", "Application", "/T", "WARNING", "/ID", "7", "/SO", "Batch", "/D", strText}));
    strExpected += NotifyLine("Application", "WARNING", "Batch", 7, strText);
  }
  ASSERT_TRUE(ReceivesMatching(*m_pAgent, "record 5\n", strExpected));
}

TEST_F(EventLogE2eTest, RecordsStillAppearAtTheLogonScreen) {
  StartWithNotification(TRUE);
  ASSERT_FALSE(HasFatalFailure());
  // The shell's UTF-8 reaches the terminal as code page 932 ("表示" is 95 5C 8E A6).
  ASSERT_EQ(0, EventCreate({"/l", "security", "/t", "success", "/id", "1", "/so", "Audit", "/d", "nobody 表示"}));
  ASSERT_TRUE(ReceivesMatching(*m_pAgent, "\n", NotifyLine("Security", "SUCCESS", "Audit", 1, "nobody \x95\x5C\x8E\xA6")));
}

TEST(EventCreateTest, BadSwitchesAreUsageErrorsOnStandardError) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"/X"},
      {"plain"},
      {"/T"},
      {"/T", "FATAL", "/ID", "1", "/D", "x"},
      {"/T", "ERROR", "/ID", "0", "/D", "x"},
      {"/T", "ERROR", "/ID", "1001", "/D", "x"},
      {"/T", "ERROR", "/ID", "12x", "/D", "x"},
      {"/T", "ERROR", "/D", "x"},
      {"/T", "ERROR", "/ID", "1"},
      {"/T", "ERROR", "/T", "ERROR", "/ID", "1", "/D", "x"},
      {"/L", "Setup", "/T", "ERROR", "/ID", "1", "/D", "x"},
      {"/T", "ERROR", "/ID", "1", "/D", "x", "/SO", "../escape"},
      {"/REGISTER", "/SO", "x"},
      {"/CLEAR"},
      {"/MAXRECORDS", "many", "/L", "System"},
  };
  CTemporarySystemRoot root;
  ASSERT_TRUE(root.Enter("/tmp/kx-eventcreate-XXXXXX"));
  for (const std::vector<std::string>& args : cases) {
    std::string strArgs;
    for (const std::string& strArg : args) strArgs += strArg + " ";
    std::string strError;
    EXPECT_EQ(1, RunEventCreate(args, &strError)) << strArgs;
    EXPECT_EQ(0u, strError.find("ERROR: ")) << strArgs << ": " << strError;
  }
  std::string strError;
  EXPECT_EQ(0, RunEventCreate({"-t", "Information", "-id", "1000", "-d", "ok"}, &strError)) << strError;
  EXPECT_EQ(0, RunEventCreate({"/T", "ERROR", "/RAWID", "0xC0000103", "/D", "ok", "/STR", "2", "/STR", "3"}, &strError))
      << strError;
  EXPECT_EQ(0, RunEventCreate({"/?"}, &strError));
}

TEST_F(EventLogE2eTest, NotificationOffPushesNothingUntilSwitchedOn) {
  StartWithNotification(FALSE);
  ASSERT_FALSE(HasFatalFailure());
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(0, EventCreate({"/L", "System", "/T", "ERROR", "/ID", "2", "/D", "unseen"}));
  // Well past the watcher's one-second round: nothing may arrive.
  EXPECT_EQ("", m_pAgent->ReadFor(2500));
  TypeCommand("set eventlog-notification on");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, Prompt()));
  ASSERT_EQ(0, EventCreate({"/L", "System", "/T", "ERROR", "/ID", "2", "/D", "seen"}));
  ASSERT_TRUE(ReceivesMatching(*m_pAgent, "\n", NotifyLine("System", "ERROR", "EventCreate", 2, "seen")));
}

TEST_F(EventLogE2eTest, PushedRecordsWaitUntilShowEventLogHasFinished) {
  StartWithNotification(TRUE);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(0, EventCreate({"/L", "Application", "/T", "INFORMATION", "/ID", "3", "/SO", "Filler", "/D",
                            "filler", "/COUNT", "1000"}));
  // The filler is announced at the logon screen first.
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(m_pAgent->ReadUntil("filler\n").m_bFound) << i;
  LogOn();
  ASSERT_FALSE(HasFatalFailure());

  ASSERT_TRUE(m_pAgent->Send("show eventlog application 1000\r"));
  // Records written while the command runs. The writer starts once the line is
  // echoed: a record pushed while the line is still being typed would land in
  // the echo, which is right for the agent but not what this test looks at.
  const std::string strEcho = "show eventlog application 1000\r\n";
  CReadResult echo = m_pAgent->ReadUntil(strEcho);
  ASSERT_TRUE(echo.m_bFound) << m_pAgent->Describe();
  ASSERT_EQ(strEcho, echo.m_strBytes) << EscapeBytes(echo.m_strBytes);
  std::thread writer([] {
    for (int i = 1; i <= 3; ++i) {
      EventCreate({"/L", "System", "/T", "ERROR", "/ID", "9", "/SO", "During", "/D", "during " + std::to_string(i)});
    }
  });
  CReadResult output = m_pAgent->ReadUntil(Prompt());
  writer.join();
  ASSERT_TRUE(output.m_bFound) << m_pAgent->Describe();
  // Pushed lines may come before the first record line or after the prompt, never between.
  std::string strBody = output.m_strBytes;
  size_t nFirst = strBody.find("[00001] ");
  ASSERT_NE(std::string::npos, nFirst) << EscapeBytes(strBody.substr(0, 300));
  std::string strRecords = strBody.substr(nFirst, strBody.size() - nFirst - Prompt().size());
  EXPECT_EQ(std::string::npos, strRecords.find("* ")) << "a pushed line inside the command's output";
  const std::regex line(std::string("\\[\\d{5}\\] ") + kStampPattern + " \\[INFO\\] \\(Filler:3\\) filler\n");
  size_t nLines = 0;
  for (std::sregex_iterator it(strRecords.begin(), strRecords.end(), line), end; it != end; ++it) ++nLines;
  EXPECT_EQ(1000u, nLines);
  EXPECT_EQ(0u, strRecords.find("[00001] "));
  EXPECT_NE(std::string::npos, strRecords.find("[01000] "));
  // The records written meanwhile follow the prompt.
  ASSERT_TRUE(m_pAgent->ReadUntil("during 3\n").m_bFound) << m_pAgent->Describe();
}

TEST_F(EventLogE2eTest, ShowEventLogRefusesBadLineAndReportsAnEmptyLog) {
  StartWithNotification(FALSE);
  ASSERT_FALSE(HasFatalFailure());
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  TypeCommand("show eventlog security");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "[Error] No records found.\n" + Prompt()));
  TypeCommand("show eventlog system 1001");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent,
                              "[Error] Please input an integer between 1 and 1000 into 'LINE'.\n" + Prompt()));
  ASSERT_EQ(0, EventCreate({"/L", "System", "/T", "WARNING", "/ID", "4", "/SO", "Shown", "/D", "only one"}));
  TypeCommand("show eventlog system 5");
  ASSERT_TRUE(ReceivesMatching(*m_pAgent, Prompt(),
                               std::string("\\[00001\\] ") + kStampPattern +
                                   " \\[WARNING\\] \\(Shown:4\\) only one\n" + RegexLiteral(Prompt())));
}

// The event ID of record dwRecord of the Application log, or 0xFFFFFFFF.
DWORD EventIdOf(DWORD dwRecord) {
  HEVENTLOG hLog = nullptr;
  if (OpenEventLogByName("Application", &hLog) != ERROR_SUCCESS) return 0xFFFFFFFF;
  std::vector<BYTE> record(4096);
  DWORD dwRead = 0, dwNeeded = 0;
  DWORD dwError =
      ReadEventLogRecord(hLog, dwRecord, record.data(), static_cast<DWORD>(record.size()), &dwRead, &dwNeeded);
  CloseEventLogHandle(hLog);
  if (dwError != ERROR_SUCCESS) return 0xFFFFFFFF;
  return reinterpret_cast<const EVENTLOGRECORD*>(record.data())->EventID;
}

// Numbers are decimal unless they start with 0x: a leading zero is no octal prefix.
TEST(EventCreateTest, EventIdsWithLeadingZerosAreDecimal) {
  CTemporarySystemRoot root;
  ASSERT_TRUE(root.Enter("/tmp/kx-eventcreate-ids-XXXXXX"));
  const struct {
    const char* lpSwitch;
    const char* lpValue;
    DWORD dwExpected;
  } kCases[] = {
      {"/ID", "010", 10}, {"/ID", "08", 8}, {"/RAWID", "0100", 100}, {"/RAWID", "0x40000010", 0x40000010},
  };
  DWORD dwRecord = 0;
  for (const auto& c : kCases) {
    ASSERT_EQ(0, RunEventCreate({"/T", "INFORMATION", c.lpSwitch, c.lpValue, "/D", "x"}, nullptr))
        << c.lpSwitch << " " << c.lpValue;
    EXPECT_EQ(c.dwExpected, EventIdOf(++dwRecord)) << c.lpSwitch << " " << c.lpValue;
  }
  EXPECT_EQ(1, RunEventCreate({"/T", "INFORMATION", "/ID", "0x", "/D", "x"}, nullptr));
  EXPECT_EQ(1, RunEventCreate({"/T", "INFORMATION", "/ID", "1001", "/D", "x"}, nullptr));
}

}  // namespace
}  // namespace e2e
}  // namespace kx
