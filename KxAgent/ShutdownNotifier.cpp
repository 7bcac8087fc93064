#include "ShutdownNotifier.h"

#include <cstdint>
#include <cstdio>

#include "KxAgentPluginManager/Writer.h"

CShutdownNotifier::CShutdownNotifier(kx::CClock& clock, CWriter& writer)
    : m_writer(writer), m_nPending(0), m_nReboot(0), m_nDelay(0), m_watch(clock) {}

void CShutdownNotifier::StartShutdownNotice(int nDelay, BOOL bReboot) {
  m_nDelay = nDelay;
  m_nReboot = bReboot ? 1 : 0;
  // A countdown left from an aborted shutdown sees its generation change and
  // ends without a further notice, so a new one never counts twice.
  m_watch.Restart([this](unsigned int nNotice) { CountDown(nNotice); });
}

void CShutdownNotifier::CountDown(unsigned int nNotice) {
  kx::CClock& clock = m_watch.GetClock();
  DWORD dwDeadline = clock.GetTickCount() + static_cast<DWORD>(m_nDelay.load()) * 1000;
  DWORD dwLastAnnounced = 0xFFFFFFFF;
  // The first pass announces at once, then one pass a second.
  bool bFirst = true;
  while (m_nPending != 0) {
    if (!bFirst && !m_watch.Pause(1000, nNotice)) break;
    bFirst = false;
    if (m_nPending == 0 || !m_watch.IsCurrent(nNotice)) break;
    DWORD dwNow = clock.GetTickCount();
    if (static_cast<int32_t>(dwDeadline - dwNow) <= 0) {
      m_writer.Write(m_nReboot ? "\r\n[Notice] The system is restarting..."
                               : "\r\n[Notice] The system is halting...");
      break;
    }
    DWORD dwRemaining = (dwDeadline - dwNow + 250) / 1000;
    // A wake-up that drifts can land on the same second twice: each multiple
    // of five is announced once.
    if (dwRemaining % 5 == 0 && dwRemaining != dwLastAnnounced) {
      char szNotice[128];
      std::snprintf(szNotice, sizeof(szNotice),
                    m_nReboot ? "\r\n[Notice] The system is going DOWN for system reboot in %ld seconds!"
                              : "\r\n[Notice] The system is going DOWN for system halt in %ld seconds!",
                    static_cast<long>(dwRemaining));
      m_writer.Write(szNotice);
      dwLastAnnounced = dwRemaining;
    }
  }
}
