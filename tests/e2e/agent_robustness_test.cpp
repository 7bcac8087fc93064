// Hostile input and broken surroundings: random bytes at both prompts, broken
// configuration files, a link planted in the log folder, a port that does not exist.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "e2e_support.h"
#include "platform/text_encoding.h"

namespace kx {
namespace e2e {
namespace {

const char kNotPermitted[] =
    "logon incorrect.\r\n(It does not register with a logon permission list, or not permitted.)\n";
const size_t kGarbageSize = 1u << 20;
const std::uint64_t kRssLimitKb = 64 * 1024;
const int kFloodTimeoutMs = 240000;

// Reproducible random bytes. Line ends are left out: at the logon prompt every
// password line costs the one-second failure pause, and at the command prompt a
// random line could name a real command (kill, shutdown) on the machine that runs
// the test.
std::string MakeGarbage(size_t cbSize, unsigned uSeed) {
  std::mt19937 random(uSeed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string strBytes;
  strBytes.reserve(cbSize);
  while (strBytes.size() < cbSize) {
    char c = static_cast<char>(byte(random));
    if (c != '\r' && c != '\n') strBytes += c;
  }
  return strBytes;
}

class RobustnessTest : public CAgentTest {
 protected:
  void ExpectBoundedMemory() {
    CProcessStats stats = m_pAgent->GetProcessStats();
    ASSERT_TRUE(stats.m_bValid);
    EXPECT_LT(stats.m_ullRssKb, kRssLimitKb);
  }
  // The agent takes a flood only as far as its input queue holds; the rest is
  // dropped. What it took is answered until it has caught up.
  void WaitUntilQuiet() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFloodTimeoutMs);
    while (!m_pAgent->ReadFor(2000).empty() && std::chrono::steady_clock::now() < deadline) {
    }
  }
};

TEST_F(RobustnessTest, RandomBytesAtTheLogonPromptLeaveTheAgentResponsive) {
  StartAgent();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(m_pAgent->Send(MakeGarbage(kGarbageSize, 1326), kFloodTimeoutMs)) << m_pAgent->GetLastError();
  WaitUntilQuiet();

  // Whatever the random user name became, one line end asks for its password (or,
  // when the name was erased again, shows the logon screen).
  ASSERT_TRUE(m_pAgent->Send("\r"));
  int nWhich = -1;
  CReadResult result = m_pAgent->ReadUntilAny({"\r\npassword: ", "\r\n" + LogonScreen()}, &nWhich,
                                              kFloodTimeoutMs);
  ASSERT_TRUE(result.m_bFound) << m_pAgent->Describe();
  if (nWhich == 0) {
    ASSERT_TRUE(m_pAgent->Send("\r"));
    ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + std::string(kNotPermitted) + "\r\n" + LogonScreen(),
                                3 * kDefaultTimeoutMs));
  }
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + LogonScreen()));
  ExpectBoundedMemory();
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(m_pAgent->ReadAllLogs().find(kAlicePassword), std::string::npos);
  CExitStatus status = m_pAgent->Stop();
  EXPECT_TRUE(status.m_bExited && status.m_nExitCode == 0) << "signal " << status.m_nSignal;
}

TEST_F(RobustnessTest, RandomBytesAtTheCommandPromptLeaveTheSessionUsable) {
  StartAgent();
  ASSERT_FALSE(HasFatalFailure());
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(m_pAgent->Send(MakeGarbage(kGarbageSize, 997), kFloodTimeoutMs)) << m_pAgent->GetLastError();
  WaitUntilQuiet();

  // Cursor to the start and a line end discard whatever line the bytes left;
  // a line no random byte can have produced then marks where the flood ends.
  const std::string strMarker = "no-such-command-7Zq";
  ASSERT_TRUE(m_pAgent->Send(std::string(300, '\x02') + "\r" + strMarker + "\r"));
  CReadResult result = m_pAgent->ReadUntil("[Error] '" + strMarker + "' command not found.\n" + Prompt(),
                                           kFloodTimeoutMs);
  ASSERT_TRUE(result.m_bFound) << m_pAgent->Describe();
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + Prompt()));
  ExpectBoundedMemory();
  TypeCommand("show ve");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, m_pAgent->GetBanner() + "\n"));
  CExitStatus status = m_pAgent->Stop();
  EXPECT_TRUE(status.m_bExited && status.m_nExitCode == 0) << "signal " << status.m_nSignal;
}

// A configuration the agent cannot read leaves the defaults in force: port 1 at
// 9600 bit/s and no logon account.
class BrokenConfigurationTest : public CAgentTest, public ::testing::WithParamInterface<int> {};

TEST_P(BrokenConfigurationTest, AgentStartsWithDefaultsAndAdmitsNobody) {
  CAgentOptions options = MakeTestOptions();
  std::string strReason;  // what the report gives after the file's name
  switch (GetParam()) {
    case 0:
      options.m_bWriteSystemConfig = FALSE;
      strReason = ": The system cannot find the file specified.";
      break;
    case 1:
      options.m_strSystemConfigXml =
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<system-config>\n  <logon-timeout>30</logon-";
      strReason = ": line 3, column ";
      break;
    default:
      options.m_strSystemConfigXml = MakeGarbage(4096, 5);
      strReason = ": line 1, column ";
      break;
  }
  StartAgent(options);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(m_pAgent->Send(std::string(kAlice) + "\r" + kAlicePassword + "\r"));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent,
                              std::string(kAlice) + "\r\npassword: \r\n" + kNotPermitted + "\r\n" + LogonScreen(),
                              3 * kDefaultTimeoutMs));

  // Which file and why, where an administrator finds it: the defaults keep the
  // level files off, so standard error and the event log carry it.
  const std::string strProblem = m_pAgent->GetBaseDir() + "/config/sysconfig.xml" + strReason;
  EXPECT_NE(std::string::npos, m_pAgent->ReadProgramOutput().find(
                                   "KxAgent: the system configuration cannot be read; the default settings are used: " +
                                   strProblem))
      << m_pAgent->ReadProgramOutput();
  const std::string strNotice =
      Utf8ToCp932("システム設定ファイルを読み込めなかったため、既定の設定で開始します。(") + strProblem;
  int nReports = 0;
  for (const CEventRecord& record : ReadEventLog(*m_pAgent, "Application")) {
    if (record.strSource == "KxAgent" && record.strFirstString.compare(0, strNotice.size(), strNotice) == 0) {
      EXPECT_EQ(0xC0000103u, record.dwEventID);
      EXPECT_EQ(EVENTLOG_ERROR_TYPE, record.wEventType);
      ++nReports;
    }
  }
  EXPECT_EQ(1, nReports);
}

// A warning.log planted as a link in the log folder is not appended through (the
// user names typed at the logon screen go there); the agent says so once, goes on
// serving, and creates the other files readable by its group only, whatever the umask.
TEST_F(RobustnessTest, LinkPlantedInTheLogFolderIsNotWrittenThrough) {
  namespace fs = std::filesystem;
  char szLogDir[] = "/tmp/kx-e2e-log-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(szLogDir));
  const fs::path logDir = szLogDir;
  std::ofstream(logDir / "victim") << "untouched";
  fs::create_symlink(logDir / "victim", logDir / "warning.log");
  CAgentOptions options = MakeTestOptions();
  options.m_strSystemConfigXml = BuildSystemConfigXml(options, logDir.string());
  mode_t oldMask = umask(0);
  StartAgent(options);
  umask(oldMask);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(m_pAgent->Send(std::string(kBob) + "\r" + kBobPassword + "\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent,
                              std::string(kBob) + "\r\npassword: \r\n" + kNotPermitted + "\r\n" + LogonScreen(),
                              3 * kDefaultTimeoutMs));
  LogOn();
  ASSERT_FALSE(HasFatalFailure());

  std::ifstream victim(logDir / "victim");
  EXPECT_EQ("untouched", std::string(std::istreambuf_iterator<char>(victim), std::istreambuf_iterator<char>()));
  for (const char* lpName : {"error.log", "info.log", "debug.log"}) {
    struct stat info;
    ASSERT_EQ(0, lstat((logDir / lpName).c_str(), &info)) << lpName;
    EXPECT_EQ(0640u, info.st_mode & 07777) << lpName;
  }
  std::ifstream info(logDir / "info.log");
  EXPECT_NE(std::string::npos, std::string(std::istreambuf_iterator<char>(info), std::istreambuf_iterator<char>())
                                   .find("[logon] user 'alice@(LOCAL)' logon success."));
  const std::string strPath = (logDir / "warning.log").string();
  EXPECT_NE(std::string::npos,
            m_pAgent->ReadProgramOutput().find("KxAgent: the WARN log file " + strPath +
                                               " cannot be opened: The create operation stopped after reaching "
                                               "a symbolic link.\n"))
      << m_pAgent->ReadProgramOutput();
  int nReports = 0;
  for (const CEventRecord& record : ReadEventLog(*m_pAgent, "Application")) {
    if (record.strSource == "KxAgent" && record.strFirstString.find(strPath) != std::string::npos) {
      EXPECT_EQ(0x80000102u, record.dwEventID);
      ++nReports;
    }
  }
  EXPECT_EQ(1, nReports);
  CExitStatus status = m_pAgent->Stop();
  EXPECT_TRUE(status.m_bExited && status.m_nExitCode == 0) << "signal " << status.m_nSignal;
  fs::remove_all(logDir);
}

INSTANTIATE_TEST_SUITE_P(MissingTruncatedOrGarbage, BrokenConfigurationTest, ::testing::Values(0, 1, 2));

TEST(MissingPortTest, AgentEndsWithAnErrorWhenItsPortCannotBeOpened) {
  CAgentOptions options = MakeTestOptions();
  options.m_dwComPort = 200;  // neither <base>/dev/COM200 nor /dev/ttyS199 exists
  options.m_bCreateComPort = FALSE;
  CAgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.GetLastError();
  CExitStatus status = agent.WaitForExit(3 * kDefaultTimeoutMs);
  ASSERT_FALSE(status.m_bTimedOut) << "the agent kept running without its port";
  EXPECT_TRUE(status.m_bExited) << "signal " << status.m_nSignal;
  EXPECT_NE(status.m_nExitCode, 0);
  EXPECT_FALSE(agent.ReadProgramOutput().empty()) << "no message on the standard error";
}

}  // namespace
}  // namespace e2e
}  // namespace kx
