// Whole agents built, driven through a fake serial port and destroyed inside
// this process: every thread the agent starts must be gone afterwards, and the
// sanitizer build finds what it leaks or touches after release.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "KestrixAgent.h"
#include "SessionTimeout.h"
#include "commands/PowerCommands.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "fake_agent_log.h"
#include "fake_serial_port.h"
#include "tests/support/ManualClock.h"
#include "tests/support/WaitUntil.h"

namespace {

// Threads of this process, or -1 where the system does not list them.
int CountThreads() {
  std::error_code error;
  std::filesystem::directory_iterator it("/proc/self/task", error);
  if (error) return -1;
  int nCount = 0;
  for (; it != std::filesystem::directory_iterator(); ++it) ++nCount;
  return nCount;
}

// Polls what the agent wrote until it holds `strText` or 10 s have passed.
bool WaitForOutput(CFakeSerialPort* pPort, const std::string& strText) {
  return WaitUntil([&] { return pPort->Written().find(strText) != std::string::npos; }, 10000);
}

// What is going on when the agent is destroyed.
struct LifecycleCase {
  const char* lpName;
  bool bStart;               // Start runs the serial reader
  const char* lpInput;       // typed before the wait
  const char* lpWaitFor;     // output that must appear before the agent goes
  bool bShutdownCountdown;   // a 180 s countdown is running at the end
};

class AgentLifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CKxAgentConfigManager::Initialize());
    char szTemplate[] = "/tmp/kx-agent-life-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szTemplate));
    m_strBaseDir = std::string(szTemplate) + "/";
    // The built-in set and a script plug-in, so that the script hosts and a
    // loaded plug-in are built and released with each agent.
    std::filesystem::create_directories(m_strBaseDir + "config");
    std::filesystem::create_directories(m_strBaseDir + "plugins");
    std::ofstream(m_strBaseDir + "config/sysconfig.xml")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<system-config>\n"
           "  <comport><port>3</port></comport>\n"
           "  <script-plugin-support>on</script-plugin-support>\n"
           "  <plugin-entry>\n"
           "    <plugin plugin-id=\"0\" library=\"\" type=\"1\"/>\n"
           "    <plugin plugin-id=\"10000\" library=\"hello.js\" type=\"3\"/>\n"
           "  </plugin-entry>\n</system-config>\n";
    std::ofstream(m_strBaseDir + "plugins/hello.js")
        << "function GetCommandLineDef() { return \"hello\"; }\n"
           "function Run() { return \"hello\"; }\n";
    m_log.Install<CKxAgentLog>();
  }
  void TearDown() override {
    std::error_code error;
    std::filesystem::remove_all(m_strBaseDir, error);
    CKxAgentConfigManager::Terminate();
  }

  std::string m_strBaseDir;
  CTestAgentLog m_log;
};

TEST_F(AgentLifecycleTest, AgentsBuiltOneAfterAnotherServeTheTerminalAndLeaveNoThreadBehind) {
  const LifecycleCase cases[] = {
      {"never started", false, "", "", false},
      {"idle at the logon screen", true, "\r", " logon: ", false},
      // The rejected logon pauses the input thread for a second; the
      // destructor waits for it instead of pulling the session away.
      {"in a rejected logon", true, "nobody\rsecret\r", "logon incorrect.", false},
      {"counting down a shutdown", true, "\r", "system halt in 180 seconds!", true},
  };
  const int nThreadsBefore = CountThreads();
  for (const LifecycleCase& c : cases) {
    SCOPED_TRACE(c.lpName);
    auto* pPort = new CFakeSerialPort();
    {
      CKestrixAgent agent(m_strBaseDir, std::unique_ptr<kx::CSerialPort>(pPort));
      if (c.bStart) {
        ASSERT_EQ(1, agent.Start());
      }
      // Nobody is logged on: the watcher started here ends at once and is still joined.
      agent.GetTimeoutWatch().Start();
      if (c.bShutdownCountdown) {
        agent.GetShutdownState().SetShutdownPending(1);
        agent.GetShutdownState().StartShutdownNotice(180, FALSE);
      }
      pPort->Receive(c.lpInput);
      if (*c.lpWaitFor != '\0') {
        EXPECT_TRUE(WaitForOutput(pPort, c.lpWaitFor)) << pPort->Written();
      }
    }
    EXPECT_EQ(std::string::npos, m_log.Read("error.log").find("load error")) << m_log.Read("error.log");
    if (nThreadsBefore > 0) {
      EXPECT_EQ(nThreadsBefore, CountThreads());
    }
  }
}


size_t CountOf(const std::string& strText, const std::string& strPart) {
  size_t nCount = 0;
  for (size_t nPos = strText.find(strPart); nPos != std::string::npos; nPos = strText.find(strPart, nPos + 1)) {
    ++nCount;
  }
  return nCount;
}

// The pause after a refused logon runs on the agent's clock; what the terminal
// types during it is not taken as the next attempt.
TEST_F(AgentLifecycleTest, RefusedLogonPausesOneSecondOnTheClockAndDropsWhatWasTypedMeanwhile) {
  CManualClock clock;
  auto* pPort = new CFakeSerialPort();
  CKestrixAgent agent(m_strBaseDir, std::unique_ptr<kx::CSerialPort>(pPort), clock);
  ASSERT_EQ(1, agent.Start());
  pPort->Receive("nobody\rsecret\r");
  ASSERT_TRUE(WaitForOutput(pPort, "not permitted.)")) << pPort->Written();
  // The input thread sleeps on the clock; typed meanwhile: a user name.
  ASSERT_TRUE(clock.WaitForWaits(1));
  int nWaits = pPort->CountWaits();
  pPort->Receive("intruder\r");
  ASSERT_TRUE(WaitUntil([&] {
    DWORD dwPending = 1;
    pPort->GetInputCount(&dwPending);
    return dwPending == 0 && pPort->CountWaits() > nWaits;
  }, 10000));
  clock.Advance(999);
  EXPECT_EQ(0u, CountOf(pPort->Written(), " logon: "));
  clock.Advance(1);
  ASSERT_TRUE(WaitForOutput(pPort, " logon: ")) << pPort->Written();
  // An empty line shows the logon screen again: "intruder" was never a user name.
  pPort->Receive("\r");
  ASSERT_TRUE(WaitUntil([&] { return CountOf(pPort->Written(), " logon: ") == 2; }, 10000)) << pPort->Written();
  EXPECT_EQ(1u, CountOf(pPort->Written(), "password: "));
}

}  // namespace
