// The agent's timed rooms on a manual clock: the shutdown countdown and the
// session time-out. The test moves the clock one second at a time, each time
// once the room's thread has begun its next wait.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>

#include "SessionTimeout.h"
#include "ShutdownNotifier.h"
#include "tests/support/ManualClock.h"
#include "KxAgentPluginManager/Writer.h"
#include "tests/support/WaitUntil.h"

namespace {

const char kHalt10[] = "\r\n[Notice] The system is going DOWN for system halt in 10 seconds!";
const char kHalt5[] = "\r\n[Notice] The system is going DOWN for system halt in 5 seconds!";
const char kReboot15[] = "\r\n[Notice] The system is going DOWN for system reboot in 15 seconds!";
const char kReboot10[] = "\r\n[Notice] The system is going DOWN for system reboot in 10 seconds!";
const char kReboot5[] = "\r\n[Notice] The system is going DOWN for system reboot in 5 seconds!";
const char kHalting[] = "\r\n[Notice] The system is halting...";
const char kRestarting[] = "\r\n[Notice] The system is restarting...";

// The notices as the notice thread writes them, read safely from the test.
class CLockedWriter final : public CWriter {
 public:
  int WriteChar(char c) override { return Write(std::string(1, c).c_str()); }
  int WriteLine(const char* lpText) override { return Write((std::string(lpText) + "\n").c_str()); }
  int Write(const char* lpText) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_strBytes += lpText;
    return *lpText != '\0';
  }
  std::string GetBytes() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_strBytes;
  }
  // The bytes once they are `strExpected`, or what stands after 10 s.
  std::string WaitForBytes(const std::string& strExpected) {
    WaitUntil([&] { return GetBytes() == strExpected; }, 10000);
    return GetBytes();
  }

 private:
  std::mutex m_lock;
  std::string m_strBytes;
};

struct CountdownCase {
  const char* lpName;
  int nDelay;
  BOOL bReboot;
  // Seconds after which the shutdown is aborted (pending cleared); -1: never.
  int nAbortAfter;
  std::string strExpected;
};

TEST(ShutdownNotifierTest, CountsDownEveryFiveSecondsOnTheClock) {
  const CountdownCase cases[] = {
      {"halt, announced from the first multiple of five", 12, FALSE, -1,
       std::string(kHalt10) + kHalt5 + kHalting},
      {"reboot, announced at once", 15, TRUE, -1, std::string(kReboot15) + kReboot10 + kReboot5 + kRestarting},
      {"aborted after six seconds", 15, TRUE, 6, std::string(kReboot15) + kReboot10},
  };
  for (const CountdownCase& c : cases) {
    SCOPED_TRACE(c.lpName);
    CManualClock clock;
    CLockedWriter writer;
    CShutdownNotifier notifier(clock, writer);
    notifier.SetShutdownPending(1);
    notifier.StartShutdownNotice(c.nDelay, c.bReboot);
    for (int nSecond = 1; nSecond <= c.nDelay; ++nSecond) {
      ASSERT_TRUE(clock.WaitForWaits(nSecond));
      bool bAbort = nSecond == c.nAbortAfter;
      if (bAbort) notifier.SetShutdownPending(0);
      clock.Advance(1000);
      if (bAbort) break;
    }
    EXPECT_EQ(c.strExpected, writer.WaitForBytes(c.strExpected));
    notifier.Stop();
    EXPECT_EQ(c.strExpected, writer.GetBytes());
  }
}

TEST(ShutdownNotifierTest, ANewCountdownEndsTheOldOneAndCountsFromItsOwnDelay) {
  CManualClock clock;
  CLockedWriter writer;
  CShutdownNotifier notifier(clock, writer);
  notifier.SetShutdownPending(1);
  notifier.StartShutdownNotice(100, FALSE);
  ASSERT_TRUE(clock.WaitForWaits(1));
  notifier.StartShutdownNotice(10, TRUE);
  for (int nSecond = 1; nSecond <= 10; ++nSecond) {
    // The ended countdown's wait is counted too.
    ASSERT_TRUE(clock.WaitForWaits(nSecond + 1));
    clock.Advance(1000);
  }
  const std::string strExpected = "\r\n[Notice] The system is going DOWN for system halt in 100 seconds!" +
                                  std::string(kReboot10) + kReboot5 + kRestarting;
  EXPECT_EQ(strExpected, writer.WaitForBytes(strExpected));
  notifier.Stop();
}

TEST(SessionTimeoutTest, IdleTimeBeyondTheTimeOutExpires) {
  struct {
    DWORD dwTimeout;
    DWORD dwIdle;
    bool bExpired;
  } const cases[] = {
      {0, 0xFFFFFFF0, false}, {3000, 3000, false}, {3000, 3001, true}, {180000, 179999, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.dwTimeout) + " after " + std::to_string(c.dwIdle));
    // Near the wrap of the tick count.
    CManualClock clock(0xFFFFFF00);
    CSessionTimeout timeout(clock, [](unsigned int) { return CSessionTimeout::CHECK_GONE; }, [] {});
    timeout.SetTimeout(c.dwTimeout);
    timeout.UpdateActivity();
    clock.Advance(c.dwIdle);
    EXPECT_EQ(c.bExpired, timeout.IsExpired());
  }
}

TEST(SessionTimeoutTest, WatcherEndsTheIdleSessionOnceAndALogoffEndsTheWatcher) {
  CManualClock clock;
  std::atomic<int> nEnded(0);
  std::atomic<bool> bLoggedOn(true);
  CSessionTimeout* pTimeout = nullptr;
  CSessionTimeout timeout(
      clock,
      [&](unsigned int) {
        if (!bLoggedOn) return CSessionTimeout::CHECK_GONE;
        return pTimeout->IsExpired() ? CSessionTimeout::CHECK_ENDED : CSessionTimeout::CHECK_KEEP;
      },
      [&] { ++nEnded; });
  pTimeout = &timeout;
  timeout.SetTimeout(3000);
  timeout.UpdateActivity();
  timeout.Start();
  // Idle for 1, 2 and 3 seconds: kept; the fourth second ends it.
  for (int nSecond = 1; nSecond <= 4; ++nSecond) {
    ASSERT_TRUE(clock.WaitForWaits(nSecond));
    EXPECT_EQ(0, nEnded.load());
    clock.Advance(1000);
  }
  EXPECT_TRUE(WaitUntil([&] { return nEnded.load() == 1; }, 10000));
  timeout.Stop();
  EXPECT_EQ(1, nEnded.load());

  // A logged-off session's watcher leaves without waiting.
  CManualClock clock2;
  bLoggedOn = false;
  nEnded = 0;
  CSessionTimeout gone(clock2, [&](unsigned int) { return CSessionTimeout::CHECK_GONE; }, [&] { ++nEnded; });
  gone.Start();
  gone.Stop();
  EXPECT_FALSE(clock2.WaitForWaits(1, 0));
  EXPECT_EQ(0, nEnded.load());
}

}  // namespace
