#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/append_file.h"
#include "platform/error_codes.h"
#include "platform/plain_file_posix.h"
#include "platform/posix_error.h"
#include "platform/text_encoding.h"

namespace kx {

DWORD CAppendFile::Open(const char* lpPath) {
  Close();
  if (lpPath == nullptr || lpPath[0] == '\0') return ERROR_PATH_NOT_FOUND;
  std::string strPath = Cp932ToUtf8(lpPath);
  // No following a planted link, and nothing but a plain file with one name.
  DWORD dwError = ERROR_SUCCESS;
  int nFd = OpenPlainFile(strPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0640, true, &dwError);
  if (nFd < 0) return dwError;
  m_nFd = nFd;
  return ERROR_SUCCESS;
}

DWORD CAppendFile::WriteSome(const char* lpData, DWORD dwSize, DWORD* pdwWritten) {
  for (;;) {
    ssize_t nWritten = write(m_nFd, lpData, dwSize);
    if (nWritten >= 0) {
      *pdwWritten = static_cast<DWORD>(nWritten);
      return ERROR_SUCCESS;
    }
    if (errno != EINTR) return ErrnoToWinError(errno);
  }
}

DWORD CAppendFile::GetSize(long long* pllSize) {
  *pllSize = 0;
  if (m_nFd < 0) return ERROR_INVALID_HANDLE;
  struct stat info;
  if (fstat(m_nFd, &info) != 0) return ErrnoToWinError(errno);
  *pllSize = static_cast<long long>(info.st_size);
  return ERROR_SUCCESS;
}

void CAppendFile::Close() {
  if (m_nFd >= 0) close(m_nFd);
  m_nFd = -1;
}

}  // namespace kx
