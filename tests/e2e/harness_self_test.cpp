// The harness's own behaviour, checked against a small echo program so that it is
// known to work before the agent is there to drive.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "agent_harness.h"

namespace kx {
namespace e2e {
namespace {

std::string ReadFile(const std::string& strPath) {
  std::ifstream file(strPath, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

CAgentOptions MakePeerOptions() {
  CAgentOptions options = MakeAgentOptions();
  options.m_strProgram = KX_E2E_ECHO_PEER;
  options.m_vecLibraries.clear();
  CAgentAccount account;
  account.m_strName = "alice";
  account.m_strPassword = "secret";
  account.m_vecCommandIDs = {0, 5, 16};
  options.m_vecAccounts = {account};
  options.m_vecPamOnlyUsers = {{"bob", "hunter2"}};
  return options;
}

class HarnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_pPeer = std::make_unique<CAgentHarness>(MakePeerOptions());
    ASSERT_TRUE(m_pPeer->Start()) << m_pPeer->GetLastError();
    ASSERT_TRUE(m_pPeer->WaitForPortConfigured()) << m_pPeer->GetLastError() << "\n"
                                                  << m_pPeer->Describe();
  }
  std::unique_ptr<CAgentHarness> m_pPeer;
};

TEST(EscapeBytesTest, MakesEveryByteVisible) {
  struct {
    std::string strIn;
    std::string strOut;
  } cases[] = {
      {"abc", "abc"},
      {"\r\n", "\\r\\n"},
      {std::string("\x1b[A", 3), "\\x1b[A"},
      {std::string("\x08 \x08", 3), "\\x08 \\x08"},
      {std::string("\0\xff", 2), "\\x00\\xff"},
      {"a\\b\t", "a\\\\b\\t"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeBytes(c.strIn), c.strOut) << c.strOut;
}

TEST(SystemConfigXmlTest, CarriesSettingsAndAccounts) {
  CAgentOptions options = MakePeerOptions();
  options.m_dwLogonTimeout = 7;
  options.m_strOutputEncoding = "EUC-JP";
  options.m_vecAccounts[0].m_strName = "a<b";
  std::string strXml = BuildSystemConfigXml(options, "/tmp/x&y/log");
  for (const char* lpPart :
       {"<?xml version=\"1.0\" encoding=\"UTF-8\"", "<port>1</port>", "<speed>9600</speed>",
        "<output-encoding>EUC-JP</output-encoding>", "<logon-timeout>7</logon-timeout>",
        "<eventlog-notification>off</eventlog-notification>",
        "<execution-improper-command>hidden</execution-improper-command>",
        "logdir=\"/tmp/x&amp;y/log\"", "<log severity=\"DEBUG\" logging=\"yes\"/>",
        "<account id=\"1\" logon=\"yes\" domain=\"no\">", "<account-name>a&lt;b</account-name>",
        "<command id=\"16\"/>"}) {
    EXPECT_NE(strXml.find(lpPart), std::string::npos) << lpPart << "\n" << strXml;
  }
}

TEST(HarnessStartTest, MissingProgramIsReported) {
  CAgentOptions options = MakePeerOptions();
  options.m_strProgram = "/nonexistent/KxAgent";
  CAgentHarness harness(options);
  EXPECT_FALSE(harness.Start());
  EXPECT_NE(harness.GetLastError().find("/nonexistent/KxAgent"), std::string::npos);
}

TEST_F(HarnessTest, BuildsTheInstallation) {
  const std::string& strBase = m_pPeer->GetBaseDir();
  struct stat info;
  ASSERT_EQ(lstat((strBase + "/" + std::filesystem::path(KX_E2E_ECHO_PEER).filename().string()).c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode)) << "the program must be a copy, not a link";
  ASSERT_EQ(lstat((strBase + "/dev/COM1").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(std::filesystem::read_symlink(strBase + "/dev/COM1").string().rfind("/dev/pts/", 0), 0u);
  EXPECT_NE(ReadFile(strBase + "/config/sysconfig.xml").find("<account-name>alice</account-name>"),
            std::string::npos);
  EXPECT_EQ(ReadFile(strBase + "/passdb"), "alice:secret:kxagent\nbob:hunter2:kxagent\n");
  std::string strService = ReadFile(strBase + "/pam.d/kxagent");
  EXPECT_NE(strService.find("auth required /usr/lib/x86_64-linux-gnu/pam_wrapper/pam_matrix.so passdb=" +
                            strBase + "/passdb"),
            std::string::npos)
      << strService;
  EXPECT_NE(strService.find("account required "), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(strBase + "/system"));
  EXPECT_TRUE(std::filesystem::is_directory(strBase + "/log"));
}

TEST_F(HarnessTest, GivesTheProgramItsEnvironment) {
  ASSERT_TRUE(m_pPeer->Send("E"));
  const std::string& strBase = m_pPeer->GetBaseDir();
  std::string strExpected = "KX_SYSTEM_ROOT=" + strBase + "/system\nPAM_WRAPPER=1\n" +
                            "PAM_WRAPPER_SERVICE_DIR=" + strBase + "/pam.d\n" +
                            "LD_PRELOAD=/usr/lib/x86_64-linux-gnu/libpam_wrapper.so\n" +
                            "cwd=" + strBase + "\n";
  std::string strFailure;
  EXPECT_TRUE(m_pPeer->ExpectExactly(strExpected, &strFailure)) << strFailure;
}

TEST_F(HarnessTest, ReadsExactBytesAndKeepsTheRest) {
  ASSERT_TRUE(m_pPeer->Send("one\r\ntwo"));
  CReadResult first = m_pPeer->ReadUntil("\r\n");
  EXPECT_TRUE(first.m_bFound);
  EXPECT_EQ(first.m_strBytes, "one\r\n");
  std::string strFailure;
  EXPECT_TRUE(m_pPeer->ExpectExactly("two", &strFailure)) << strFailure;
}

TEST_F(HarnessTest, ReadUntilAnyStopsAtTheEarliestOfSeveralTexts) {
  ASSERT_TRUE(m_pPeer->Send("abc password: xyz logon: "));
  int nWhich = -1;
  CReadResult result = m_pPeer->ReadUntilAny({" logon: ", "password: "}, &nWhich);
  EXPECT_TRUE(result.m_bFound);
  EXPECT_EQ(nWhich, 1);
  EXPECT_EQ(result.m_strBytes, "abc password: ");
  result = m_pPeer->ReadUntilAny({"nothing", "else"}, &nWhich, 200);
  EXPECT_FALSE(result.m_bFound);
  EXPECT_EQ(nWhich, -1);
  EXPECT_EQ(result.m_strBytes, "xyz logon: ");
}

TEST_F(HarnessTest, ExpectationFailureShowsEscapedBytes) {
  ASSERT_TRUE(m_pPeer->Send("xy\x1b[A"));
  std::string strFailure;
  EXPECT_FALSE(m_pPeer->ExpectExactly("[A", &strFailure));
  EXPECT_NE(strFailure.find("received: \"xy\\x1b[A\""), std::string::npos) << strFailure;
}

TEST_F(HarnessTest, ReadUntilGivesUpAfterItsTimeOut) {
  ASSERT_TRUE(m_pPeer->Send("partial"));
  CReadResult result = m_pPeer->ReadUntil("never sent", 300);
  EXPECT_FALSE(result.m_bFound);
  EXPECT_EQ(result.m_strBytes, "partial");
  EXPECT_EQ(m_pPeer->ReadFor(100), "");
}

TEST_F(HarnessTest, SendsAMebibyteWhileTheEchoComesBack) {
  std::string strData;
  for (size_t i = 0; i < (1u << 20); ++i) strData += static_cast<char>('a' + i % 26);
  strData += "0123456789";
  ASSERT_TRUE(m_pPeer->Send(strData, 60000)) << m_pPeer->GetLastError();
  CReadResult result = m_pPeer->ReadUntil("0123456789", 60000);
  ASSERT_TRUE(result.m_bFound);
  EXPECT_TRUE(result.m_strBytes == strData) << "echo differs; " << result.m_strBytes.size() << " bytes";
}

TEST_F(HarnessTest, StopEndsTheProgramWithItsExitCode) {
  CExitStatus status = m_pPeer->Stop();
  EXPECT_TRUE(status.m_bExited);
  EXPECT_EQ(status.m_nExitCode, 0);
  EXPECT_FALSE(m_pPeer->IsRunning());
}

TEST_F(HarnessTest, WaitForExitReportsAnExitOfItsOwn) {
  ASSERT_TRUE(m_pPeer->Send("Q"));
  CExitStatus status = m_pPeer->WaitForExit();
  EXPECT_TRUE(status.m_bExited);
  EXPECT_EQ(status.m_nExitCode, 3);
  CReadResult result = m_pPeer->ReadUntil("anything", 200);
  EXPECT_FALSE(result.m_bFound);
}

TEST_F(HarnessTest, MeasuresResidentMemoryAndCpuTime) {
  CProcessStats before = m_pPeer->GetProcessStats();
  ASSERT_TRUE(before.m_bValid);
  EXPECT_GT(before.m_ullRssKb, 0u);
  ASSERT_TRUE(m_pPeer->Send("M"));
  std::string strFailure;
  ASSERT_TRUE(m_pPeer->ExpectExactly("M", &strFailure)) << strFailure;
  CProcessStats after = m_pPeer->GetProcessStats();
  EXPECT_GE(after.m_ullRssKb, before.m_ullRssKb + 15 * 1024);
  EXPECT_GE(after.m_ullPeakRssKb, after.m_ullRssKb);
  EXPECT_GE(after.m_ullCpuTimeMs, before.m_ullCpuTimeMs);
}

TEST_F(HarnessTest, ReadsTheLogDirectory) {
  EXPECT_EQ(m_pPeer->ReadLogFile("info.log"), "peer started\r\n");
  EXPECT_EQ(m_pPeer->ReadLogFile("error.log"), "");
  EXPECT_EQ(m_pPeer->ReadAllLogs(), "peer started\r\n");
}

TEST(HarnessCleanupTest, RemovesTheBaseDirectoryAndTheProgram) {
  std::string strBase;
  pid_t pid;
  {
    CAgentHarness harness(MakePeerOptions());
    ASSERT_TRUE(harness.Start());
    ASSERT_TRUE(harness.WaitForPortConfigured());
    strBase = harness.GetBaseDir();
    pid = harness.GetPid();
  }
  EXPECT_FALSE(std::filesystem::exists(strBase));
  EXPECT_NE(kill(pid, 0), 0) << "the program still runs";
}

}  // namespace
}  // namespace e2e
}  // namespace kx
