#include "platform/plain_file_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error_codes.h"
#include "platform/posix_error.h"

namespace kx {

int OpenPlainFile(const char* lpPath, int nFlags, unsigned int uMode, bool bSingleName, DWORD* pdwError) {
  // Non-blocking while it is checked: a pipe would otherwise wait for its peer.
  int fd = open(lpPath, nFlags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, static_cast<mode_t>(uMode));
  if (fd < 0) {
    if (errno == ELOOP && (nFlags & O_NOFOLLOW) != 0) {
      *pdwError = ERROR_STOPPED_ON_SYMLINK;
    } else if (errno == EISDIR || errno == ENXIO) {  // a directory, or a pipe without a reader
      *pdwError = ERROR_ACCESS_DENIED;
    } else if (errno == ENOENT && (nFlags & O_CREAT) != 0) {
      *pdwError = ERROR_PATH_NOT_FOUND;
    } else {
      *pdwError = ErrnoToWinError(errno);
    }
    return -1;
  }
  struct stat info;
  DWORD dwError = ERROR_SUCCESS;
  if (fstat(fd, &info) != 0) {
    dwError = ErrnoToWinError(errno);
  } else if (!S_ISREG(info.st_mode) || (bSingleName && info.st_nlink != 1)) {
    // A second hard link is another name for a file someone else chose.
    dwError = ERROR_ACCESS_DENIED;
  } else {
    int nStatus = fcntl(fd, F_GETFL);
    if (nStatus == -1 || fcntl(fd, F_SETFL, nStatus & ~O_NONBLOCK) != 0) dwError = ErrnoToWinError(errno);
  }
  if (dwError != ERROR_SUCCESS) {
    close(fd);
    *pdwError = dwError;
    return -1;
  }
  return fd;
}

}  // namespace kx
