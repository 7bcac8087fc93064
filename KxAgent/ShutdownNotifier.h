// CShutdownNotifier: the pending shutdown or reboot and its countdown notices
// on the terminal, one every five seconds and the last as the system goes
// down, written by a notice thread of its own.
#pragma once

#include <atomic>

#include "WatchThread.h"
#include "commands/PowerCommands.h"
#include "platform/clock.h"
#include "platform/kx_types.h"

class CWriter;

class CShutdownNotifier : public CShutdownState {
 public:
  // Writes the notices to `writer` (the serial channel), which outlives this.
  CShutdownNotifier(kx::CClock& clock, CWriter& writer);
  CShutdownNotifier(const CShutdownNotifier&) = delete;
  CShutdownNotifier& operator=(const CShutdownNotifier&) = delete;

  // CShutdownState; each is one word written in one store.
  void SetShutdownPending(int nPending) override { m_nPending.store(nPending); }
  void SetShutdownDelay(int nSeconds) override { m_nDelay.store(nSeconds); }
  // Stores the delay and the reboot flag and starts the countdown notices,
  // ending the countdown of an earlier one. Input thread.
  void StartShutdownNotice(int nDelay, BOOL bReboot) override;

  // Wakes the notice thread to leave; Stop also joins it.
  void RequestStop() { m_watch.RequestStop(); }
  void Stop() { m_watch.Stop(); }

 private:
  void CountDown(unsigned int nNotice);

  CWriter& m_writer;
  std::atomic<int> m_nPending;
  std::atomic<int> m_nReboot;
  std::atomic<int> m_nDelay;
  CWatchThread m_watch;
};
