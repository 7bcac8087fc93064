#include "platform/process_control.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

namespace kx {
namespace {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  return signals;
}

}  // namespace

void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

void HoldStopRequests() {
  sigset_t signals = StopSignals();
  // Threads inherit the mask, so only sigwait ever sees these signals.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void WaitForStopRequest() {
  sigset_t signals = StopSignals();
  int nSignal = 0;
  sigwait(&signals, &nSignal);
}

void ExitProcessNow(int nExitCode) {
  std::fflush(nullptr);
  _exit(nExitCode);
}

}  // namespace kx
