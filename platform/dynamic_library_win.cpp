#include "platform/windows_win.h"

#include <cstdio>

#include "platform/dynamic_library.h"

namespace kx {
namespace {

std::string DescribeLoadError(DWORD dwError) {
  char* lpMessage = nullptr;
  DWORD dwLength = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, dwError,
      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&lpMessage), 0, nullptr);
  std::string strText = dwLength != 0 ? std::string(lpMessage, dwLength) : std::string();
  if (lpMessage != nullptr) ::LocalFree(lpMessage);
  while (!strText.empty() && (strText.back() == '\r' || strText.back() == '\n')) strText.pop_back();
  char szCode[32];
  std::snprintf(szCode, sizeof(szCode), "error %lu", dwError);
  return strText.empty() ? std::string(szCode) : strText + " (" + szCode + ")";
}

}  // namespace

HKXMODULE LoadDynamicLibrary(const char* lpPath, std::string* pstrError) {
  if (pstrError != nullptr) pstrError->clear();
  if (lpPath == nullptr || *lpPath == '\0') {
    if (pstrError != nullptr) *pstrError = "no library path";
    return nullptr;
  }
  // A missing dependency fails the load here instead of showing a message box.
  UINT uOldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE hModule = ::LoadLibraryA(lpPath);
  DWORD dwError = ::GetLastError();
  ::SetErrorMode(uOldMode);
  if (hModule == nullptr && pstrError != nullptr) *pstrError = DescribeLoadError(dwError);
  return reinterpret_cast<HKXMODULE>(hModule);
}

void* FindLibraryFunction(HKXMODULE hModule, const char* lpName) {
  if (hModule == nullptr || lpName == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(hModule), lpName));
}

void FreeDynamicLibrary(HKXMODULE hModule) {
  if (hModule != nullptr) ::FreeLibrary(reinterpret_cast<HMODULE>(hModule));
}

}  // namespace kx
