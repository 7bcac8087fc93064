#include "platform/replace_file.h"

#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/error_codes.h"
#include "platform/native_path.h"
#include "platform/plain_file_posix.h"
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
    case EISDIR:  // a directory in the way of the rename
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

std::string DirectoryOf(const std::string& strPath) {
  std::vector<char> path(strPath.begin(), strPath.end());
  path.push_back('\0');
  return dirname(path.data());
}

// The rename of a file into the directory is durable only once the directory
// is on the disk.
void SyncDirectory(const std::string& strDirectory) {
  int dirFd = open(strDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
}

// Opens a plain file for reading; a pipe or device under the name is refused
// without waiting on it. -1 with *pdwError set on failure.
int OpenSourceFile(const std::string& strPath, DWORD* pdwError, off_t* pllSize) {
  int fd = OpenPlainFile(strPath.c_str(), O_RDONLY, 0, false, pdwError);
  struct stat info;
  if (fd >= 0 && fstat(fd, &info) != 0) {
    *pdwError = ErrnoToWinError(errno);
    close(fd);
    return -1;
  }
  if (fd >= 0) *pllSize = info.st_size;
  return fd;
}

// Reads up to cbSize bytes at llOffset; the count read, or -1.
ssize_t ReadAt(int fd, char* lpBuffer, size_t cbSize, off_t llOffset) {
  for (;;) {
    ssize_t n = pread(fd, lpBuffer, cbSize, llOffset);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// Copies the whole source into the empty file nTarget; the count copied.
DWORD CopyAll(int nSource, int nTarget, off_t* pllCopied) {
  std::vector<char> buffer(1 << 16);
  *pllCopied = 0;
  for (;;) {
    ssize_t n = ReadAt(nSource, buffer.data(), buffer.size(), *pllCopied);
    if (n < 0) return ErrnoToWinError(errno);
    if (n == 0) return ERROR_SUCCESS;
    if (!WriteAll(nTarget, buffer.data(), static_cast<size_t>(n))) return ErrorFromErrno(errno);
    *pllCopied += n;
  }
}

// Reads the source again by its name and compares it with the copy: the same
// size as copied, and the same bytes.
DWORD CheckCopy(const std::string& strSource, int nCopy, off_t llCopied) {
  DWORD dwError = ERROR_SUCCESS;
  off_t llSize = 0;
  int nSource = OpenSourceFile(strSource, &dwError, &llSize);
  if (nSource < 0) return dwError;
  struct stat copy;
  if (llSize != llCopied || fstat(nCopy, &copy) != 0 || copy.st_size != llCopied) {
    close(nSource);
    return ERROR_FILE_INVALID;
  }
  std::vector<char> source(1 << 16);
  std::vector<char> copied(1 << 16);
  for (off_t llOffset = 0; dwError == ERROR_SUCCESS;) {
    ssize_t nSourceRead = ReadAt(nSource, source.data(), source.size(), llOffset);
    ssize_t nCopyRead = nSourceRead > 0 ? ReadAt(nCopy, copied.data(), static_cast<size_t>(nSourceRead), llOffset) : 0;
    if (nSourceRead < 0 || nCopyRead < 0) {
      dwError = ErrnoToWinError(errno);
    } else if (nSourceRead == 0) {
      if (llOffset != llCopied) dwError = ERROR_FILE_INVALID;
      break;
    } else if (nCopyRead != nSourceRead ||
               std::memcmp(source.data(), copied.data(), static_cast<size_t>(nSourceRead)) != 0) {
      dwError = ERROR_FILE_INVALID;
    }
    llOffset += nSourceRead > 0 ? nSourceRead : 0;
  }
  close(nSource);
  return dwError;
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

  SyncDirectory(DirectoryOf(lpPath));
  return 0;
}

DWORD InstallFileCopy(const char* lpSourcePath, const char* lpDirectory, const char* lpName) {
  std::string strTarget = detail::JoinInstallPath(lpDirectory, lpName);
  if (strTarget.empty()) return ERROR_INVALID_NAME;
  if (lpSourcePath == nullptr || *lpSourcePath == '\0') return ERROR_FILE_NOT_FOUND;
  std::string strSource = ToNativePath(lpSourcePath);
  strTarget = ToNativePath(strTarget);
  std::string strDirectory = DirectoryOf(strTarget);

  DWORD dwError = ERROR_SUCCESS;
  off_t llSize = 0;
  int nSource = OpenSourceFile(strSource, &dwError, &llSize);
  if (nSource < 0) return dwError;
  std::string strTemporary = strDirectory + "/.install-XXXXXX";
  int nCopy = mkostemp(&strTemporary[0], O_CLOEXEC);
  if (nCopy < 0) {
    dwError = ErrorFromErrno(errno);
    close(nSource);
    return dwError;
  }
  off_t llCopied = 0;
  dwError = CopyAll(nSource, nCopy, &llCopied);
  close(nSource);
  // The mode is set, not derived from the source or the umask: root loads
  // what lies here, so nobody else may change it.
  if (dwError == ERROR_SUCCESS && fchmod(nCopy, 0644) != 0) dwError = ErrorFromErrno(errno);
  if (dwError == ERROR_SUCCESS && fsync(nCopy) != 0) dwError = ErrorFromErrno(errno);
  if (dwError == ERROR_SUCCESS) {
    if (InstallCheckHook pfnHook = detail::GetInstallCheckHook()) pfnHook(strTemporary.c_str());
    dwError = CheckCopy(strSource, nCopy, llCopied);
  }
  if (close(nCopy) != 0 && dwError == ERROR_SUCCESS) dwError = ErrorFromErrno(errno);
  if (dwError == ERROR_SUCCESS && rename(strTemporary.c_str(), strTarget.c_str()) != 0) {
    dwError = ErrorFromErrno(errno);
  }
  if (dwError != ERROR_SUCCESS) {
    unlink(strTemporary.c_str());
    return dwError;
  }
  SyncDirectory(strDirectory);
  return ERROR_SUCCESS;
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
