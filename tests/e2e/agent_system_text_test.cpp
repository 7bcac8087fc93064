// Texts that any local program can plant (event records and their sources,
// service display names) reach the terminal with every control byte shown as
// '?': none can clear the screen, retitle the window or break a line.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "e2e_support.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/services.h"

namespace kx {
namespace e2e {
namespace {

const char kStampPattern[] = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d";

// Bytes 0x01 to 0x1F: every control byte a C string can hold.
std::string ControlRun() {
  std::string strRun;
  for (int c = 1; c < 0x20; ++c) strRun += static_cast<char>(c);
  return strRun;
}

class SystemTextTest : public CAgentTest {
 protected:
  void SetUp() override {
    CAgentOptions options = MakeTestOptions();
    options.m_bEventLogNotification = TRUE;
    StartAgent(options);
    if (HasFatalFailure()) return;
    setenv("KX_SYSTEM_ROOT", (m_pAgent->GetBaseDir() + "/system").c_str(), 1);
    LogOn();
  }
  void TearDown() override {
    unsetenv("KX_SYSTEM_ROOT");
    CAgentTest::TearDown();
  }
};

// A source name cannot carry control bytes at all: it is refused when registered.
TEST_F(SystemTextTest, EventTextShowsControlBytesAsQuestionMarks) {
  ASSERT_FALSE(HasFatalFailure());
  HEVENTSOURCE hRefused = nullptr;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME),
            RegisterEventLogSource(("Evil\x1b[2J\x1b]0;t\x07" + ControlRun()).c_str(), &hRefused));
  const std::string strSource = "Evil";
  const std::string strText = "\x1b[2J \x1b]0;title\x07 " + ControlRun() + "\x7f end";
  // CR and LF go and TAB becomes a blank, as for any message; the rest shows as '?'.
  const std::string strShownSource = "Evil";
  const std::string strShownText = "?[2J ?]0;title? " + std::string(8, '?') + " " + std::string(2, '?') +
                                   std::string(18, '?') + "? end";
  HEVENTSOURCE hSource = nullptr;
  ASSERT_EQ(0u, RegisterEventLogSource(strSource.c_str(), &hSource));
  const char* strings[] = {strText.c_str()};
  ASSERT_EQ(0u, ReportEventLogEntry(hSource, EVENTLOG_ERROR_TYPE, 0, 7, 1, strings));
  DeregisterEventLogSource(hSource);

  const std::string strTail = "(" + RegexLiteral(strShownSource) + ":7\\) " + RegexLiteral(strShownText) + "\n";
  ASSERT_TRUE(ReceivesMatching(*m_pAgent, "\n", std::string("\\* ") + kStampPattern + " \\[Application:ERROR\\] \\" +
                                                    strTail));
  TypeCommand("show eventlog application 1");
  ASSERT_TRUE(ReceivesMatching(*m_pAgent, Prompt(),
                               std::string("\\[00001\\] ") + kStampPattern + " \\[ERROR\\] \\" + strTail +
                                   RegexLiteral(Prompt())));
}

TEST_F(SystemTextTest, ServiceDisplayNameShowsControlBytesAsQuestionMarks) {
  ASSERT_FALSE(HasFatalFailure());
  std::string strRun = ControlRun();
  strRun.erase(strRun.find('\r'), 1);
  strRun.erase(strRun.find('\n'), 1);
  SERVICE_CONFIG config;
  config.dwServiceType = KX_SERVICE_COMMAND;
  config.strBinaryPathName = "/bin/true";
  config.strDisplayName = "\x1b[2J\x1b]0;title\x07" + strRun + "\x7f";
  SC_HANDLE hManager = nullptr;
  SC_HANDLE hService = nullptr;
  ASSERT_EQ(0u, OpenServiceManager(&hManager));
  ASSERT_EQ(0u, InstallService(hManager, "planted", config, &hService));
  CloseServiceHandle(hService);
  CloseServiceHandle(hManager);

  std::string strName = "?[2J?]0;title?" + std::string(30, '?') + " (planted)";
  strName.resize(61, ' ');
  TypeCommand("show service full");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent,
                              "Service Name                                                  Status   Startup \n"
                              "------------------------------------------------------------- -------- --------\n" +
                                  strName + " Stopped  Manual  \n" + Prompt()));
}

}  // namespace
}  // namespace e2e
}  // namespace kx
