#include "platform/replace_file.h"

#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/error_codes.h"
#include "platform/posix_error.h"

namespace kx {
namespace {

const DWORD kErrorWriteFault = 29;
const DWORD kErrorPathNotFound = 3;
const DWORD kErrorAccessDenied = 5;
const DWORD kErrorDiskFull = 112;

DWORD ErrorFromErrno(int nErrno) {
  switch (nErrno) {
    case ENOENT:
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    default:
      return kErrorWriteFault;
  }
}

bool WriteAll(int fd, const char* lpData, size_t nSize) {
  while (nSize > 0) {
    ssize_t nWritten = write(fd, lpData, nSize);
    if (nWritten < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    lpData += nWritten;
    nSize -= static_cast<size_t>(nWritten);
  }
  return true;
}

}  // namespace

DWORD ReplaceFileDurably(const char* lpPath, const std::string& strBytes) {
  std::string strTemporary = std::string(lpPath) + ".tmp";
  mode_t mode = 0644;
  struct stat old;
  if (stat(lpPath, &old) == 0 && S_ISREG(old.st_mode)) mode = old.st_mode & 07777;

  // A stale temporary file is removed rather than reused: it may carry
  // permissions that would refuse this writer.
  unlink(strTemporary.c_str());
  int fd = open(strTemporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return ErrorFromErrno(errno);
  fchmod(fd, mode);  // the umask must not narrow what the old file allowed
  bool bWritten = WriteAll(fd, strBytes.data(), strBytes.size()) && fsync(fd) == 0;
  int nErrno = errno;
  if (close(fd) != 0 && bWritten) {
    bWritten = false;
    nErrno = errno;
  }
  if (!bWritten || rename(strTemporary.c_str(), lpPath) != 0) {
    if (bWritten) nErrno = errno;
    unlink(strTemporary.c_str());
    return ErrorFromErrno(nErrno);
  }

  // The rename itself is durable only once the directory is on the disk.
  std::vector<char> directory(lpPath, lpPath + std::string(lpPath).size() + 1);
  int dirFd = open(dirname(directory.data()), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return 0;
}

DWORD ReadWholeFile(const char* lpPath, std::size_t cbLimit, std::string* pstrBytes) {
  pstrBytes->clear();
  int fd = open(lpPath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ErrnoToWinError(errno);
  char buffer[65536];
  DWORD dwError = 0;
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      dwError = ErrnoToWinError(errno);
      break;
    }
    if (n == 0) break;
    pstrBytes->append(buffer, static_cast<std::size_t>(n));
    if (pstrBytes->size() > cbLimit) {
      dwError = ERROR_NOT_ENOUGH_MEMORY;
      break;
    }
  }
  close(fd);
  if (dwError != 0) pstrBytes->clear();
  return dwError;
}

}  // namespace kx
