#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/error_codes.h"
#include "platform/services.h"
#include "platform/sync.h"
#include "tests/support/TemporarySystemRoot.h"

namespace {

struct CRun {
  int nExitCode;
  std::string strOutput;  // standard output and error together
};

// Each test works on a service store of its own.
class ScToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.Enter("/tmp/kxsctoolXXXXXX"));
    m_strRoot = m_root.GetPath();
  }
  void TearDown() override {
    Sc("stop probe");
    Sc("stop sleeper");
    kx::Sleep(300);
    m_root.Leave();
  }

  static CRun Run(const std::string& strCommand) {
    CRun run{-1, std::string()};
    FILE* pPipe = popen((strCommand + " 2>&1").c_str(), "r");
    if (pPipe == nullptr) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pPipe)) > 0) run.strOutput.append(buffer, n);
    int nStatus = pclose(pPipe);
    run.nExitCode = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return run;
  }
  static CRun Sc(const std::string& strArguments) {
    return Run(std::string(KX_SC_PROGRAM) + " " + strArguments);
  }

  // Polls `sc query` until the state line names `lpState`.
  static bool WaitForState(const char* lpName, const char* lpState) {
    for (int i = 0; i < 100; ++i) {
      if (Sc(std::string("query ") + lpName).strOutput.find(lpState) != std::string::npos) return true;
      kx::Sleep(50);
    }
    return false;
  }

  std::string m_strRoot;
  CTemporarySystemRoot m_root;
};

TEST_F(ScToolTest, CreateQueryStartStopDeleteRoundTrip) {
  CRun create =
      Sc("create sleeper binPath= \"sleep 60\" start= auto DisplayName= \"Sleep Service\" depend= a/b");
  EXPECT_EQ(0, create.nExitCode);
  EXPECT_EQ("[SC] CreateService SUCCESS\n", create.strOutput);

  CRun config = Sc("qc sleeper");
  EXPECT_NE(std::string::npos, config.strOutput.find("START_TYPE         : 2   AUTO_START"));
  EXPECT_NE(std::string::npos, config.strOutput.find("BINARY_PATH_NAME   : sleep 60"));
  EXPECT_NE(std::string::npos, config.strOutput.find("DISPLAY_NAME       : Sleep Service"));
  EXPECT_NE(std::string::npos, config.strOutput.find("DEPENDENCIES       : a/b"));

  EXPECT_NE(std::string::npos, Sc("query sleeper").strOutput.find("STATE              : 1  STOPPED"));
  CRun start = Sc("start sleeper");
  EXPECT_EQ(0, start.nExitCode);
  EXPECT_NE(std::string::npos, start.strOutput.find("STATE              : 4  RUNNING"));
  EXPECT_NE(std::string::npos, Sc("query").strOutput.find("DISPLAY_NAME: Sleep Service"));

  CRun stop = Sc("stop SLEEPER");
  EXPECT_EQ(0, stop.nExitCode);
  EXPECT_TRUE(WaitForState("sleeper", "1  STOPPED"));

  CRun changed = Sc("config sleeper start= disabled");
  EXPECT_EQ("[SC] ChangeServiceConfig SUCCESS\n", changed.strOutput);
  CRun refused = Sc("start sleeper");
  EXPECT_EQ(2, refused.nExitCode);
  EXPECT_EQ(
      "[SC] StartService FAILED 1058:\n\nThe service cannot be started, either because it is disabled or "
      "because it "
      "has no enabled devices associated with it.\n\n",
      refused.strOutput);

  EXPECT_EQ("[SC] DeleteService SUCCESS\n", Sc("delete sleeper").strOutput);
  CRun gone = Sc("query sleeper");
  EXPECT_EQ(2, gone.nExitCode);
  EXPECT_EQ(
      "[SC] OpenService FAILED 1060:\n\nThe specified service does not exist as an installed service.\n\n",
      gone.strOutput);
}

TEST_F(ScToolTest, UsageErrorsExitWithOneAndShowTheUsage) {
  const char* commands[] = {
      "",                                         // no command
      "frobnicate x",                             // unknown command
      "create onlyname",                          // no binPath=
      "create x binPath=",                        // option without its value
      "create x binPath= true start= sometimes",  // bad start type
      "create x binPath= true color= red",        // unknown option
      "start",                                    // no service name
      "stop a b",                                 // too many names
  };
  for (const char* lpArguments : commands) {
    CRun run = Sc(lpArguments);
    EXPECT_EQ(1, run.nExitCode) << lpArguments;
    EXPECT_NE(std::string::npos, run.strOutput.find("USAGE:")) << lpArguments;
  }
  EXPECT_EQ(2, Sc("query x").nExitCode);  // nothing was created by the bad lines
}

TEST_F(ScToolTest, ServiceProgramReportsItsOwnStatesAndHonoursTheStopControl) {
  std::string strCreate = std::string("create probe type= own binPath= \"") + KX_SERVICE_PROBE + " probe\"";
  ASSERT_EQ(0, Sc(strCreate).nExitCode);
  kx::SC_HANDLE hManager = nullptr, hService = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenServiceManager(&hManager));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenServiceByName(hManager, "probe", &hService));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::StartInstalledService(hService));
  kx::SERVICE_STATUS status;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::QueryServiceStatus(hService, &status));
  // It reports running only after its start-up; until then it is pending.
  EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), status.dwCurrentState);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL),
            kx::ControlService(hService, SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(WaitForState("probe", "4  RUNNING"));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::QueryServiceStatus(hService, &status));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP), status.dwControlsAccepted);

  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ControlService(hService, SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(WaitForState("probe", "3  STOP_PENDING"));
  EXPECT_TRUE(WaitForState("probe", "1  STOPPED"));
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
}

TEST_F(ScToolTest, ServiceProgramRunByHandCannotConnect) {
  unsetenv("KX_SERVICE_NAME");
  CRun run = Run(std::string(KX_SERVICE_PROBE) + " probe");
  EXPECT_EQ(3, run.nExitCode);
  EXPECT_EQ("dispatcher: 1063\n", run.strOutput);
}

}  // namespace
