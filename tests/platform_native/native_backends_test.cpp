// The facility functions (event_log.h, services.h, power.h) answered by the
// systemd backends, chosen with KX_BACKEND=native: a journal directory given by
// KX_JOURNAL_DIR, the manager and logind mocks reached as the system bus. And
// the rule that chooses the backends.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "JournalFiles.h"
#include "MockSystemBus.h"
#include "platform/backends_posix.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/power.h"
#include "platform/services.h"

namespace {

const char kBoot[] = "cccccccccccccccccccccccccccccccc";

class CTempDirectory {
 public:
  CTempDirectory() {
    char szTemplate[] = "/tmp/kx-native-XXXXXX";
    if (mkdtemp(szTemplate) != nullptr) m_strPath = szTemplate;
  }
  ~CTempDirectory() {
    if (!m_strPath.empty()) std::system(("rm -rf '" + m_strPath + "'").c_str());
  }
  const std::string& GetPath() const { return m_strPath; }

 private:
  std::string m_strPath;
};

// The first string of a record as the facility hands it out, or "" when the
// record cannot be read.
std::string ReadMessage(kx::HEVENTLOG hLog, DWORD dwNumber, std::string* pstrSource) {
  std::vector<char> buffer(64 * 1024);
  DWORD dwRead = 0, dwNeeded = 0;
  if (kx::ReadEventLogRecord(hLog, dwNumber, buffer.data(), static_cast<DWORD>(buffer.size()), &dwRead, &dwNeeded) !=
      ERROR_SUCCESS) {
    return "";
  }
  kx::EVENTLOGRECORD_TEXTS texts;
  if (!kx::ParseEventLogRecord(buffer.data(), dwRead, &texts) || texts.vecStrings.empty()) return "";
  *pstrSource = texts.lpSourceName;
  return texts.vecStrings[0];
}

// One process chooses its backends once, so every facility is exercised in
// this one test, in the order the agent's session would use them.
TEST(NativeBackendsTest, FacilityFunctionsGoThroughJournalManagerAndLogind) {
  CTempDirectory directory;
  ASSERT_FALSE(directory.GetPath().empty());
  std::string strError;
  ASSERT_TRUE(WriteJournalFile(directory.GetPath(), "system",
                               {{kBoot, 1, "_TRANSPORT=kernel\nPRIORITY=3\nSYSLOG_IDENTIFIER=kernel\nMESSAGE=ata1: link down\n"},
                                {kBoot, 2, "_TRANSPORT=syslog\nPRIORITY=6\nSYSLOG_IDENTIFIER=cron\nMESSAGE=job ran\n"},
                                {kBoot, 3, "_TRANSPORT=journal\n_PID=1\nPRIORITY=6\nSYSLOG_IDENTIFIER=systemd\n"
                                           "MESSAGE=Started nginx.service.\n"}},
                               &strError))
      << strError;
  setenv("KX_BACKEND", "native", 1);
  setenv("KX_JOURNAL_DIR", directory.GetPath().c_str(), 1);
  setenv("KX_SYSTEM_ROOT", (directory.GetPath() + "/system-root").c_str(), 1);
  ASSERT_EQ(kx::GetBackendKind(), kx::kBackendNative);

  // The journal as the logs.
  kx::HEVENTLOG hSystem = nullptr;
  ASSERT_EQ(kx::OpenEventLogByName("system", &hSystem), static_cast<DWORD>(ERROR_SUCCESS));
  DWORD dwCount = 0, dwOldest = 0;
  EXPECT_EQ(kx::GetNumberOfEventLogRecords(hSystem, &dwCount), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(kx::GetOldestEventLogRecord(hSystem, &dwOldest), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(dwCount, 2u);
  EXPECT_EQ(dwOldest, 1u);
  const struct {
    DWORD dwNumber;
    const char* lpSource;
    const char* lpMessage;
  } kRecords[] = {{1, "kernel", "ata1: link down"}, {2, "systemd", "Started nginx.service."}, {3, "", ""}};
  for (const auto& expected : kRecords) {
    std::string strSource;
    EXPECT_EQ(ReadMessage(hSystem, expected.dwNumber, &strSource), expected.lpMessage) << expected.dwNumber;
    EXPECT_EQ(strSource, expected.lpSource);
  }
  DWORD dwMax = 7;
  EXPECT_EQ(kx::ClearEventLogRecords(hSystem), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(kx::SetEventLogMaxRecords(hSystem, 10), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(kx::GetEventLogMaxRecords(hSystem, &dwMax), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  kx::CloseEventLogHandle(hSystem);
  kx::CEventLogChangeWaiter waiter;
  DWORD dwMask = 0;
  EXPECT_EQ(waiter.AddLog("Application"), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(waiter.Wait(0, &dwMask), static_cast<DWORD>(WAIT_TIMEOUT));

  // The manager, reached as the system bus.
  CMockSystemBus manager;
  ASSERT_TRUE(manager.StartSystemd({{"nginx.service", "A high performance web server", "enabled", "active", "loaded"},
                                    {"cron.service", "Regular background program processing daemon", "disabled",
                                     "inactive", "loaded"}}))
      << manager.GetError();
  setenv("DBUS_SYSTEM_BUS_ADDRESS", manager.GetAddress().c_str(), 1);
  kx::SC_HANDLE hManager = nullptr;
  ASSERT_EQ(kx::OpenServiceManager(&hManager), static_cast<DWORD>(ERROR_SUCCESS));
  std::vector<kx::SERVICE_LIST_ENTRY> services;
  ASSERT_EQ(kx::EnumerateServices(hManager, &services), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(services.size(), 2u);
  EXPECT_EQ(services[0].strServiceName, "cron");
  EXPECT_EQ(services[1].strDisplayName, "A high performance web server");
  EXPECT_EQ(services[1].status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  const struct {
    const char* lpName;
    DWORD dwOpen;
    DWORD dwStart;           // StartInstalledService
    DWORD dwStop;            // ControlService(SERVICE_CONTROL_STOP)
  } kServices[] = {
      {"CRON", ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS},
      {"nginx.service", ERROR_SUCCESS, ERROR_SERVICE_ALREADY_RUNNING, ERROR_SUCCESS},
      {"sshd", ERROR_SERVICE_DOES_NOT_EXIST, 0, 0},
  };
  for (const auto& expected : kServices) {
    SCOPED_TRACE(expected.lpName);
    kx::SC_HANDLE hService = nullptr;
    ASSERT_EQ(kx::OpenServiceByName(hManager, expected.lpName, &hService), expected.dwOpen);
    if (hService == nullptr) continue;
    EXPECT_EQ(kx::StartInstalledService(hService), expected.dwStart);
    kx::SERVICE_STATUS status = {};
    EXPECT_EQ(kx::ControlService(hService, SERVICE_CONTROL_STOP, &status), expected.dwStop);
    EXPECT_EQ(kx::DeleteService(hService), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    kx::CloseServiceHandle(hService);
  }
  kx::SC_HANDLE hInstalled = nullptr;
  EXPECT_EQ(kx::InstallService(hManager, "extra", kx::SERVICE_CONFIG(), &hInstalled),
            static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  kx::CloseServiceHandle(hManager);

  // logind, reached as the system bus once the manager has connected.
  CMockSystemBus logind;
  ASSERT_TRUE(logind.StartLogind()) << logind.GetError();
  setenv("DBUS_SYSTEM_BUS_ADDRESS", logind.GetAddress().c_str(), 1);
  EXPECT_EQ(kx::RequestSystemShutdown("going down", 60, FALSE, TRUE), static_cast<DWORD>(ERROR_SUCCESS));
  kx::SHUTDOWN_REQUEST request;
  ASSERT_EQ(kx::QueryPendingShutdown(&request), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(request.bRebootAfterShutdown, TRUE);
  EXPECT_EQ(request.strMessage, "going down");
  EXPECT_EQ(kx::CancelSystemShutdown(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(kx::CancelSystemShutdown(), static_cast<DWORD>(ERROR_NO_SHUTDOWN_IN_PROGRESS));
}

// The switch wins when it names a backend; otherwise a running systemd decides.
TEST(NativeBackendsTest, SwitchOrRunningSystemdChoosesTheBackends) {
  CTempDirectory probe;
  ASSERT_FALSE(probe.GetPath().empty());
  const std::string strMissing = probe.GetPath() + "/missing";
  const std::string strFile = probe.GetPath() + "/file";
  ASSERT_EQ(std::system(("touch '" + strFile + "'").c_str()), 0);
  const struct {
    const char* lpSwitch;
    const std::string& strProbe;
    kx::BACKEND_KIND expected;
    const char* lpComplaint;
  } kCases[] = {
      {nullptr, probe.GetPath(), kx::kBackendNative, ""},
      {nullptr, strMissing, kx::kBackendEmulated, ""},
      {"", strFile, kx::kBackendEmulated, ""},
      {"native", strMissing, kx::kBackendNative, ""},
      {"Emulated", probe.GetPath(), kx::kBackendEmulated, ""},
      {"systemd", probe.GetPath(), kx::kBackendNative, "KX_BACKEND=systemd is neither native nor emulated; using native"},
      {"emulation", strMissing, kx::kBackendEmulated,
       "KX_BACKEND=emulation is neither native nor emulated; using emulated"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(std::string(test.lpSwitch == nullptr ? "(unset)" : test.lpSwitch) + " " + test.strProbe);
    std::string strComplaint = "left over";
    EXPECT_EQ(kx::ChooseBackendKind(test.lpSwitch, test.strProbe.c_str(), &strComplaint), test.expected);
    EXPECT_EQ(strComplaint, test.lpComplaint);
  }
}

}  // namespace
