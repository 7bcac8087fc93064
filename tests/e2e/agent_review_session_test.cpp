// Corners of the console session: what the time-out does to a half-typed line,
// a user name made of '@' alone, and escape sequences that break off.
#include <gtest/gtest.h>

#include <string>

#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

class SessionCornerTest : public CAgentTest {
 protected:
  void SetUp() override { StartAgent(); }
};

TEST_F(SessionCornerTest, TimeoutDropsAHalfTypedCommandInsteadOfTakingItAsAUserName) {
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

TEST_F(SessionCornerTest, UserNameOfAtSignsAloneShowsTheLogonScreenAgain) {
  for (const char* lpLine : {"@", "@@@"}) {
    ASSERT_TRUE(m_pAgent->Send(std::string(lpLine) + "\r"));
    ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(lpLine) + "\r\n" + LogonScreen())) << lpLine;
  }
  LogOn();
}

TEST_F(SessionCornerTest, BrokenEscapeSequencesDropTheirPrefixAndKeepTheLastByte) {
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  // ESC x, ESC [ Z and ESC [ 4 z match no sequence: only x, Z and z remain.
  ASSERT_TRUE(m_pAgent->Send("\x1bx\x1b[Z\x1b[4z"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "xZz"));
  // A second ESC starts the sequence afresh.
  ASSERT_TRUE(m_pAgent->Send("\x1b\x1b[D"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\x1b[D"));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n[Error] 'xZz' command not found.\n" + Prompt()));
}

}  // namespace
}  // namespace e2e
}  // namespace kx
