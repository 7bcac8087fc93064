#include "InputPump.h"

#include <algorithm>
#include <chrono>

#include "KxAgentLog.h"
#include "platform/com_apartment.h"

CInputPump::CInputPump(std::function<void(char)> fnKey, std::function<void()> fnReceived)
    : m_fnKey(std::move(fnKey)),
      m_fnReceived(std::move(fnReceived)),
      m_bStopping(false),
      m_bSignalled(true),
      m_bOverflow(false) {}

CInputPump::~CInputPump() { Stop(); }

void CInputPump::Start() { m_thread = std::thread(&CInputPump::Run, this); }

void CInputPump::Stop() {
  {
    // Taken so that the flag is ordered before the wait that tests it.
    std::lock_guard<std::mutex> lock(m_lock);
    m_bStopping = true;
  }
  m_event.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void CInputPump::OnReceive(const char* lpData, int nLength) {
  m_fnReceived();
  size_t nDropped = 0;
  bool bReport = false;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    size_t nCount = nLength > 0 ? static_cast<size_t>(nLength) : 0;
    size_t nRoom = m_queue.size() < kQueueMax ? kQueueMax - m_queue.size() : 0;
    size_t nTaken = std::min(nCount, nRoom);
    m_queue.insert(m_queue.end(), lpData, lpData + nTaken);
    nDropped = nCount - nTaken;
    if (nDropped > 0 && !m_bOverflow) {
      m_bOverflow = true;
      bReport = true;
    }
    m_bSignalled = true;
  }
  m_event.notify_one();
  if (bReport) {
    CKxAgentLog::LogWarning("CKestrixAgent::OnReceive()",
                            "Input queue full (%lu bytes): %lu received bytes dropped; further "
                            "drops are not logged until the queue has emptied.",
                            static_cast<unsigned long>(kQueueMax), static_cast<unsigned long>(nDropped));
  }
}

void CInputPump::OnReceiveChar(char c) { OnReceive(&c, 1); }

std::string CInputPump::TakeQueued() {
  std::lock_guard<std::mutex> lock(m_lock);
  std::string strQueued(m_queue.begin(), m_queue.end());
  m_queue.clear();
  return strQueued;
}

void CInputPump::Run() {
  kx::CComApartment apartment;  // DLL plug-ins and the shell's drive names need COM
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_event.wait_for(lock, std::chrono::milliseconds(5000),
                       [this] { return m_bSignalled || m_bStopping.load(); });
      if (m_bStopping) return;
      m_bSignalled = false;
    }
    for (;;) {
      if (m_bStopping) return;
      char c;
      {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_queue.empty()) {
          m_bOverflow = false;
          break;
        }
        c = m_queue.front();
        m_queue.pop_front();
      }
      m_fnKey(c);
    }
  }
}
