#include "SessionTimeout.h"

namespace {

// The watcher asks the session this often.
const DWORD kCheckIntervalMs = 1000;

}  // namespace

CSessionTimeout::CSessionTimeout(kx::CClock& clock, std::function<int(unsigned int)> fnCheck,
                                 std::function<void()> fnEnded)
    : m_fnCheck(std::move(fnCheck)),
      m_fnEnded(std::move(fnEnded)),
      m_dwTimeout(0),
      m_dwLastActivity(clock.GetTickCount()),
      m_watch(clock) {}

void CSessionTimeout::Start() {
  m_watch.Restart([this](unsigned int nSession) { Watch(nSession); });
}

void CSessionTimeout::UpdateActivity() { m_dwLastActivity = m_watch.GetClock().GetTickCount(); }

bool CSessionTimeout::IsExpired() {
  DWORD dwTimeout = m_dwTimeout;
  // The last activity is read before the clock: a byte that arrives in
  // between then cannot make the unsigned difference wrap to a huge idle time.
  DWORD dwLastActivity = m_dwLastActivity;
  return dwTimeout != 0 && m_watch.GetClock().GetTickCount() - dwLastActivity > dwTimeout;
}

void CSessionTimeout::Watch(unsigned int nSession) {
  for (;;) {
    int nCheck = m_fnCheck(nSession);
    if (nCheck == CHECK_GONE) return;
    if (nCheck == CHECK_ENDED) break;
    if (!m_watch.Pause(kCheckIntervalMs, nSession)) return;
  }
  m_fnEnded();
}
