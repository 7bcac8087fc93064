// CSessionTimeout: the watcher that logs an idle session off. It keeps the
// time-out setting and the session's last sign of life, and runs one watcher
// thread per logon that asks the session once a second whether to end it.
#pragma once

#include <atomic>
#include <functional>

#include "WatchThread.h"
#include "platform/clock.h"
#include "platform/kx_types.h"

class CSessionTimeout {
 public:
  // What the session answers for a watcher (ESessionCheck).
  enum { CHECK_GONE = -1, CHECK_KEEP = 0, CHECK_ENDED = 1 };

  // `fnCheck(nSession)` decides for the watcher of session nSession:
  // CHECK_GONE ends the watcher, CHECK_KEEP watches on, CHECK_ENDED ends the
  // watcher after calling `fnEnded` on its thread.
  CSessionTimeout(kx::CClock& clock, std::function<int(unsigned int)> fnCheck, std::function<void()> fnEnded);
  CSessionTimeout(const CSessionTimeout&) = delete;
  CSessionTimeout& operator=(const CSessionTimeout&) = delete;

  // Starts the watcher of a new session, ending the one of an earlier session.
  void Start();
  // nSession is the watched session and nobody asked to stop.
  bool IsCurrent(unsigned int nSession) const { return m_watch.IsCurrent(nSession); }
  // Wakes the watcher to leave; Stop also joins it.
  void RequestStop() { m_watch.RequestStop(); }
  void Stop() { m_watch.Stop(); }

  // The time-out in milliseconds; 0 never times out.
  DWORD GetTimeout() const { return m_dwTimeout.load(); }
  void SetTimeout(DWORD dwMilliseconds) { m_dwTimeout.store(dwMilliseconds); }
  // Records now as the last sign of life of the session. Any thread.
  void UpdateActivity();
  // A time-out is set and more of it has passed since the last sign of life.
  bool IsExpired();

 private:
  void Watch(unsigned int nSession);

  std::function<int(unsigned int)> m_fnCheck;
  std::function<void()> m_fnEnded;
  std::atomic<DWORD> m_dwTimeout;
  std::atomic<DWORD> m_dwLastActivity;
  CWatchThread m_watch;
};
