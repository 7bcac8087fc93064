// Time as a dependency: the millisecond counter and the timed waits of
// everything that paces itself (service waits, pauses, countdowns, watchers),
// so that the same code runs on the system's clock or on one a test moves.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/kx_types.h"

namespace kx {

class CClock {
 public:
  virtual ~CClock() {}
  // Milliseconds on a counter that wraps as the system tick count does.
  virtual DWORD GetTickCount() = 0;
  // With `lock` held on entry and on return: waits on `event` until `fnDone`
  // holds or `dwMilliseconds` of this clock have passed. fnDone's last answer.
  virtual bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& event,
                       DWORD dwMilliseconds, const std::function<bool()>& fnDone) = 0;
  // Waits `dwMilliseconds` of this clock.
  virtual void Sleep(DWORD dwMilliseconds) = 0;
  // How long a wait this clock does not drive (an OS wait for something else)
  // may last when `dwMilliseconds` of this clock remain; the caller reads the
  // clock again afterwards. The system's clock runs alongside such a wait, so
  // all of it; a clock that is moved by hand may jump meanwhile, so less.
  virtual DWORD LimitOutsideWait(DWORD dwMilliseconds) = 0;
};

// The system's clock; one for the process, never destroyed.
CClock& GetSystemClock();

}  // namespace kx
