#include "platform/clock.h"

#include <chrono>

#include "platform/sync.h"

namespace kx {

namespace {

class CSystemClock : public CClock {
 public:
  DWORD GetTickCount() override { return kx::GetTickCount(); }
  bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& event, DWORD dwMilliseconds,
               const std::function<bool()>& fnDone) override {
    return event.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), fnDone);
  }
  void Sleep(DWORD dwMilliseconds) override { kx::Sleep(dwMilliseconds); }
  DWORD LimitOutsideWait(DWORD dwMilliseconds) override { return dwMilliseconds; }
};

}  // namespace

CClock& GetSystemClock() {
  static CSystemClock* s_pClock = new CSystemClock();
  return *s_pClock;
}

}  // namespace kx
