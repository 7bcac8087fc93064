// Change notification: one inotify watch on the event-log directory wakes a
// waiter when a log's index changes (a record appended, or a new generation
// renamed into place by a clear).
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "emulation/event_log_store.h"
#include "emulation/system_root.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"

namespace kx {
namespace emulation {

namespace {

class CInotifyWaiter : public CEventLogChangeWaiter::Impl {
 public:
  CInotifyWaiter() { m_nWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
  DWORD AddLog(const char* lpLog) override;
  DWORD Wait(DWORD dwMilliseconds, DWORD* pdwChangedMask) override;
  void Wake() override;
  ~CInotifyWaiter() override {
    CloseFd(&m_nInotifyFd);
    CloseFd(&m_nWakeFd);
  }

 private:
  int m_nInotifyFd = -1;
  int m_nWakeFd = -1;
  std::vector<std::string> m_vecIndexNames;  // "<Log>.idx", bit i for entry i
  DWORD m_dwPendingMask = 0;

  // Collects the changes the kernel has queued into m_dwPendingMask.
  void Drain() {
    alignas(struct inotify_event) char buffer[8192];
    for (;;) {
      ssize_t n = read(m_nInotifyFd, buffer, sizeof(buffer));
      if (n <= 0) return;
      for (ssize_t nPos = 0; nPos < n;) {
        const struct inotify_event* pEvent = reinterpret_cast<const struct inotify_event*>(buffer + nPos);
        if (pEvent->len > 0) {
          for (size_t i = 0; i < m_vecIndexNames.size(); ++i) {
            if (m_vecIndexNames[i] == pEvent->name) m_dwPendingMask |= 1u << i;
          }
        }
        nPos += static_cast<ssize_t>(sizeof(struct inotify_event) + pEvent->len);
      }
    }
  }
};

DWORD CInotifyWaiter::AddLog(const char* lpLog) {
  if (m_vecIndexNames.size() >= 32) return ERROR_INVALID_PARAMETER;
  m_vecIndexNames.push_back(std::string(lpLog) + ".idx");
  if (m_nInotifyFd >= 0) return ERROR_SUCCESS;
  // One watch on the directory serves every log, and it sees an index renamed
  // into place (a clear) as well as records appended to it.
  std::string strDir = EventLogDir();
  DWORD dwError = EnsureDirectory(strDir);
  if (dwError != ERROR_SUCCESS) return dwError;
  int nFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (nFd < 0) return LastError();
  if (inotify_add_watch(nFd, strDir.c_str(), IN_MODIFY | IN_MOVED_TO | IN_CREATE) < 0) {
    dwError = LastError();
    close(nFd);
    return dwError;
  }
  m_nInotifyFd = nFd;
  return ERROR_SUCCESS;
}

DWORD CInotifyWaiter::Wait(DWORD dwMilliseconds, DWORD* pdwChangedMask) {
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    if (m_dwPendingMask != 0) {
      if (pdwChangedMask != nullptr) *pdwChangedMask = m_dwPendingMask;
      m_dwPendingMask = 0;
      return WAIT_OBJECT_0;
    }
    int nTimeout = -1;
    if (dwMilliseconds != INFINITE) {
      struct timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      long long llElapsed = (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
      // A time-out of 0 still looks once at what is queued.
      nTimeout = llElapsed >= dwMilliseconds ? 0 : static_cast<int>(dwMilliseconds - llElapsed);
    }
    struct pollfd fds[2] = {{m_nWakeFd, POLLIN, 0}, {m_nInotifyFd, POLLIN, 0}};
    int nReady = poll(fds, m_nInotifyFd >= 0 ? 2 : 1, nTimeout);
    if (nReady < 0 && errno == EINTR) continue;
    if (nReady <= 0) return WAIT_TIMEOUT;
    if (fds[0].revents & POLLIN) {
      std::uint64_t qwCount = 0;
      if (read(m_nWakeFd, &qwCount, sizeof(qwCount)) < 0) {
        // Another reader took it: the wake-up is delivered either way.
      }
      return WAIT_IO_COMPLETION;
    }
    if (fds[1].revents & POLLIN) Drain();
  }
}

void CInotifyWaiter::Wake() {
  std::uint64_t qwOne = 1;
  if (write(m_nWakeFd, &qwOne, sizeof(qwOne)) < 0) {
    // The counter only overflows after 2^64 - 1 wake-ups.
  }
}

}  // namespace

CEventLogChangeWaiter::Impl* CEventLogEmulation::CreateChangeWaiter() { return new CInotifyWaiter(); }

}  // namespace emulation
}  // namespace kx
