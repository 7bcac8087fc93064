#include "WatchThread.h"

CWatchThread::CWatchThread(kx::CClock& clock) : m_clock(clock), m_bStopping(false), m_nGeneration(0) {}

CWatchThread::~CWatchThread() { Stop(); }

void CWatchThread::Restart(const std::function<void(unsigned int)>& fnBody) {
  unsigned int nMine;
  {
    std::lock_guard<std::mutex> lock(m_wakeLock);
    nMine = ++m_nGeneration;
  }
  m_wakeEvent.notify_all();
  if (m_thread.joinable()) m_thread.join();
  m_thread = std::thread(fnBody, nMine);
}

bool CWatchThread::Pause(DWORD dwMilliseconds, unsigned int nMine) {
  std::unique_lock<std::mutex> lock(m_wakeLock);
  return !m_clock.WaitFor(lock, m_wakeEvent, dwMilliseconds, [&] { return !IsCurrent(nMine); });
}

bool CWatchThread::IsCurrent(unsigned int nMine) const {
  return !m_bStopping.load() && m_nGeneration.load() == nMine;
}

void CWatchThread::RequestStop() {
  {
    // Taken so that the flag is ordered before the pause that tests it.
    std::lock_guard<std::mutex> lock(m_wakeLock);
    m_bStopping = true;
  }
  m_wakeEvent.notify_all();
}

void CWatchThread::Stop() {
  RequestStop();
  if (m_thread.joinable()) m_thread.join();
}
