// The service host: parses the program's switches, installs and removes the
// agent's service and registration, and runs the agent either under the
// service manager (service mode) or in this process (run mode).
#pragma once

// Runs the program: the first of the switches -RegServer, -UnregServer,
// -Service and -install (also after '/', case-insensitive) decides and its
// result is the exit code; without one the agent runs in service mode when it
// is registered as a service, else in run mode until a stop request
// (SIGTERM or SIGINT on POSIX, Ctrl-C or Ctrl-Break on Windows).
int RunServiceHost(int argc, char* argv[]);

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/services.h"

// The status a service reports to the service manager, kept to the manager's
// contract: no control is accepted while start or stop is pending; a pending
// state carries a wait hint and, while it lasts, a checkpoint that rises
// before each hint runs out, so a stop that joins slow threads does not look
// hung; a failed start ends in SERVICE_STOPPED with an exit code, so the
// manager logs the failure and runs the recovery actions. Reports go through
// the function given, on the calling thread or on the reporter's own
// progress thread; any thread may call.
class CServiceStatusReporter {
 public:
  typedef std::function<void(const kx::SERVICE_STATUS& status)> ReportFunc;

  // `dwProgressMs` is how often a pending state's checkpoint rises; its wait
  // hint is three times that. The checkpoint stops rising after
  // `dwProgressLimitMs`, and the manager may then judge the service hung.
  CServiceStatusReporter(ReportFunc report, DWORD dwProgressMs, DWORD dwProgressLimitMs);
  ~CServiceStatusReporter();
  CServiceStatusReporter(const CServiceStatusReporter&) = delete;
  CServiceStatusReporter& operator=(const CServiceStatusReporter&) = delete;

  // SERVICE_START_PENDING, no controls accepted, checkpoints rising.
  void ReportStartPending();
  // SERVICE_RUNNING, the stop control accepted.
  void ReportRunning();
  // SERVICE_STOP_PENDING, no controls accepted, checkpoints rising; a second
  // call while stop is pending changes nothing.
  void ReportStopPending();
  // SERVICE_STOPPED with the exit codes: 0 and 0 after a clean stop, else a
  // Win32 code, or ERROR_SERVICE_SPECIFIC_ERROR (1066) and the service's own.
  void ReportStopped(DWORD dwWin32ExitCode, DWORD dwServiceSpecificExitCode);
  DWORD GetState();

 private:
  void ReportPending(DWORD dwState);
  void Report(DWORD dwState, DWORD dwControls, DWORD dwWin32, DWORD dwSpecific);
  void StopProgress();
  void ProgressThread();

  ReportFunc m_report;
  DWORD m_dwProgressMs;
  DWORD m_dwProgressLimitMs;
  std::mutex m_threadLock;  // taken before m_lock
  std::mutex m_lock;
  std::condition_variable m_progressWake;
  kx::SERVICE_STATUS m_status;
  unsigned int m_nPendingGeneration;  // changes whenever a state is reported
  std::thread m_progress;
};
