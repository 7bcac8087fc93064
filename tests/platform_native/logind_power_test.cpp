// logind as the delayed shutdown, against python-dbusmock's logind template on
// a private bus (MockSystemBus.h).
#include "platform/native/logind_power.h"

#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "MockSystemBus.h"
#include "platform/error_codes.h"

namespace {

using kx::native::CLogindPower;


long long NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

class LogindPowerTest : public ::testing::Test {
 protected:
  void SetUp() override { StartMock(nullptr); }
  void StartMock(const char* lpAddress) {
    ASSERT_TRUE(m_bus.StartLogind(lpAddress)) << m_bus.GetError();
    if (lpAddress == nullptr) {
      ASSERT_EQ(m_power.DoConnect(m_bus.GetAddress().c_str()), static_cast<DWORD>(ERROR_SUCCESS));
    }
  }
  // What logind has scheduled, as "type deadline-in-ms".
  std::string Scheduled() {
    return m_bus.Evaluate(
        "'%s %d' % (self.props['org.freedesktop.login1.Manager']['ScheduledShutdown'][0], "
        "self.props['org.freedesktop.login1.Manager']['ScheduledShutdown'][1] // 1000)");
  }

  CMockSystemBus m_bus;
  CLogindPower m_power;
};

// Request, refuse a second, report what is pending, cancel, and nothing left to
// cancel: the power facility's codes at each step, logind's schedule behind them.
TEST_F(LogindPowerTest, SchedulesAndCancelsThroughLogind) {
  kx::SHUTDOWN_REQUEST request;
  EXPECT_EQ(m_power.DoQueryPendingShutdown(&request), static_cast<DWORD>(ERROR_NO_SHUTDOWN_IN_PROGRESS));
  EXPECT_EQ(m_power.DoCancelShutdown(), static_cast<DWORD>(ERROR_NO_SHUTDOWN_IN_PROGRESS));

  long long llBefore = NowMs();
  ASSERT_EQ(m_power.DoRequestShutdown("going down", 60, TRUE, TRUE), static_cast<DWORD>(ERROR_SUCCESS));
  long long llAfter = NowMs();
  std::string strScheduled = Scheduled();
  ASSERT_EQ(strScheduled.compare(0, 7, "reboot "), 0) << strScheduled;
  long long llDeadline = std::atoll(strScheduled.c_str() + 7);
  EXPECT_GE(llDeadline, llBefore + 60000);
  EXPECT_LE(llDeadline, llAfter + 60000);

  EXPECT_EQ(m_power.DoRequestShutdown(nullptr, 30, FALSE, FALSE), static_cast<DWORD>(ERROR_SHUTDOWN_IN_PROGRESS));
  ASSERT_EQ(m_power.DoQueryPendingShutdown(&request), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(request.bRebootAfterShutdown);
  EXPECT_TRUE(request.bForceAppsClosed);
  EXPECT_FALSE(request.bActing);
  EXPECT_EQ(request.dwTimeout, 60u);
  EXPECT_EQ(request.llDeadline, llDeadline);
  EXPECT_EQ(request.strMessage, "going down");

  EXPECT_EQ(m_power.DoCancelShutdown(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(Scheduled(), " 0");
  EXPECT_EQ(m_power.DoCancelShutdown(), static_cast<DWORD>(ERROR_NO_SHUTDOWN_IN_PROGRESS));

  ASSERT_EQ(m_power.DoRequestShutdown("", 0, FALSE, FALSE), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(Scheduled().compare(0, 9, "poweroff "), 0);
}

// Requests the facility refuses before asking logind, and a schedule made by
// someone else: its deadline passed, it can no longer be cancelled.
TEST_F(LogindPowerTest, RefusesWhatTheFacilityRefuses) {
  const struct {
    std::string strMessage;
    DWORD dwTimeout;
    DWORD dwResult;
  } kRequests[] = {
      {"", 10u * 365u * 24u * 3600u + 1u, ERROR_INVALID_PARAMETER},
      {std::string(4097, 'x'), 60, ERROR_INVALID_PARAMETER},
  };
  for (const auto& request : kRequests) {
    EXPECT_EQ(m_power.DoRequestShutdown(request.strMessage.c_str(), request.dwTimeout, FALSE, FALSE), request.dwResult);
  }
  EXPECT_EQ(Scheduled(), " 0");

  std::string strPast = std::to_string((NowMs() - 5000) * 1000);
  m_bus.Evaluate(("self.props['org.freedesktop.login1.Manager'].__setitem__('ScheduledShutdown', "
                  "dbus.Struct(('poweroff', dbus.UInt64(" + strPast + ")), signature='st'))").c_str());
  kx::SHUTDOWN_REQUEST pending;
  ASSERT_EQ(m_power.DoQueryPendingShutdown(&pending), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(pending.bActing);
  EXPECT_FALSE(pending.bRebootAfterShutdown);
  EXPECT_EQ(pending.dwOwnerProcessId, 0u);
  EXPECT_EQ(m_power.DoCancelShutdown(), static_cast<DWORD>(ERROR_SHUTDOWN_IN_PROGRESS));
  EXPECT_EQ(m_power.DoRequestShutdown(nullptr, 60, FALSE, FALSE), static_cast<DWORD>(ERROR_SHUTDOWN_IN_PROGRESS));
}

// A bus that goes away and comes back at its address is connected to again.
TEST_F(LogindPowerTest, ConnectsAgainToARestartedBus) {
  char szDir[] = "/tmp/kx-bus-XXXXXX";
  ASSERT_NE(mkdtemp(szDir), nullptr);
  const std::string strAddress = std::string("unix:path=") + szDir + "/bus";
  m_bus.Stop();
  StartMock(strAddress.c_str());
  CLogindPower power;
  ASSERT_EQ(power.DoConnect(strAddress.c_str()), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(power.DoRequestShutdown(nullptr, 600, FALSE, FALSE), static_cast<DWORD>(ERROR_SUCCESS));

  m_bus.Stop();
  kx::SHUTDOWN_REQUEST request;
  EXPECT_NE(power.DoQueryPendingShutdown(&request), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_NE(power.DoCancelShutdown(), static_cast<DWORD>(ERROR_SUCCESS));
  unlink((std::string(szDir) + "/bus").c_str());
  StartMock(strAddress.c_str());
  EXPECT_EQ(power.DoQueryPendingShutdown(&request), static_cast<DWORD>(ERROR_NO_SHUTDOWN_IN_PROGRESS));
  EXPECT_EQ(power.DoRequestShutdown(nullptr, 600, FALSE, TRUE), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(Scheduled().compare(0, 7, "reboot "), 0);
  m_bus.Stop();
  unlink((std::string(szDir) + "/bus").c_str());
  rmdir(szDir);
}

}  // namespace
