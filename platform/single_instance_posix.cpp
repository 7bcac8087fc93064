#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error_codes.h"
#include "platform/plain_file_posix.h"
#include "platform/posix_error.h"
#include "platform/text_encoding.h"

namespace kx {

CSingleInstance::CSingleInstance() : m_hLock(-1) {}

CSingleInstance::~CSingleInstance() { Release(); }

std::string CSingleInstance::GetLockName(const char* lpConfigPath) {
  return std::string(lpConfigPath != nullptr ? lpConfigPath : "") + ".lock";
}

DWORD CSingleInstance::Acquire(const char* lpConfigPath) {
  Release();
  if (lpConfigPath == nullptr || *lpConfigPath == '\0') return ERROR_PATH_NOT_FOUND;
  std::string strPath = Cp932ToUtf8(GetLockName(lpConfigPath));
  // Opened for writing: whoever may hold the lock may also change the
  // configuration, so a reader of the folder cannot lock the editors out.
  DWORD dwError = ERROR_SUCCESS;
  int fd = OpenPlainFile(strPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0660, false, &dwError);
  if (fd < 0) return dwError;
  // flock belongs to this open file: a second open, even in this process, is
  // refused, and the lock goes when the last descriptor of it closes.
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    dwError = errno == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : ErrnoToWinError(errno);
    break;
  }
  if (dwError != ERROR_SUCCESS) {
    close(fd);
    return dwError;
  }
  m_hLock = fd;
  return ERROR_SUCCESS;
}

BOOL CSingleInstance::IsHeld() const { return m_hLock >= 0 ? TRUE : FALSE; }

void CSingleInstance::Release() {
  // The file is left in place: removing it would let a second process lock a
  // new file of the same name while a third still holds the old one.
  if (m_hLock >= 0) close(static_cast<int>(m_hLock));
  m_hLock = -1;
}

}  // namespace kx
