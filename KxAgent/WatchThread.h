// CWatchThread: one replaceable background thread that paces itself on a
// clock, as the session time-out and the shutdown countdown use. Each start is
// a new generation; the thread of an older one, or any once stopping, is woken
// at once from its pause and leaves by itself, and is joined by its owner.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/kx_types.h"

class CWatchThread {
 public:
  explicit CWatchThread(kx::CClock& clock);
  // Stops and joins the thread.
  ~CWatchThread();
  CWatchThread(const CWatchThread&) = delete;
  CWatchThread& operator=(const CWatchThread&) = delete;

  // Moves the generation on, which ends the thread of the old one, joins that
  // thread and starts `fnBody` with the new generation in its place. After
  // RequestStop the new thread sees IsCurrent false at once.
  void Restart(const std::function<void(unsigned int)>& fnBody);
  // Waits up to dwMilliseconds of the clock. false, at once, when stopping or
  // when `nMine` is no longer the current generation.
  bool Pause(DWORD dwMilliseconds, unsigned int nMine);
  // nMine is the current generation and nobody asked to stop.
  bool IsCurrent(unsigned int nMine) const;
  bool IsStopping() const { return m_bStopping.load(); }
  // Marks the thread to stop and wakes its pause; does not join.
  void RequestStop();
  // RequestStop, then joins the thread. Not while another thread calls Restart.
  void Stop();
  kx::CClock& GetClock() { return m_clock; }

 private:
  kx::CClock& m_clock;
  std::atomic<bool> m_bStopping;
  std::atomic<unsigned int> m_nGeneration;
  std::mutex m_wakeLock;
  std::condition_variable m_wakeEvent;
  std::thread m_thread;
};
