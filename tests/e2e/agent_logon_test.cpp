// The logon screen and the logon dialogue, byte for byte as the terminal sees them.
#include <gtest/gtest.h>

#include <string>

#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

const char kNotPermitted[] =
    "logon incorrect.\r\n(It does not register with a logon permission list, or not permitted.)\n";
const char kBackspaceEcho[] = "\x08\x20\x08\x20\x08\x20\x08";

class LogonTest : public CAgentTest {
 protected:
  void SetUp() override { StartAgent(); }

  // After a password line end: CR LF, the refusal with the system's text of
  // error 1326, a pause and CR LF + the logon screen.
  ::testing::AssertionResult ReceivesPasswordRefusal() {
    return ReceivesExactly(*m_pAgent,
                           "\r\nlogon incorrect.\r\n([Error] (0x0000052e) Logon failure: unknown user name "
                           "or bad password.)\n\r\n" + LogonScreen(),
                           2 * kDefaultTimeoutMs);
  }
};

TEST_F(LogonTest, EveryEmptyLineEndShowsTheLogonScreenAgain) {
  // CR, CR LF and LF each end one line; an LF right after a CR belongs to it,
  // so the lone LF follows a key that is ignored here (cursor left).
  for (const char* lpLineEnd : {"\r", "\r\n", "\x02\n", "\r"}) {
    ASSERT_TRUE(m_pAgent->Send(lpLineEnd));
    EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + LogonScreen())) << EscapeBytes(lpLineEnd);
  }
}

TEST_F(LogonTest, ListedAccountLogsOnWithoutPasswordEcho) {
  LogOn(kAlice, kAlicePassword);
}

TEST_F(LogonTest, EmptyDomainAfterTheAtSignLogsOnLocally) {
  ASSERT_TRUE(m_pAgent->Send(std::string(kAlice) + "@\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(kAlice) + "@\r\npassword: "));
  ASSERT_TRUE(m_pAgent->Send(std::string(kAlicePassword) + "\r"));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\n\r\n" + Prompt(kAlice)));
}

TEST_F(LogonTest, AccountsOutsideThePermissionListAreRefusedWithoutAskingTheSystem) {
  struct {
    std::string strUser;
    std::string strPassword;
  } cases[] = {
      {kBob, kBobPassword},              // known to the system, not listed
      {kCarol, kCarolPassword},          // listed, logon not allowed
      {"Alice", kAlicePassword},         // names compare case-sensitively
      {"alice@corp", kAlicePassword},    // listed locally, not for that domain
      {"nobody", "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.strUser);
    ASSERT_TRUE(m_pAgent->Send(c.strUser + "\r"));
    ASSERT_TRUE(ReceivesExactly(*m_pAgent, c.strUser + "\r\npassword: "));
    ASSERT_TRUE(m_pAgent->Send(c.strPassword + "\r"));
    ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + std::string(kNotPermitted) + "\r\n" + LogonScreen(),
                                2 * kDefaultTimeoutMs));
  }
}

TEST_F(LogonTest, WrongPasswordShowsTheSystemErrorAndTheLogonScreenAgain) {
  ASSERT_TRUE(m_pAgent->Send(std::string(kAlice) + "\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(kAlice) + "\r\npassword: "));
  ASSERT_TRUE(m_pAgent->Send("Wrong-Pw-0x52e\r"));
  ASSERT_TRUE(ReceivesPasswordRefusal());
  LogOn(kAlice, kAlicePassword);
}

TEST_F(LogonTest, CrLfTerminalIsAskedForThePasswordOnceAndLogsOn) {
  ASSERT_TRUE(m_pAgent->Send(std::string(kAlice) + "\r\n"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(kAlice) + "\r\npassword: "));
  // The LF does not submit an empty password: the prompt waits.
  EXPECT_EQ("", EscapeBytes(m_pAgent->ReadFor(1500)));
  ASSERT_TRUE(m_pAgent->Send(std::string(kAlicePassword) + "\r\n"));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\n\r\n" + Prompt()));
}

TEST_F(LogonTest, BackspaceEditsBothLinesAndEchoesItsEraseSequenceInThePasswordToo) {
  // At position 0 a backspace does nothing: the next bytes are the logon screen.
  ASSERT_TRUE(m_pAgent->Send("\x08\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + LogonScreen()));

  ASSERT_TRUE(m_pAgent->Send("alicx\x7f"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string("alicx") + kBackspaceEcho));
  ASSERT_TRUE(m_pAgent->Send("e\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "e\r\npassword: "));
  // The password's characters send nothing, its backspace sends the erase.
  ASSERT_TRUE(m_pAgent->Send(std::string(kAlicePassword) + "Z\x08"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, kBackspaceEcho));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\n\r\n" + Prompt(kAlice)));
}

TEST_F(LogonTest, ControlBytesHighBytesAndCursorKeysAreIgnoredBeforeLogon) {
  ASSERT_TRUE(m_pAgent->Send(std::string("\x02\x06\x09\x0e\x10\x01\x1b[A\x1b[D") + "al" +
                             "\x80\xe9\xff\x82\xa0" + "ice\x1b[B\x1b[4~"));
  // ESC [ 4 ~ is a backspace.
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string("alice") + kBackspaceEcho));
  ASSERT_TRUE(m_pAgent->Send("e\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "e\r\npassword: "));
  ASSERT_TRUE(m_pAgent->Send(std::string(kAlicePassword) + "\r"));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\n\r\n" + Prompt(kAlice)));
}

TEST_F(LogonTest, UserNameStopsAt256Characters) {
  std::string strLong(300, 'u');
  ASSERT_TRUE(m_pAgent->Send(strLong));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(256, 'u')));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\npassword: "));
  ASSERT_TRUE(m_pAgent->Send("pw\r"));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + std::string(kNotPermitted) + "\r\n" + LogonScreen(),
                              2 * kDefaultTimeoutMs));
}

TEST_F(LogonTest, LogonsAreLoggedWithoutThePassword) {
  const std::string strWrong = "Wrong-Pw-Logged-Never";
  ASSERT_TRUE(m_pAgent->Send(std::string(kAlice) + "\r" + strWrong + "\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(kAlice) + "\r\npassword: "));
  ASSERT_TRUE(ReceivesPasswordRefusal());
  LogOn(kAlice, kAlicePassword);
  ASSERT_FALSE(HasFatalFailure());

  std::string strInfo = m_pAgent->ReadLogFile("info.log");
  std::string strWarning = m_pAgent->ReadLogFile("warning.log");
  EXPECT_TRUE(std::regex_search(
      strInfo, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d INFO  \[logon\] user 'alice@\(LOCAL\)' logon success\.)"
                          "\r\n")))
      << EscapeBytes(strInfo);
  EXPECT_TRUE(std::regex_search(
      strWarning, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d WARN  \[logon\] user 'alice@\(LOCAL\)' logon failure\. ErrMsg=logon incorrect\.)")))
      << EscapeBytes(strWarning);
  std::string strLogs = m_pAgent->ReadAllLogs();
  EXPECT_EQ(strLogs.find(kAlicePassword), std::string::npos);
  EXPECT_EQ(strLogs.find(strWrong), std::string::npos);
}

TEST_F(LogonTest, TerminationSignalsStopTheAgentCleanly) {
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  CExitStatus status = m_pAgent->Stop();
  EXPECT_TRUE(status.m_bExited) << "signal " << status.m_nSignal << (status.m_bTimedOut ? ", did not stop" : "");
  EXPECT_EQ(status.m_nExitCode, 0);
}

TEST(LogonInterruptTest, InterruptSignalStopsTheAgentCleanly) {
  CAgentHarness agent(MakeTestOptions());
  ASSERT_TRUE(agent.Start()) << agent.GetLastError();
  ASSERT_TRUE(agent.WaitForPortConfigured()) << agent.GetLastError();
  ASSERT_TRUE(agent.OpenLogonScreen().m_bFound) << agent.Describe();
  CExitStatus status = agent.Stop(3 * kDefaultTimeoutMs, SIGINT);
  EXPECT_TRUE(status.m_bExited) << agent.Describe();
  EXPECT_EQ(status.m_nExitCode, 0);
}

TEST_F(LogonTest, TimeoutDropsAHalfTypedCommandInsteadOfTakingItAsAUserName) {
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  TypeCommand("set timeout 1");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, Prompt()));
  ASSERT_TRUE(m_pAgent->Send("show da"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "show da"));
  // The injected line end finds the line empty: the logon screen, not "password: ".
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\nLogon Session Timeout...\n\r\n" + LogonScreen(),
                              3 * kDefaultTimeoutMs));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + LogonScreen()));
  LogOn();
}

TEST_F(LogonTest, UserNameOfAtSignsAloneShowsTheLogonScreenAgain) {
  for (const char* lpLine : {"@", "@@@"}) {
    ASSERT_TRUE(m_pAgent->Send(std::string(lpLine) + "\r"));
    ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(lpLine) + "\r\n" + LogonScreen())) << lpLine;
  }
  LogOn();
}

}  // namespace
}  // namespace e2e
}  // namespace kx
