#include "emulation/key_value_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace kx {

CStoreLock::CStoreLock(const std::string& strDirectory) : m_fd(-1), m_nErrno(0) {
  m_fd = open((strDirectory + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (m_fd < 0) {
    m_nErrno = errno;
    return;
  }
  while (flock(m_fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      m_nErrno = errno;
      close(m_fd);
      m_fd = -1;
      return;
    }
  }
}

CStoreLock::~CStoreLock() {
  if (m_fd >= 0) close(m_fd);  // closing the last descriptor releases the lock
}

}  // namespace kx
