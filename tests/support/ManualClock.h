// A clock that moves only when the test moves it. Waits on it end when their
// condition holds or when Advance has carried the clock past their deadline;
// WaitForWaits lets a test move the clock once the code under test has begun
// its next wait. With SetSleepAdvances, a sleep moves the clock itself and
// returns at once, for code that only polls on the calling thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/clock.h"

class CManualClock : public kx::CClock {
 public:
  explicit CManualClock(DWORD dwStart = 0) : m_dwNow(dwStart), m_nWaits(0), m_bSleepAdvances(false) {}

  void SetSleepAdvances(bool bOn) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bSleepAdvances = bOn;
  }

  DWORD GetTickCount() override {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dwNow;
  }

  bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& event, DWORD dwMilliseconds,
               const std::function<bool()>& fnDone) override {
    DWORD dwStart = GetTickCount();
    Register(&event);
    bool bDone;
    while (!(bDone = fnDone()) && GetTickCount() - dwStart < dwMilliseconds) {
      // Advance notifies without the caller's lock; the short real wait covers
      // a notification that lands between the test and the wait.
      event.wait_for(lock, std::chrono::milliseconds(5));
    }
    Unregister(&event);
    return bDone;
  }

  void Sleep(DWORD dwMilliseconds) override {
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_bSleepAdvances) {
      m_dwNow += dwMilliseconds;
      return;
    }
    DWORD dwStart = m_dwNow;
    ++m_nWaits;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_dwNow - dwStart >= dwMilliseconds; });
  }

  // The test may move the clock at any time: an outside wait is cut short, so
  // that the move is seen within a few real milliseconds.
  DWORD LimitOutsideWait(DWORD dwMilliseconds) override { return dwMilliseconds < 20 ? dwMilliseconds : 20; }

  // Moves the clock on and wakes every wait on it.
  void Advance(DWORD dwMilliseconds) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_dwNow += dwMilliseconds;
    for (std::condition_variable* pEvent : m_events) pEvent->notify_all();
    m_changed.notify_all();
  }

  // Waits, on the real clock and at most dwRealLimitMs, until at least nCount
  // waits (and sleeps) have begun on this clock since it was made. true when
  // they have.
  bool WaitForWaits(int nCount, DWORD dwRealLimitMs = 10000) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(dwRealLimitMs),
                              [&] { return m_nWaits >= nCount; });
  }

 private:
  void Register(std::condition_variable* pEvent) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back(pEvent);
    ++m_nWaits;
    m_changed.notify_all();
  }
  void Unregister(std::condition_variable* pEvent) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.erase(std::find(m_events.begin(), m_events.end(), pEvent));
  }

  std::mutex m_lock;
  std::condition_variable m_changed;
  DWORD m_dwNow;
  int m_nWaits;
  bool m_bSleepAdvances;
  std::vector<std::condition_variable*> m_events;
};
