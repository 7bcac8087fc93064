// The parts of append-only files that do not depend on the operating system.
#include "platform/append_file.h"

#include "platform/error_codes.h"

namespace kx {

CAppendFile::CAppendFile() : m_nFd(-1) {}

CAppendFile::~CAppendFile() { Close(); }

BOOL CAppendFile::IsOpen() const { return m_nFd >= 0 ? TRUE : FALSE; }

DWORD CAppendFile::Write(const char* lpData, DWORD dwSize) {
  if (m_nFd < 0) return ERROR_INVALID_HANDLE;
  DWORD dwDone = 0;
  while (dwDone < dwSize) {
    DWORD dwWritten = 0;
    DWORD dwError = WriteSome(lpData + dwDone, dwSize - dwDone, &dwWritten);
    if (dwError != ERROR_SUCCESS) return dwError;
    if (dwWritten == 0) return ERROR_DISK_FULL;
    dwDone += dwWritten;
  }
  return ERROR_SUCCESS;
}

}  // namespace kx
