// shutdown, reboot and abort as the terminal sees them: the countdown notices,
// cancelling, and the system's refusals. The agent's system state directory is
// the harness's own, without a configured power command, so nothing but a
// record happens at a deadline.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

std::string HaltNotice(int nSeconds) {
  return "\r\n[Notice] The system is going DOWN for system halt in " + std::to_string(nSeconds) + " seconds!";
}

std::string RebootNotice(int nSeconds) {
  return "\r\n[Notice] The system is going DOWN for system reboot in " + std::to_string(nSeconds) + " seconds!";
}

std::string ReadFile(const std::string& strPath) {
  std::ifstream file(strPath, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class PowerTest : public CAgentTest {
 protected:
  void SetUp() override {
    StartAgent();
    if (!HasFatalFailure()) LogOn();
  }

  std::string PowerFile(const char* lpName) const { return m_pAgent->GetBaseDir() + "/system/power/" + lpName; }

  // The prompt after an accepted request and the first notice come from two
  // threads, in either order, each whole.
  ::testing::AssertionResult ReceivesPromptAndNotice(const std::string& strNotice) {
    const std::string strPromptFirst = Prompt() + strNotice;
    const std::string strNoticeFirst = strNotice + Prompt();
    int nIndex = -1;
    CReadResult result = m_pAgent->ReadUntilAny({strPromptFirst, strNoticeFirst}, &nIndex);
    if (nIndex < 0 || result.m_strBytes != (nIndex == 0 ? strPromptFirst : strNoticeFirst)) {
      return ::testing::AssertionFailure() << "expected the prompt and \"" << EscapeBytes(strNotice)
                                           << "\"\n  received: \"" << EscapeBytes(result.m_strBytes) << "\"";
    }
    return ::testing::AssertionSuccess();
  }
};

TEST_F(PowerTest, ShutdownCountsDownEveryFiveSecondsAndHalts) {
  TypeCommand("shutdown 10");
  ASSERT_TRUE(ReceivesPromptAndNotice(HaltNotice(10)));
  // The system holds the request with the halt message, in UTF-8 for its readers.
  std::string strPending = ReadFile(PowerFile("pending"));
  EXPECT_NE(std::string::npos, strPending.find("action=halt\n")) << strPending;
  EXPECT_NE(std::string::npos,
            strPending.find("message=コンピュータのシャットダウンが行われます。データを保存し、"
                            "すべてのアプリケーションを終了してください。\n"))
      << strPending;

  EXPECT_TRUE(ReceivesExactly(*m_pAgent, HaltNotice(5)));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\n[Notice] The system is halting..."));

  // The emulated system recorded the halt and, with no command configured, ran nothing.
  std::string strLast;
  for (int i = 0; i < 200 && strLast.find("result=") == std::string::npos; ++i) {
    m_pAgent->ReadFor(100);
    strLast = ReadFile(PowerFile("last"));
  }
  EXPECT_NE(std::string::npos, strLast.find("action=halt\n")) << strLast;
  EXPECT_NE(std::string::npos, strLast.find("result=not-configured\n")) << strLast;
}

TEST_F(PowerTest, AbortStopsTheCountdownAndANewRebootCountsFromItsOwnDelay) {
  TypeCommand("shutdown 11");
  // 11 is no multiple of five: the first notice is the one at 10.
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, Prompt() + HaltNotice(10)));
  TypeCommand("abort");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "Shutdown canceled.\n" + Prompt()));
  // The notice at 5 would have come by now.
  EXPECT_EQ("", EscapeBytes(m_pAgent->ReadFor(7000)));
  EXPECT_EQ("", ReadFile(PowerFile("pending")));

  TypeCommand("reboot 10");
  ASSERT_TRUE(ReceivesPromptAndNotice(RebootNotice(10)));
  EXPECT_NE(std::string::npos, ReadFile(PowerFile("pending")).find("action=reboot\n"));
  TypeCommand("abort");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "Shutdown canceled.\n" + Prompt()));
}

TEST_F(PowerTest, RefusalsAndBadDelaysGiveOneErrorLine) {
  TypeCommand("abort");
  EXPECT_TRUE(ReceivesExactly(
      *m_pAgent,
      "[Error] (0x0000045c) Unable to abort the system shutdown because no shutdown was in progress.\n" +
          Prompt()));

  TypeCommand("shutdown 9");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "[Error] Please input an integer between 10 and 3600 into 'DELAY'.\n" +
                                             Prompt()));
  TypeCommand("reboot 3601");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "[Error] Please input an integer between 10 and 3600 into 'DELAY'.\n" +
                                             Prompt()));

  // Without a delay the definition's 180 s apply.
  TypeCommand("shutdown");
  ASSERT_TRUE(ReceivesPromptAndNotice(HaltNotice(180)));
  TypeCommand("reboot 30");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "[Error] (0x0000045b) A system shutdown is in progress.\n" + Prompt()));
  EXPECT_NE(std::string::npos, ReadFile(PowerFile("pending")).find("action=halt\n"));

  TypeCommand("abort");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "Shutdown canceled.\n" + Prompt()));
}

}  // namespace
}  // namespace e2e
}  // namespace kx
