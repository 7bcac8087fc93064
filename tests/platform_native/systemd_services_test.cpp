// systemd's manager as the service manager, against python-dbusmock's systemd
// template on a private bus (MockSystemBus.h).
#include "platform/native/systemd_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MockSystemBus.h"
#include "platform/error_codes.h"
#include "platform/text_encoding.h"

namespace {

using kx::native::CSystemdServiceManager;

const char kUnit[] = "org.freedesktop.systemd1.Unit";

const std::vector<MOCK_UNIT> kUnits = {
    {"nginx.service", "A high performance web server", "enabled", "active", "loaded"},
    {"cron.service", "Regular background program processing daemon", "enabled", "inactive", "loaded"},
    {"rsync.service", "fast remote file copy program daemon", "disabled", "inactive", "loaded"},
    {"systemd-journald.service", "Journal Service", "static", "active", "loaded"},
    {"telnet.service", nullptr, "masked", "inactive", "masked"},
    {"web-ui.service", "\xE7\xAE\xA1\xE7\x90\x86\xE7\x94\xBB\xE9\x9D\xA2", "enabled-runtime", "activating", "loaded"},
};

class SystemdServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_bus.StartSystemd(kUnits)) << m_bus.GetError();
    ASSERT_EQ(m_manager.DoConnect(m_bus.GetAddress().c_str()), static_cast<DWORD>(ERROR_SUCCESS));
  }

  CMockSystemBus m_bus;
  CSystemdServiceManager m_manager;
};

// The list: every service unit, loaded or only installed, templates and
// other unit types left out, in name order, with state, display name and start mode.
TEST_F(SystemdServicesTest, ListsServiceUnitsWithStateDisplayNameAndStartMode) {
  std::vector<kx::SERVICE_LIST_ENTRY> services;
  ASSERT_EQ(m_manager.DoEnumerateServices(&services), static_cast<DWORD>(ERROR_SUCCESS));
  const struct {
    const char* lpName;
    std::string strDisplayName;
    DWORD dwState;
    DWORD dwStartType;
  } kExpected[] = {
      {"cron", "Regular background program processing daemon", SERVICE_STOPPED, SERVICE_AUTO_START},
      {"nginx", "A high performance web server", SERVICE_RUNNING, SERVICE_AUTO_START},
      {"rsync", "fast remote file copy program daemon", SERVICE_STOPPED, SERVICE_DEMAND_START},
      {"systemd-journald", "Journal Service", SERVICE_RUNNING, SERVICE_DEMAND_START},
      {"telnet", "telnet", SERVICE_STOPPED, SERVICE_DISABLED},
      {"web-ui", kx::Utf8ToCp932("\xE7\xAE\xA1\xE7\x90\x86\xE7\x94\xBB\xE9\x9D\xA2"), SERVICE_START_PENDING,
       SERVICE_AUTO_START},
  };
  ASSERT_EQ(services.size(), sizeof(kExpected) / sizeof(kExpected[0]));
  for (size_t i = 0; i < services.size(); ++i) {
    SCOPED_TRACE(kExpected[i].lpName);
    EXPECT_EQ(services[i].strServiceName, kExpected[i].lpName);
    EXPECT_EQ(services[i].strDisplayName, kExpected[i].strDisplayName);
    EXPECT_EQ(services[i].status.dwCurrentState, kExpected[i].dwState);
    kx::SERVICE_CONFIG config;
    ASSERT_EQ(m_manager.DoQueryConfiguration(services[i].strServiceName, &config), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(config.strDisplayName, kExpected[i].strDisplayName);
    EXPECT_EQ(config.dwStartType, kExpected[i].dwStartType);
  }
}

// Names: exact, with ".service", in another case; the facility's codes for an
// unknown service and for a name no unit can have.
TEST_F(SystemdServicesTest, FindsServicesByNameWithTheFacilityCodes) {
  static const std::string kLongName(300, 'a');
  const struct {
    const char* lpName;
    DWORD dwResult;
    const char* lpFound;
  } kNames[] = {
      {"nginx", ERROR_SUCCESS, "nginx"},
      {"nginx.service", ERROR_SUCCESS, "nginx"},
      {"NGINX", ERROR_SUCCESS, "nginx"},
      {"Systemd-Journald", ERROR_SUCCESS, "systemd-journald"},
      {"nosuch", ERROR_SERVICE_DOES_NOT_EXIST, ""},
      {"getty@", ERROR_INVALID_NAME, ""},
      {"../etc/passwd", ERROR_INVALID_NAME, ""},
      {"name with blanks", ERROR_INVALID_NAME, ""},
      {"", ERROR_INVALID_NAME, ""},
      {kLongName.c_str(), ERROR_INVALID_NAME, ""},
  };
  for (const auto& name : kNames) {
    SCOPED_TRACE(name.lpName);
    std::string strFound;
    EXPECT_EQ(m_manager.DoFindService(name.lpName, &strFound), name.dwResult);
    EXPECT_EQ(strFound, name.lpFound);
  }
}

// Start and stop go to the manager; the facility's codes for a service that is
// already in the asked state, pending, masked, or sent another control.
TEST_F(SystemdServicesTest, StartsAndStopsUnitsWithTheFacilityCodes) {
  const struct {
    const char* lpName;
    bool bStart;
    DWORD dwControl;
    DWORD dwResult;
    DWORD dwStateAfter;
  } kSteps[] = {
      {"cron", true, 0, ERROR_SUCCESS, SERVICE_RUNNING},
      {"cron", true, 0, ERROR_SERVICE_ALREADY_RUNNING, SERVICE_RUNNING},
      {"web-ui", true, 0, ERROR_SERVICE_ALREADY_RUNNING, SERVICE_START_PENDING},
      {"telnet", true, 0, ERROR_SERVICE_DISABLED, SERVICE_STOPPED},
      {"web-ui", false, SERVICE_CONTROL_STOP, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_START_PENDING},
      {"cron", false, SERVICE_CONTROL_PAUSE, ERROR_INVALID_SERVICE_CONTROL, SERVICE_RUNNING},
      {"cron", false, SERVICE_CONTROL_INTERROGATE, ERROR_SUCCESS, SERVICE_RUNNING},
      {"cron", false, SERVICE_CONTROL_STOP, ERROR_SUCCESS, SERVICE_STOPPED},
      {"cron", false, SERVICE_CONTROL_STOP, ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED},
      {"rsync", false, SERVICE_CONTROL_STOP, ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED},
      {"nosuch", true, 0, ERROR_SERVICE_DOES_NOT_EXIST, 0},
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(std::string(step.bStart ? "start " : "control ") + step.lpName);
    if (step.bStart) {
      EXPECT_EQ(m_manager.DoStartService(step.lpName), step.dwResult);
    } else {
      kx::SERVICE_STATUS status = {};
      EXPECT_EQ(m_manager.DoControlService(step.lpName, step.dwControl, &status), step.dwResult);
    }
    kx::SERVICE_STATUS status = {};
    DWORD dwQuery = m_manager.DoQueryStatus(step.lpName, &status);
    if (step.dwStateAfter == 0) {
      EXPECT_EQ(dwQuery, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    } else {
      EXPECT_EQ(dwQuery, static_cast<DWORD>(ERROR_SUCCESS));
      EXPECT_EQ(status.dwCurrentState, step.dwStateAfter);
    }
  }
  EXPECT_EQ(m_bus.GetStringProperty(CMockSystemBus::GetUnitPath("cron.service").c_str(), kUnit, "ActiveState"), "inactive");
}

// Without a manager on the bus, every question fails with a code, not a crash.
TEST(SystemdServicesWithoutManagerTest, AnswersWithAnErrorCode) {
  CSystemdServiceManager manager;
  EXPECT_NE(manager.DoConnect("unix:path=/nonexistent/bus"), static_cast<DWORD>(ERROR_SUCCESS));
  std::vector<kx::SERVICE_LIST_ENTRY> services;
  EXPECT_NE(manager.DoEnumerateServices(&services), static_cast<DWORD>(ERROR_SUCCESS));
  std::string strFound;
  EXPECT_NE(manager.DoFindService("nginx", &strFound), static_cast<DWORD>(ERROR_SUCCESS));
}

}  // namespace
