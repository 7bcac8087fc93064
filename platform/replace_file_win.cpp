#include "platform/windows_win.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/error_codes.h"
#include "platform/replace_file.h"

namespace kx {
namespace {

DWORD WriteAll(HANDLE hFile, const char* lpData, size_t cbSize) {
  size_t nDone = 0;
  while (nDone < cbSize) {
    DWORD dwChunk = static_cast<DWORD>(std::min<size_t>(cbSize - nDone, 1u << 20));
    DWORD dwWritten = 0;
    if (!::WriteFile(hFile, lpData + nDone, dwChunk, &dwWritten, nullptr)) return ::GetLastError();
    if (dwWritten == 0) return ERROR_DISK_FULL;
    nDone += dwWritten;
  }
  return ERROR_SUCCESS;
}

// Reads until the buffer is full or the file ends; the count read.
DWORD ReadFull(HANDLE hFile, char* lpBuffer, DWORD cbSize, DWORD* pcbRead) {
  *pcbRead = 0;
  while (*pcbRead < cbSize) {
    DWORD dwRead = 0;
    if (!::ReadFile(hFile, lpBuffer + *pcbRead, cbSize - *pcbRead, &dwRead, nullptr)) return ::GetLastError();
    if (dwRead == 0) break;
    *pcbRead += dwRead;
  }
  return ERROR_SUCCESS;
}

// Opens a plain disk file for reading, letting others read, write and delete
// it meanwhile. INVALID_HANDLE_VALUE with *pdwError set on failure.
HANDLE OpenPlainFile(const char* lpPath, DWORD* pdwError, LONGLONG* pllSize) {
  HANDLE hFile = ::CreateFileA(lpPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) {
    *pdwError = ::GetLastError();
    return hFile;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(hFile) != FILE_TYPE_DISK || !::GetFileInformationByHandle(hFile, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::CloseHandle(hFile);
    *pdwError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  *pllSize = (static_cast<LONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return hFile;
}

DWORD CopyAll(HANDLE hSource, HANDLE hTarget, LONGLONG* pllCopied) {
  std::vector<char> buffer(1 << 16);
  *pllCopied = 0;
  for (;;) {
    DWORD dwRead = 0;
    DWORD dwError = ReadFull(hSource, buffer.data(), static_cast<DWORD>(buffer.size()), &dwRead);
    if (dwError != ERROR_SUCCESS) return dwError;
    if (dwRead == 0) return ERROR_SUCCESS;
    dwError = WriteAll(hTarget, buffer.data(), dwRead);
    if (dwError != ERROR_SUCCESS) return dwError;
    *pllCopied += dwRead;
  }
}

// Reads the source again by its name and the copy from its start: the same
// size as copied, and the same bytes.
DWORD CheckCopy(const char* lpSource, HANDLE hCopy, LONGLONG llCopied) {
  DWORD dwError = ERROR_SUCCESS;
  LONGLONG llSize = 0;
  HANDLE hSource = OpenPlainFile(lpSource, &dwError, &llSize);
  if (hSource == INVALID_HANDLE_VALUE) return dwError;
  LARGE_INTEGER copySize;
  LARGE_INTEGER start = {};
  if (llSize != llCopied || !::GetFileSizeEx(hCopy, &copySize) || copySize.QuadPart != llCopied) {
    dwError = ERROR_FILE_INVALID;
  } else if (!::SetFilePointerEx(hCopy, start, nullptr, FILE_BEGIN)) {
    dwError = ::GetLastError();
  }
  std::vector<char> source(1 << 16);
  std::vector<char> copied(1 << 16);
  LONGLONG llOffset = 0;
  while (dwError == ERROR_SUCCESS) {
    DWORD dwSourceRead = 0;
    DWORD dwCopyRead = 0;
    dwError = ReadFull(hSource, source.data(), static_cast<DWORD>(source.size()), &dwSourceRead);
    if (dwError == ERROR_SUCCESS) dwError = ReadFull(hCopy, copied.data(), dwSourceRead, &dwCopyRead);
    if (dwError != ERROR_SUCCESS) break;
    if (dwSourceRead == 0) {
      if (llOffset != llCopied) dwError = ERROR_FILE_INVALID;
      break;
    }
    if (dwCopyRead != dwSourceRead || std::memcmp(source.data(), copied.data(), dwSourceRead) != 0) {
      dwError = ERROR_FILE_INVALID;
    }
    llOffset += dwSourceRead;
  }
  ::CloseHandle(hSource);
  return dwError;
}

}  // namespace

DWORD ReplaceFileDurably(const char* lpPath, const std::string& strBytes) {
  std::string strTemporary = std::string(lpPath) + ".tmp";
  HANDLE hFile = ::CreateFileA(strTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return ::GetLastError();
  DWORD dwError = WriteAll(hFile, strBytes.data(), strBytes.size());
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

DWORD InstallFileCopy(const char* lpSourcePath, const char* lpDirectory, const char* lpName) {
  std::string strTarget = detail::JoinInstallPath(lpDirectory, lpName);
  if (strTarget.empty()) return ERROR_INVALID_NAME;
  if (lpSourcePath == nullptr || *lpSourcePath == '\0') return ERROR_FILE_NOT_FOUND;
  std::string strDirectory(lpDirectory != nullptr && *lpDirectory != '\0' ? lpDirectory : ".");

  DWORD dwError = ERROR_SUCCESS;
  LONGLONG llSize = 0;
  HANDLE hSource = OpenPlainFile(lpSourcePath, &dwError, &llSize);
  if (hSource == INVALID_HANDLE_VALUE) return dwError;
  // A fresh name of the folder's own, created empty; the copy gets the folder's
  // inherited access and no attribute of the source (read-only, hidden, system).
  char szTemporary[MAX_PATH];
  if (::GetTempFileNameA(strDirectory.c_str(), "kxi", 0, szTemporary) == 0) {
    dwError = ::GetLastError();
    ::CloseHandle(hSource);
    return dwError;
  }
  HANDLE hCopy = ::CreateFileA(szTemporary, GENERIC_READ | GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hCopy == INVALID_HANDLE_VALUE) {
    dwError = ::GetLastError();
    ::CloseHandle(hSource);
    ::DeleteFileA(szTemporary);
    return dwError;
  }
  LONGLONG llCopied = 0;
  dwError = CopyAll(hSource, hCopy, &llCopied);
  ::CloseHandle(hSource);
  if (dwError == ERROR_SUCCESS && !::FlushFileBuffers(hCopy)) dwError = ::GetLastError();
  if (dwError == ERROR_SUCCESS) {
    if (InstallCheckHook pfnHook = detail::GetInstallCheckHook()) pfnHook(szTemporary);
    dwError = CheckCopy(lpSourcePath, hCopy, llCopied);
  }
  ::CloseHandle(hCopy);
  if (dwError == ERROR_SUCCESS && !::SetFileAttributesA(szTemporary, FILE_ATTRIBUTE_NORMAL)) {
    dwError = ::GetLastError();
  }
  if (dwError == ERROR_SUCCESS &&
      !::MoveFileExA(szTemporary, strTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    dwError = ::GetLastError();
  }
  if (dwError != ERROR_SUCCESS) ::DeleteFileA(szTemporary);
  return dwError;
}

}  // namespace kx
