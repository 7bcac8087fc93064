#include "platform/windows_win.h"

#include <algorithm>

#include "platform/error_codes.h"
#include "platform/replace_file.h"

namespace kx {

DWORD ReplaceFileDurably(const char* lpPath, const std::string& strBytes) {
  std::string strTemporary = std::string(lpPath) + ".tmp";
  HANDLE hFile = ::CreateFileA(strTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return ::GetLastError();
  DWORD dwError = ERROR_SUCCESS;
  std::string::size_type nDone = 0;
  while (dwError == ERROR_SUCCESS && nDone < strBytes.size()) {
    DWORD dwChunk = static_cast<DWORD>(std::min<std::string::size_type>(strBytes.size() - nDone, 1u << 20));
    DWORD dwWritten = 0;
    if (!::WriteFile(hFile, strBytes.data() + nDone, dwChunk, &dwWritten, nullptr)) {
      dwError = ::GetLastError();
    } else if (dwWritten == 0) {
      dwError = ERROR_DISK_FULL;
    }
    nDone += dwWritten;
  }
  if (dwError == ERROR_SUCCESS && !::FlushFileBuffers(hFile)) dwError = ::GetLastError();
  ::CloseHandle(hFile);
  // The rename is on the disk when MoveFileEx returns, so a crash leaves the
  // old file or the new one.
  if (dwError == ERROR_SUCCESS &&
      !::MoveFileExA(strTemporary.c_str(), lpPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    dwError = ::GetLastError();
  }
  if (dwError != ERROR_SUCCESS) ::DeleteFileA(strTemporary.c_str());
  return dwError;
}

}  // namespace kx
