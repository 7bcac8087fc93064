// A session with the agent on the systemd backends (KX_BACKEND=native): the
// System log from a journal directory, the services of the manager mock, a
// shutdown scheduled with and cancelled through the logind mock, both mocks on
// one bus that the agent takes for the system bus. KX_NATIVE_TRANSCRIPT, when
// set, names a file that receives the session's bytes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "JournalFiles.h"
#include "MockSystemBus.h"
#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

const char kBoot[] = "dddddddddddddddddddddddddddddddd";

class NativeSessionTest : public CAgentTest {
 protected:
  void TearDown() override {
    CAgentTest::TearDown();
    const char* lpTranscript = std::getenv("KX_NATIVE_TRANSCRIPT");
    if (lpTranscript != nullptr && *lpTranscript != '\0') std::ofstream(lpTranscript, std::ios::binary) << m_strTranscript;
    if (!m_strJournalDir.empty()) std::system(("rm -rf '" + m_strJournalDir + "'").c_str());
  }
  // Runs a command and reads its output up to the next prompt; a notice the
  // command brings may come before or after that prompt.
  std::string Run(const std::string& strLine, const std::string& strNotice) {
    TypeCommand(strLine);
    std::string strOutput;
    if (strNotice.empty()) {
      strOutput = m_pAgent->ReadUntil(Prompt(), 40000).m_strBytes;
    } else {
      int nIndex = -1;
      strOutput = m_pAgent->ReadUntilAny({Prompt() + strNotice, strNotice + Prompt()}, &nIndex, 40000).m_strBytes;
    }
    m_strTranscript += strLine + "\r\n" + strOutput;
    return strOutput;
  }

  std::string m_strJournalDir;
  std::string m_strTranscript;
};

TEST_F(NativeSessionTest, EventLogServicesAndShutdownComeFromSystemd) {
  char szTemplate[] = "/tmp/kx-native-session-XXXXXX";
  ASSERT_NE(mkdtemp(szTemplate), nullptr);
  m_strJournalDir = szTemplate;
  std::string strError;
  ASSERT_TRUE(WriteJournalFile(
      m_strJournalDir, "system",
      {{kBoot, 1, "_TRANSPORT=kernel\nPRIORITY=3\nSYSLOG_IDENTIFIER=kernel\nMESSAGE=ata1: link down\n"},
       {kBoot, 2, "_TRANSPORT=journal\n_PID=1\nPRIORITY=6\nSYSLOG_IDENTIFIER=systemd\nMESSAGE=Started nginx.service.\n"},
       {kBoot, 3, "_TRANSPORT=syslog\nPRIORITY=4\nSYSLOG_IDENTIFIER=cron\nMESSAGE=job ran late\n"}},
      &strError))
      << strError;
  CMockSystemBus manager;
  ASSERT_TRUE(manager.StartSystemd(
      {{"nginx.service", "A high performance web server", "enabled", "active", "loaded"},
       {"cron.service", "Regular background program processing daemon", "disabled", "inactive", "loaded"},
       {"telnet.service", nullptr, "masked", "inactive", "masked"}}))
      << manager.GetError();
  CMockSystemBus logind;
  logind.ShareBusOf(manager);
  ASSERT_TRUE(logind.StartLogind()) << logind.GetError();
  setenv("KX_JOURNAL_DIR", m_strJournalDir.c_str(), 1);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", manager.GetAddress().c_str(), 1);

  CAgentOptions options = MakeTestOptions();
  options.m_strBackend = "native";
  StartAgent(options);
  ASSERT_FALSE(HasFatalFailure());
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  m_strTranscript = Prompt();

  const std::string kScheduled = "self.props['org.freedesktop.login1.Manager']['ScheduledShutdown'][0]";
  const struct {
    const char* lpCommand;
    std::string strNotice;
    std::vector<std::string> contains;
    const char* lpLacks;  // null: nothing
    const char* lpScheduledAfter;
  } kSteps[] = {
      {"show eventlog system", "", {"ata1: link down", "Started nginx.service."}, "job ran late", ""},
      {"show service", "", {"A high performance web server", "telnet"}, nullptr, ""},
      {"start service cron", "", {"Service was started."}, nullptr, ""},
      {"stop service nginx", "", {"Service was stopped."}, nullptr, ""},
      {"shutdown 60", "\r\n[Notice] The system is going DOWN for system halt in 60 seconds!", {}, nullptr,
       "poweroff"},
      {"abort", "", {"Shutdown canceled."}, nullptr, ""},
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.lpCommand);
    std::string strOutput = Run(step.lpCommand, step.strNotice);
    for (const std::string& strText : step.contains) {
      EXPECT_NE(strOutput.find(strText), std::string::npos) << strText << " in " << EscapeBytes(strOutput);
    }
    if (step.lpLacks != nullptr) {
      EXPECT_EQ(strOutput.find(step.lpLacks), std::string::npos) << EscapeBytes(strOutput);
    }
    EXPECT_EQ(strOutput.find("[Error]"), std::string::npos) << EscapeBytes(strOutput);
    EXPECT_EQ(logind.Evaluate(kScheduled.c_str()), step.lpScheduledAfter);
  }
  EXPECT_EQ(manager.GetStringProperty(CMockSystemBus::GetUnitPath("cron.service").c_str(),
                                      "org.freedesktop.systemd1.Unit", "ActiveState"),
            "active");
}

}  // namespace
}  // namespace e2e
}  // namespace kx
