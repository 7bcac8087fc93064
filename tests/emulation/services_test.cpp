#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/services.h"
#include "platform/sync.h"
#include "tests/support/TemporarySystemRoot.h"
#include "tests/support/WaitUntil.h"

namespace {

// Each test gets an empty service store of its own; services still running at
// the end are stopped.
class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.Enter("/tmp/kxsvcXXXXXX"));
    m_strRoot = m_root.GetPath();
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenServiceManager(&m_hManager));
  }
  void TearDown() override {
    std::vector<kx::SERVICE_LIST_ENTRY> services;
    kx::EnumerateServices(m_hManager, &services);
    for (const kx::SERVICE_LIST_ENTRY& service : services) {
      kx::SC_HANDLE hService = nullptr;
      if (kx::OpenServiceByName(m_hManager, service.strServiceName.c_str(), &hService) == ERROR_SUCCESS) {
        kx::SERVICE_STATUS status;
        kx::ControlService(hService, SERVICE_CONTROL_STOP, &status);
        WaitFor(hService, SERVICE_STOPPED);
      }
      kx::CloseServiceHandle(hService);
    }
    kx::CloseServiceHandle(m_hManager);
    m_root.Leave();
  }

  kx::SC_HANDLE Create(const char* lpName, const char* lpCommand, DWORD dwStartType = SERVICE_DEMAND_START) {
    kx::SERVICE_CONFIG config;
    config.dwServiceType = KX_SERVICE_COMMAND;
    config.dwStartType = dwStartType;
    config.dwErrorControl = SERVICE_ERROR_NORMAL;
    config.strBinaryPathName = lpCommand;
    kx::SC_HANDLE hService = nullptr;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallService(m_hManager, lpName, config, &hService));
    return hService;
  }

  static DWORD StateOf(kx::SC_HANDLE hService) {
    kx::SERVICE_STATUS status;
    if (kx::QueryServiceStatus(hService, &status) != ERROR_SUCCESS) return 0;
    return status.dwCurrentState;
  }

  static bool WaitFor(kx::SC_HANDLE hService, DWORD dwState) {
    for (int i = 0; i < 100; ++i) {
      if (StateOf(hService) == dwState) return true;
      kx::Sleep(50);
    }
    return false;
  }

  std::string m_strRoot;
  CTemporarySystemRoot m_root;
  kx::SC_HANDLE m_hManager = nullptr;
};

TEST_F(ServicesTest, CreateOpenAndConfigurationRoundTrip) {
  kx::SERVICE_CONFIG config;
  config.dwServiceType = KX_SERVICE_COMMAND;
  config.dwStartType = SERVICE_AUTO_START;
  config.dwErrorControl = SERVICE_ERROR_NORMAL;
  config.strBinaryPathName = "sleep 60";
  config.strDisplayName = "\x83\x65\x83\x58\x83\x67 Service";  // "テスト" in code page 932
  config.dependencies = {"Alpha", "Beta"};
  kx::SC_HANDLE hService = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallService(m_hManager, "MySvc", config, &hService));
  kx::CloseServiceHandle(hService);

  // Names compare case-insensitively; the installed spelling is kept.
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenServiceByName(m_hManager, "mysvc", &hService));
  kx::SERVICE_CONFIG read;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::QueryServiceConfiguration(hService, &read));
  EXPECT_EQ(config.strDisplayName, read.strDisplayName);
  EXPECT_EQ(config.strBinaryPathName, read.strBinaryPathName);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), read.dwStartType);
  EXPECT_EQ(config.dependencies, read.dependencies);
  std::string strName;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetServiceName(hService, &strName));
  EXPECT_EQ("MySvc", strName);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StateOf(hService));

  read.dwStartType = SERVICE_DISABLED;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ChangeServiceConfiguration(hService, read));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DISABLED), kx::StartInstalledService(hService));
  kx::CloseServiceHandle(hService);

  kx::SC_HANDLE hSecond = nullptr;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_EXISTS),
            kx::InstallService(m_hManager, "MYSVC", config, &hSecond));
  EXPECT_EQ(nullptr, hSecond);
}

TEST_F(ServicesTest, BadNamesAndUnknownServicesAndBadHandles) {
  const char* badNames[] = {"", "a/b", "a\\b", "..", ".hidden", "tab\tname", "\x83\x65", nullptr};
  kx::SC_HANDLE hService = nullptr;
  for (const char* lpName : badNames) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), kx::OpenServiceByName(m_hManager, lpName, &hService))
        << (lpName ? lpName : "(null)");
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME),
            kx::OpenServiceByName(m_hManager, std::string(257, 'a').c_str(), &hService));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST),
            kx::OpenServiceByName(m_hManager, "NoSuchService", &hService));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), kx::OpenServiceByName(nullptr, "x", &hService));

  kx::SERVICE_CONFIG config;
  config.dwServiceType = KX_SERVICE_COMMAND;
  config.dwStartType = SERVICE_DEMAND_START;
  config.dwErrorControl = SERVICE_ERROR_NORMAL;
  config.strBinaryPathName = "sleep 1\nrm -rf /";
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            kx::InstallService(m_hManager, "multi", config, &hService));
  config.strBinaryPathName = "sleep 1";
  config.dwStartType = 7;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            kx::InstallService(m_hManager, "badstart", config, &hService));
}

TEST_F(ServicesTest, StartStopFollowTheRealProcess) {
  kx::SC_HANDLE hService = Create("sleeper", "sleep 60");
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::StartInstalledService(hService));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), StateOf(hService));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), kx::StartInstalledService(hService));

  kx::SERVICE_STATUS status;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ControlService(hService, SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(WaitFor(hService, SERVICE_STOPPED));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE),
            kx::ControlService(hService, SERVICE_CONTROL_STOP, &status));

  // Started again after a stop; a program that ends by itself reads as stopped.
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::StartInstalledService(hService));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), StateOf(hService));
  kx::CloseServiceHandle(hService);

  kx::SC_HANDLE hShort = Create("short", "sleep 0.2");
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::StartInstalledService(hShort));
  EXPECT_TRUE(WaitFor(hShort, SERVICE_STOPPED));
  kx::CloseServiceHandle(hShort);
}

TEST_F(ServicesTest, StopReachesEveryProcessOfAShellCommandAndAStubbornOneStaysPending) {
  kx::SC_HANDLE hShell = Create("pipeline", "sleep 60 | cat");
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::StartInstalledService(hShell));
  kx::SERVICE_STATUS status;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ControlService(hShell, SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(WaitFor(hShell, SERVICE_STOPPED));
  kx::CloseServiceHandle(hShell);

  std::string strPidFile = m_strRoot + "/stubborn.pid";
  // The shell names itself once its trap is set.
  std::string strCommand = "trap '' TERM; echo $$ > " + strPidFile + ".new; mv " + strPidFile + ".new " +
                           strPidFile + "; while :; do sleep 0.1; done";
  kx::SC_HANDLE hStubborn = Create("stubborn", strCommand.c_str());
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::StartInstalledService(hStubborn));
  ASSERT_TRUE(WaitUntil([&] { return access(strPidFile.c_str(), F_OK) == 0; }));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ControlService(hStubborn, SERVICE_CONTROL_STOP, &status));
  kx::Sleep(300);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), StateOf(hStubborn));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL),
            kx::ControlService(hStubborn, SERVICE_CONTROL_STOP, &status));
  // TearDown cannot stop it either; end it here by its process group.
  FILE* pFile = std::fopen(strPidFile.c_str(), "r");
  ASSERT_NE(nullptr, pFile);
  int nPid = 0;
  EXPECT_EQ(1, std::fscanf(pFile, "%d", &nPid));
  std::fclose(pFile);
  ASSERT_GT(nPid, 1);
  kill(-nPid, SIGKILL);
  EXPECT_TRUE(WaitFor(hStubborn, SERVICE_STOPPED));
  kx::CloseServiceHandle(hStubborn);
}

TEST_F(ServicesTest, ProgramThatCannotRunIsReportedAndStaysStopped) {
  kx::SC_HANDLE hMissing = Create("missing", "/no/such/program --flag");
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), kx::StartInstalledService(hMissing));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StateOf(hMissing));
  kx::CloseServiceHandle(hMissing);
  kx::SC_HANDLE hNotOnPath = Create("notonpath", "no-such-program-on-path");
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), kx::StartInstalledService(hNotOnPath));
  kx::CloseServiceHandle(hNotOnPath);
}

TEST_F(ServicesTest, DeleteOfARunningServiceWaitsForItsProcess) {
  kx::SC_HANDLE hService = Create("doomed", "sleep 60");
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::StartInstalledService(hService));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::DeleteService(hService));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), kx::DeleteService(hService));
  kx::SC_HANDLE hAgain = nullptr;
  kx::SERVICE_CONFIG config;
  kx::QueryServiceConfiguration(hService, &config);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE),
            kx::InstallService(m_hManager, "doomed", config, &hAgain));
  kx::SERVICE_STATUS status;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ControlService(hService, SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(WaitFor(hService, SERVICE_STOPPED));
  kx::CloseServiceHandle(hService);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), kx::OpenServiceByName(m_hManager, "doomed", &hAgain));
}

// Several processes install services at once; the lock keeps every one.
TEST_F(ServicesTest, ConcurrentInstallersLoseNothing) {
  const int kProcesses = 4, kEach = 15;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      kx::SC_HANDLE hManager = nullptr;
      if (kx::OpenServiceManager(&hManager) != ERROR_SUCCESS) _exit(1);
      for (int i = 0; i < kEach; ++i) {
        kx::SERVICE_CONFIG config;
        config.dwServiceType = KX_SERVICE_COMMAND;
        config.dwStartType = SERVICE_DEMAND_START;
        config.dwErrorControl = SERVICE_ERROR_NORMAL;
        config.strBinaryPathName = "true";
        kx::SC_HANDLE hService = nullptr;
        std::string strName = "svc" + std::to_string(p) + "_" + std::to_string(i);
        if (kx::InstallService(hManager, strName.c_str(), config, &hService) != ERROR_SUCCESS) _exit(2);
        kx::CloseServiceHandle(hService);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
  }
  std::vector<kx::SERVICE_LIST_ENTRY> services;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::EnumerateServices(m_hManager, &services));
  EXPECT_EQ(static_cast<std::size_t>(kProcesses * kEach), services.size());
  for (const kx::SERVICE_LIST_ENTRY& service : services) {
    EXPECT_EQ(service.strServiceName, service.strDisplayName);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), service.status.dwCurrentState);
  }
}

}  // namespace
