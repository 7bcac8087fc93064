// The agent as a service: installed with -Service, started and stopped through
// the emulated service manager from another process (the sc tool), serving the
// terminal while it runs and writing its start and stop events.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "platform/event_log.h"
#include "platform/text_encoding.h"

namespace kx {
namespace e2e {
namespace {

// Runs a command with the agent's system state directory and returns its
// standard output; *pnStatus gets its exit status. Only a command that starts
// the service gets the PAM set-up, which the service inherits: every process
// that loads pam_wrapper claims one of its few shared /tmp/pam.? directories,
// and two processes that start at the same moment can end up sharing one, so
// that the first to exit removes the other's PAM configuration.
std::string RunWithAgentEnvironment(const CAgentHarness& agent, const std::string& strCommand,
                                    int* pnStatus = nullptr, bool bWithPam = false) {
  const std::string& strBase = agent.GetBaseDir();
  std::string strPam = bWithPam ? " PAM_WRAPPER=1 PAM_WRAPPER_SERVICE_DIR='" + strBase +
                                      "/pam.d' LD_PRELOAD=/usr/lib/x86_64-linux-gnu/libpam_wrapper.so"
                                : "";
  return RunShellCommand("env KX_SYSTEM_ROOT='" + strBase + "/system'" + strPam + " " + strCommand + " 2>&1",
                         pnStatus);
}

std::string Sc(const CAgentHarness& agent, const std::string& strArguments, int* pnStatus = nullptr) {
  bool bStarts = strArguments.compare(0, 6, "start ") == 0;
  return RunWithAgentEnvironment(agent, std::string(KX_BIN_DIR) + "/sc " + strArguments, pnStatus, bStarts);
}

// The state word of "sc query": RUNNING, STOPPED, START_PENDING, STOP_PENDING.
std::string QueryState(const CAgentHarness& agent) {
  std::string strOutput = Sc(agent, "query KxAgent");
  for (const char* lpState : {"START_PENDING", "STOP_PENDING", "RUNNING", "STOPPED"}) {
    if (strOutput.find(lpState) != std::string::npos) return lpState;
  }
  return strOutput;
}

// Polls the state until it is strWanted; returns every distinct state seen, in order.
std::string WaitForState(const CAgentHarness& agent, const std::string& strWanted) {
  std::string strSeen;
  std::string strLast;
  for (int i = 0; i < 300; ++i) {
    std::string strState = QueryState(agent);
    if (strState.find("1060") != std::string::npos) break;  // not installed (any more)
    if (strState != strLast) strSeen += (strSeen.empty() ? "" : " ") + strState;
    strLast = strState;
    if (strState == strWanted) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return strSeen;
}

const char kPortErrorText[] =
    "COMポートがオープンできなかったため、Kestrix Agent for Windows サービスを開始できませんでした。\r\n";

class AgentServiceTest : public CAgentTest {
 protected:
  void Install() {
    CAgentOptions options = MakeTestOptions();
    options.m_vecArguments.push_back("/service");
    m_pAgent = std::make_unique<CAgentHarness>(options);
    ASSERT_TRUE(m_pAgent->Start()) << m_pAgent->GetLastError();
    CExitStatus status = m_pAgent->WaitForExit();
    ASSERT_TRUE(status.m_bExited && status.m_nExitCode == 0) << m_pAgent->Describe();
    m_pAgent->SetServedByService();
  }

  void StartServiceAndLogOn() {
    int nStatus = -1;
    std::string strOutput = Sc(*m_pAgent, "start KxAgent", &nStatus);
    ASSERT_EQ(0, nStatus) << strOutput;
    std::string strSeen = WaitForState(*m_pAgent, "RUNNING");
    ASSERT_TRUE(strSeen == "RUNNING" || strSeen == "START_PENDING RUNNING") << strSeen;
    ASSERT_TRUE(m_pAgent->WaitForPortConfigured()) << m_pAgent->Describe();
    ASSERT_TRUE(m_pAgent->OpenLogonScreen().m_bFound) << m_pAgent->Describe();
    LogOn();
  }

  void TearDown() override {
    if (m_pAgent) {
      Sc(*m_pAgent, "stop KxAgent");
      WaitForState(*m_pAgent, "STOPPED");
      RunWithAgentEnvironment(*m_pAgent, "'" + m_pAgent->GetBaseDir() + "/KxAgent' -UnregServer");
    }
    CAgentTest::TearDown();
  }
};

TEST_F(AgentServiceTest, InstalledServiceStartsServesStopsAndLogsItsEvents) {
  ASSERT_NO_FATAL_FAILURE(Install());

  std::string strConfig = Sc(*m_pAgent, "qc KxAgent");
  EXPECT_NE(std::string::npos, strConfig.find("AUTO_START")) << strConfig;
  EXPECT_NE(std::string::npos, strConfig.find("RPCSS")) << strConfig;
  EXPECT_NE(std::string::npos, strConfig.find("\"" + m_pAgent->GetBaseDir() + "/KxAgent\"")) << strConfig;
  EXPECT_NE(std::string::npos, strConfig.find("Kestrix Agent for Windows")) << strConfig;
  EXPECT_EQ("STOPPED", QueryState(*m_pAgent));

  ASSERT_NO_FATAL_FAILURE(StartServiceAndLogOn());
  TypeCommand("show eventlog application 5");
  std::string strStarted;
  EXPECT_TRUE(ReceivesMatching(*m_pAgent, Prompt(),
                               "(\\[\\d{5}\\] [-0-9: ]+ \\[INFO\\] \\(KxAgent:257\\) Kestrix Agent for Windows "
                               "[^\\n]*\\n)+" +
                                   RegexLiteral(Prompt()),
                               &strStarted));

  // The stop control answers at once with stop pending; the session ends
  // without a message because the port is closed.
  std::string strStop = Sc(*m_pAgent, "stop KxAgent");
  EXPECT_NE(std::string::npos, strStop.find("STOP_PENDING")) << strStop;
  std::string strSeen = WaitForState(*m_pAgent, "STOPPED");
  EXPECT_TRUE(strSeen == "STOPPED" || strSeen == "STOP_PENDING STOPPED") << strSeen;
  EXPECT_EQ("", m_pAgent->ReadFor(500));

  // Started again, the log shows the first run's start and stop events and this
  // run's start event: three entries of the agent's source.
  ASSERT_NO_FATAL_FAILURE(StartServiceAndLogOn());
  TypeCommand("show eventlog application 10");
  CReadResult listing = m_pAgent->ReadUntil(Prompt());
  ASSERT_TRUE(listing.m_bFound) << m_pAgent->Describe();
  size_t nEvents = 0;
  for (size_t nPos = listing.m_strBytes.find("(KxAgent:257)"); nPos != std::string::npos;
       nPos = listing.m_strBytes.find("(KxAgent:257)", nPos + 1)) {
    ++nEvents;
  }
  EXPECT_EQ(3u, nEvents) << EscapeBytes(listing.m_strBytes);
}

TEST_F(AgentServiceTest, RegServerRemovesTheServiceAndLeavesAnOrdinaryProgram) {
  ASSERT_NO_FATAL_FAILURE(Install());
  int nStatus = -1;
  RunWithAgentEnvironment(*m_pAgent, "'" + m_pAgent->GetBaseDir() + "/KxAgent' -RegServer", &nStatus);
  EXPECT_EQ(0, nStatus);
  std::string strQuery = Sc(*m_pAgent, "query KxAgent", &nStatus);
  EXPECT_NE(std::string::npos, strQuery.find("1060")) << strQuery;
}

TEST_F(AgentServiceTest, ServiceWithoutItsPortWritesTheErrorEventAndStops) {
  ASSERT_NO_FATAL_FAILURE(Install());
  // The port's link now leads nowhere: the device has gone.
  std::string strLink = m_pAgent->GetBaseDir() + "/dev/COM1";
  ASSERT_EQ(0, unlink(strLink.c_str()));
  ASSERT_EQ(0, symlink((m_pAgent->GetBaseDir() + "/dev/gone").c_str(), strLink.c_str()));
  int nStatus = -1;
  std::string strOutput = Sc(*m_pAgent, "start KxAgent", &nStatus);
  std::string strSeen = WaitForState(*m_pAgent, "STOPPED");
  EXPECT_EQ("STOPPED", strSeen.substr(strSeen.rfind(' ') + 1)) << strSeen << "\n" << strOutput;

  std::vector<CEventRecord> records = ReadEventLog(*m_pAgent, "Application");
  ASSERT_FALSE(records.empty());
  const CEventRecord& error = records.front();
  EXPECT_EQ(0xC0000103u, error.dwEventID);
  EXPECT_EQ(EVENTLOG_ERROR_TYPE, error.wEventType);
  EXPECT_EQ("KxAgent", error.strSource);
  EXPECT_EQ(kx::Utf8ToCp932(kPortErrorText), error.strFirstString);
  // The service never ran: no start event follows, only the stop event.
  for (size_t i = 1; i < records.size(); ++i) {
    EXPECT_EQ(std::string::npos, records[i].strFirstString.find(kx::Utf8ToCp932("開始されました")));
  }
}

TEST(AgentRunModeTest, MissingPortWritesTheErrorEventToo) {
  CAgentOptions options = MakeTestOptions();
  options.m_dwComPort = 200;  // neither <base>/dev/COM200 nor /dev/ttyS199 exists
  options.m_bCreateComPort = FALSE;
  CAgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.GetLastError();
  CExitStatus status = agent.WaitForExit();
  EXPECT_TRUE(status.m_bExited && status.m_nExitCode != 0) << agent.Describe();

  std::vector<CEventRecord> records = ReadEventLog(agent, "Application");
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(0xC0000103u, records[0].dwEventID);
  EXPECT_EQ(kx::Utf8ToCp932(kPortErrorText), records[0].strFirstString);
}

}  // namespace
}  // namespace e2e
}  // namespace kx
