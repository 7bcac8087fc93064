// The status the service host reports to the service manager, through a
// double of the status-report call.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "ServiceHost.h"

namespace {

class CRecordedReports {
 public:
  CServiceStatusReporter::ReportFunc Recorder() {
    return [this](const kx::SERVICE_STATUS& status) {
      std::lock_guard<std::mutex> lock(m_lock);
      m_reports.push_back(status);
      m_changed.notify_all();
    };
  }
  // Waits (with a deadline) until a report in `dwState` carries checkpoint `dwCheckPoint`.
  bool WaitForCheckPoint(DWORD dwState, DWORD dwCheckPoint) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::seconds(20), [&] {
      return !m_reports.empty() && m_reports.back().dwCurrentState == dwState &&
             m_reports.back().dwCheckPoint >= dwCheckPoint;
    });
  }
  std::vector<kx::SERVICE_STATUS> Take() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_reports;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<kx::SERVICE_STATUS> m_reports;
};

// Start pending (no control accepted) -> running (stop accepted) -> stop
// pending with checkpoints rising and a wait hint while the agent's threads
// are joined -> stopped, and nothing after it.
TEST(CServiceStatusReporter, ReportsAStartAndASlowStopAsTheManagerExpects) {
  CRecordedReports reports;
  CServiceStatusReporter reporter(reports.Recorder(), 10, 60000);
  reporter.ReportStartPending();
  reporter.ReportRunning();
  reporter.ReportStopPending();
  reporter.ReportStopPending();  // the handler and the service thread both may
  ASSERT_TRUE(reports.WaitForCheckPoint(SERVICE_STOP_PENDING, 3));
  reporter.ReportStopped(0, 0);
  std::vector<kx::SERVICE_STATUS> seen = reports.Take();

  ASSERT_GE(seen.size(), 6u);
  EXPECT_EQ(DWORD(SERVICE_START_PENDING), seen[0].dwCurrentState);
  EXPECT_EQ(0u, seen[0].dwControlsAccepted);
  EXPECT_EQ(1u, seen[0].dwCheckPoint);
  EXPECT_GT(seen[0].dwWaitHint, 0u);
  // The progress thread may have raised the start's checkpoint before running.
  size_t i = 1;
  while (i < seen.size() && seen[i].dwCurrentState == SERVICE_START_PENDING) ++i;
  ASSERT_LT(i, seen.size());
  EXPECT_EQ(DWORD(SERVICE_RUNNING), seen[i].dwCurrentState);
  EXPECT_EQ(DWORD(SERVICE_ACCEPT_STOP), seen[i].dwControlsAccepted);
  EXPECT_EQ(0u, seen[i].dwCheckPoint);
  EXPECT_EQ(0u, seen[i].dwWaitHint);
  DWORD dwCheckPoint = 0;
  for (++i; i + 1 < seen.size(); ++i) {
    EXPECT_EQ(DWORD(SERVICE_STOP_PENDING), seen[i].dwCurrentState);
    EXPECT_EQ(0u, seen[i].dwControlsAccepted);
    EXPECT_EQ(dwCheckPoint + 1, seen[i].dwCheckPoint);
    EXPECT_GE(seen[i].dwWaitHint, 10u);
    dwCheckPoint = seen[i].dwCheckPoint;
  }
  EXPECT_GE(dwCheckPoint, 3u);
  EXPECT_EQ(DWORD(SERVICE_STOPPED), seen.back().dwCurrentState);
  EXPECT_EQ(0u, seen.back().dwWin32ExitCode);
  EXPECT_EQ(0u, seen.back().dwCheckPoint);
  EXPECT_EQ(seen.size(), reports.Take().size());
}

struct StoppedCase {
  DWORD dwWin32, dwSpecific;
  DWORD dwExpectedWin32, dwExpectedSpecific;
};

// A failed start goes from start pending straight to stopped with an exit
// code, which makes the manager log the failure and run recovery actions; the
// service's own code counts only with ERROR_SERVICE_SPECIFIC_ERROR.
TEST(CServiceStatusReporter, EndsAFailedStartWithItsExitCode) {
  const StoppedCase kCases[] = {
      {ERROR_SERVICE_SPECIFIC_ERROR, 0x103, ERROR_SERVICE_SPECIFIC_ERROR, 0x103},
      {5, 0x103, 5, 0},
      {0, 0, 0, 0},
  };
  for (const StoppedCase& c : kCases) {
    CRecordedReports reports;
    CServiceStatusReporter reporter(reports.Recorder(), 10000, 60000);
    reporter.ReportStartPending();
    reporter.ReportStopped(c.dwWin32, c.dwSpecific);
    std::vector<kx::SERVICE_STATUS> seen = reports.Take();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(DWORD(SERVICE_START_PENDING), seen[0].dwCurrentState);
    EXPECT_EQ(DWORD(SERVICE_STOPPED), seen[1].dwCurrentState);
    EXPECT_EQ(c.dwExpectedWin32, seen[1].dwWin32ExitCode);
    EXPECT_EQ(c.dwExpectedSpecific, seen[1].dwServiceSpecificExitCode);
    EXPECT_EQ(DWORD(SERVICE_STOPPED), reporter.GetState());
  }
}

}  // namespace
