#include "platform/windows_win.h"

#include <fcntl.h>
#include <io.h>

#include "platform/append_file.h"
#include "platform/error_codes.h"

namespace kx {
namespace {

// The object keeps the C runtime's descriptor of the file; the writes go to
// its handle, opened for appending only, so every write lands whole at the end.
HANDLE HandleOf(int nFd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(nFd)); }

}  // namespace

DWORD CAppendFile::Open(const char* lpPath) {
  Close();
  if (lpPath == nullptr || lpPath[0] == '\0') return ERROR_PATH_NOT_FOUND;
  // The reparse point itself is opened rather than what it points to, so that a
  // planted link is seen below and refused before anything is written.
  HANDLE hFile = ::CreateFileA(lpPath, FILE_APPEND_DATA | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return ::GetLastError();
  DWORD dwError = ERROR_SUCCESS;
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(hFile) != FILE_TYPE_DISK) {
    dwError = ERROR_ACCESS_DENIED;  // a device or a pipe under a file's name
  } else if (!::GetFileInformationByHandle(hFile, &info)) {
    dwError = ::GetLastError();
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    dwError = ERROR_STOPPED_ON_SYMLINK;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || info.nNumberOfLinks != 1) {
    dwError = ERROR_ACCESS_DENIED;
  }
  if (dwError != ERROR_SUCCESS) {
    ::CloseHandle(hFile);
    return dwError;
  }
  int nFd = ::_open_osfhandle(reinterpret_cast<intptr_t>(hFile), _O_APPEND | _O_BINARY);
  if (nFd < 0) {
    ::CloseHandle(hFile);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  m_nFd = nFd;
  return ERROR_SUCCESS;
}

DWORD CAppendFile::WriteSome(const char* lpData, DWORD dwSize, DWORD* pdwWritten) {
  return ::WriteFile(HandleOf(m_nFd), lpData, dwSize, pdwWritten, nullptr) ? ERROR_SUCCESS : ::GetLastError();
}

DWORD CAppendFile::GetSize(long long* pllSize) {
  *pllSize = 0;
  if (m_nFd < 0) return ERROR_INVALID_HANDLE;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(HandleOf(m_nFd), &size)) return ::GetLastError();
  *pllSize = size.QuadPart;
  return ERROR_SUCCESS;
}

void CAppendFile::Close() {
  if (m_nFd >= 0) ::_close(m_nFd);
  m_nFd = -1;
}

}  // namespace kx
