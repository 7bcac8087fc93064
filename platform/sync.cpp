#include "platform/sync.h"

#include <chrono>
#include <thread>

namespace kx {

CEvent::CEvent(BOOL bManualReset, BOOL bInitialState, const char* /*lpName*/)
    : m_bManualReset(bManualReset != FALSE), m_bSignalled(bInitialState != FALSE) {}

void CEvent::Set() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bSignalled = true;
  if (m_bManualReset) {
    m_cond.notify_all();
  } else {
    m_cond.notify_one();
  }
}

void CEvent::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bSignalled = false;
}

BOOL CEvent::IsSet() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bSignalled ? TRUE : FALSE;
}

DWORD CEvent::Wait(DWORD dwMilliseconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  auto isSignalled = [this] { return m_bSignalled; };
  if (dwMilliseconds == INFINITE) {
    m_cond.wait(lock, isSignalled);
  } else if (!m_cond.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), isSignalled)) {
    return WAIT_TIMEOUT;
  }
  if (!m_bManualReset) m_bSignalled = false;
  return WAIT_OBJECT_0;
}

DWORD GetTickCount() {
  auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  return static_cast<DWORD>(static_cast<unsigned long long>(ms));
}

void Sleep(DWORD dwMilliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

}  // namespace kx
