#include <gtest/gtest.h>

#include "fake_agent_context.h"
#include "platform/service_wait.h"
#include "tests/support/ManualClock.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/Writer.h"
#include "commands/SystemCommands.h"
#include "fake_agent_log.h"
#include "platform/error_codes.h"
#include "platform/services.h"
#include "platform/sync.h"
#include "tests/support/RecordingWriter.h"
#include "tests/support/WaitUntil.h"

namespace {


const char* const kHeader =
    "Service Name                                                  Status   Startup \n"
    "------------------------------------------------------------- -------- --------\n";

TEST(ServiceNamesTest, StateAndStartTypeTables) {
  const char* states[] = {"*Unknown", "Stopped", "Starting", "Stopping", "Running",
                          "Continue", "Pausing", "Paused",   "*Unknown"};
  for (DWORD dwState = 0; dwState <= 8; ++dwState)
    EXPECT_STREQ(states[dwState], GetServiceStateName(dwState));
  const char* startTypes[] = {"*Unknown", "*Unknown", "Auto", "Manual", "Disabled", "*Unknown"};
  for (DWORD dwType = 0; dwType <= 5; ++dwType)
    EXPECT_STREQ(startTypes[dwType], GetServiceStartTypeName(dwType));
}

TEST(FormatServiceOpenErrorTest, NamedErrorsAndDecimalOrHexadecimalUnknownCodes) {
  struct {
    DWORD dwError;
    BOOL bStart;
    const char* lpExpected;
  } cases[] = {
      {1060, TRUE, "[ERROR] ERROR_SERVICE_DOES_NOT_EXIST"},
      {1060, FALSE, "[ERROR] ERROR_SERVICE_DOES_NOT_EXIST"},
      {123, TRUE, "[ERROR] ERROR_INVALID_NAME"},
      {5, FALSE, "[ERROR] ERROR_ACCESS_DENIED"},
      {6, TRUE, "[ERROR] ERROR_INVALID_HANDLE"},
      {1053, TRUE, "[ERROR] Unknown Error. (ErrCode=1053)"},
      {1053, FALSE, "[ERROR] Unknown Error. (ErrCode=0x0000041d)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.lpExpected, FormatServiceOpenError(c.dwError, c.bStart)) << c.dwError;
}

// A service store of its own for each test, services stopped at the end.
class ServiceCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char szTemplate[] = "/tmp/kxsvccmdXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szTemplate));
    m_strRoot = szTemplate;
    setenv("KX_SYSTEM_ROOT", m_strRoot.c_str(), 1);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenServiceManager(&m_hManager));
  }
  void TearDown() override {
    if (m_nStubbornPid > 1) kill(-m_nStubbornPid, SIGKILL);
    CRecordingWriter ignored;
    for (const char* lpName : {"Web", "Quick", "Stubborn"}) ChangeServiceState(ignored, lpName, FALSE, 3000);
    kx::CloseServiceHandle(m_hManager);
    unsetenv("KX_SYSTEM_ROOT");
    std::system(("rm -rf " + m_strRoot).c_str());
  }

  void Install(const char* lpName, const char* lpDisplayName, const std::string& strCommand,
               DWORD dwStartType = SERVICE_DEMAND_START) {
    kx::SERVICE_CONFIG config;
    config.dwServiceType = KX_SERVICE_COMMAND;
    config.dwStartType = dwStartType;
    config.dwErrorControl = SERVICE_ERROR_NORMAL;
    config.strBinaryPathName = strCommand;
    config.strDisplayName = lpDisplayName;
    kx::SC_HANDLE hService = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallService(m_hManager, lpName, config, &hService));
    kx::CloseServiceHandle(hService);
  }

  // A service that ignores the stop request; its pid lands in a file.
  void InstallStubborn() {
    m_strPidFile = m_strRoot + "/stubborn.pid";
    Install("Stubborn", "Stubborn One",
            "trap '' TERM; echo $$ > " + m_strPidFile + ".new; mv " + m_strPidFile + ".new " + m_strPidFile +
                "; while :; do sleep 0.1; done");
  }
  // Waits until the stubborn service has set its trap (it then names itself).
  void ReadStubbornPid() {
    ASSERT_TRUE(WaitUntil([this] { return access(m_strPidFile.c_str(), F_OK) == 0; }));
    FILE* pFile = std::fopen(m_strPidFile.c_str(), "r");
    ASSERT_NE(nullptr, pFile);
    EXPECT_EQ(1, std::fscanf(pFile, "%d", &m_nStubbornPid));
    std::fclose(pFile);
  }

  std::string m_strRoot;
  std::string m_strPidFile;
  int m_nStubbornPid = 0;
  kx::SC_HANDLE m_hManager = nullptr;
};

TEST_F(ServiceCommandsTest, ShowServiceFullAndShortNamesStatesAndStartTypes) {
  Install("Web", "World Wide Web Publishing", "sleep 60", SERVICE_AUTO_START);
  Install("Zeta", "A display name long enough that the name column has to cut it", "sleep 60",
          SERVICE_DISABLED);
  CRecordingWriter starter;
  ChangeServiceState(starter, "Web", TRUE, 5000);

  CRecordingWriter full;
  EXPECT_EQ(1, ShowServices(full, "full"));
  EXPECT_EQ(std::string(kHeader) +
                "World Wide Web Publishing (Web)                               Running  Auto    \n"
                "A display name long enough that the name column has to cut it Stopped  Disabled\n",
            full.m_strBytes);

  CRecordingWriter brief;
  EXPECT_EQ(1, ShowServices(brief, "FULL"));  // the option compares case-sensitively
  EXPECT_EQ(std::string(kHeader) +
                "Web                                                           Running  Auto    \n"
                "Zeta                                                          Stopped  Disabled\n",
            brief.m_strBytes);
}

TEST_F(ServiceCommandsTest, StartAndStopARealServiceWithProgressLines) {
  Install("Web", "Web Server", "sleep 60");
  CRecordingWriter writer;
  EXPECT_EQ(1, ChangeServiceState(writer, "web", TRUE, 5000));
  EXPECT_EQ("Service 'Web Server' starting...\nService was started.\n", writer.m_strBytes);

  CRecordingWriter again;
  EXPECT_EQ(1, ChangeServiceState(again, "Web", TRUE, 5000));
  EXPECT_EQ("[ERROR] Since service had not stopped, it has not started. (CURRENT_STATE=4)\n",
            again.m_strBytes);

  CRecordingWriter stop;
  EXPECT_EQ(1, ChangeServiceState(stop, "Web", FALSE, 5000));
  EXPECT_EQ("Service 'Web Server' stopping...\nService was stopped.\n", stop.m_strBytes);

  CRecordingWriter stopAgain;
  EXPECT_EQ(1, ChangeServiceState(stopAgain, "Web", FALSE, 5000));
  EXPECT_EQ("[ERROR] Service is already stopped.\n", stopAgain.m_strBytes);
}

TEST_F(ServiceCommandsTest, UnknownAndInvalidNamesForBothCommands) {
  for (BOOL bStart : {TRUE, FALSE}) {
    CRecordingWriter unknown;
    EXPECT_EQ(0, ChangeServiceState(unknown, "NoSuchService", bStart, 1000));
    EXPECT_EQ("[ERROR] ERROR_SERVICE_DOES_NOT_EXIST\n", unknown.m_strBytes);
    CRecordingWriter invalid;
    EXPECT_EQ(0, ChangeServiceState(invalid, "bad\\name", bStart, 1000));
    EXPECT_EQ("[ERROR] ERROR_INVALID_NAME\n", invalid.m_strBytes);
  }
}

TEST_F(ServiceCommandsTest, ServiceThatNeverStopsTimesOut) {
  InstallStubborn();
  CRecordingWriter start;
  ChangeServiceState(start, "Stubborn", TRUE, 5000);
  ReadStubbornPid();
  CRecordingWriter writer;
  EXPECT_EQ(1, ChangeServiceState(writer, "Stubborn", FALSE, 400));
  EXPECT_EQ("Service 'Stubborn One' stopping...\n[ERROR] Timeout...\n", writer.m_strBytes);
}

// The start request fails at once; the wait is what ends the command.
TEST_F(ServiceCommandsTest, ServiceThatCannotStartTimesOut) {
  Install("Quick", "Quick", "/no/such/program");
  CRecordingWriter writer;
  EXPECT_EQ(1, ChangeServiceState(writer, "Quick", TRUE, 400));
  EXPECT_EQ("Service 'Quick' starting...\n[ERROR] Timeout...\n", writer.m_strBytes);
}

TEST(ServiceManagerUnavailableTest, ShowServiceFailsAndStartReportsInvalidHandle) {
  char szTemplate[] = "/tmp/kxsvcfileXXXXXX";
  int fd = mkstemp(szTemplate);
  ASSERT_GE(fd, 0);
  close(fd);
  // The state directory would have to live below a plain file.
  setenv("KX_SYSTEM_ROOT", (std::string(szTemplate) + "/root").c_str(), 1);
  CRecordingWriter show;
  EXPECT_EQ(0, ShowServices(show, "full"));
  EXPECT_EQ("[ERROR] EnumServicesStatus Error!!\n", show.m_strBytes);
  CRecordingWriter start;
  EXPECT_EQ(0, ChangeServiceState(start, "Any", TRUE, 1000));
  EXPECT_EQ("[ERROR] ERROR_INVALID_HANDLE\n", start.m_strBytes);
  unsetenv("KX_SYSTEM_ROOT");
  unlink(szTemplate);
}

// The 30-second wait of the command, on a clock that each poll's pause moves on.
TEST_F(ServiceCommandsTest, StopServiceCommandGivesUpAfterThirtySeconds) {
  CFakeAgentContext context;
  CManualClock clock;
  clock.SetSleepAdvances(true);
  CFakeAgentContext stopContext(clock);
  CTestAgentLog log;
  log.Install<CKxAgentLog>();
  InstallStubborn();
  CKxAgentCommandArgument startArgument;
  startArgument.Add("SERVICE_NAME", "Stubborn");
  CRecordingWriter start;
  EXPECT_EQ(1, CmdStartService(context, start, startArgument));
  EXPECT_EQ("Service 'Stubborn One' starting...\nService was started.\n", start.m_strBytes);
  ReadStubbornPid();
  CKxAgentCommandArgument argument;
  argument.Add("SERVICE_NAME", "Stubborn");
  CRecordingWriter writer;
  EXPECT_EQ(1, CmdStopService(stopContext, writer, argument));
  EXPECT_EQ("Service 'Stubborn One' stopping...\n[ERROR] Timeout...\n", writer.m_strBytes);
  // Given up on the first poll past the limit.
  EXPECT_GT(clock.GetTickCount(), 30000u);
  EXPECT_LE(clock.GetTickCount(), 30000u + kx::kServiceWaitPollInterval);
  std::string strInfo = log.Read("info.log");
  EXPECT_NE(std::string::npos, strInfo.find("[Command Execute] start service Stubborn"));
  EXPECT_NE(std::string::npos, strInfo.find("[Command Execute] stop service Stubborn"));
}

TEST_F(ServiceCommandsTest, ShowServiceCommandLogsItsOption) {
  CFakeAgentContext context;
  CTestAgentLog log;
  log.Install<CKxAgentLog>();
  CKxAgentCommandArgument argument;
  argument.Add("NAME_DISPLAY_OPTION", "short");
  CRecordingWriter writer;
  EXPECT_EQ(1, CmdShowService(context, writer, argument));
  EXPECT_EQ(kHeader, writer.m_strBytes);
  EXPECT_NE(std::string::npos, log.Read("info.log").find("[Command Execute] show service short"));
}

}  // namespace
