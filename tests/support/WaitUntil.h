// Waiting on a condition with a deadline, for what a test cannot be told
// directly: polls the condition until it holds or the limit has passed.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// true as soon as `condition` holds; false when it still fails after nLimitMs.
inline bool WaitUntil(const std::function<bool()>& condition, int nLimitMs = 30000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nLimitMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}
