#include "platform/windows_win.h"

#include <cstdio>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/error_text.h"
#include "platform/thread_error_mode_win.h"

namespace kx {
namespace {

std::string DescribeLoadError(DWORD dwError) {
  std::string strText = FormatSystemMessage(dwError);
  char szCode[32];
  std::snprintf(szCode, sizeof(szCode), "error %lu", dwError);
  return strText.empty() ? std::string(szCode) : strText + " (" + szCode + ")";
}

// LOAD_WITH_ALTERED_SEARCH_PATH wants a full path with backslashes; a relative
// one would leave the search order undefined.
std::string FullPath(const char* lpPath) {
  std::string strPath = lpPath;
  for (char& c : strPath) {
    if (c == '/') c = '\\';
  }
  char szFull[MAX_PATH * 2] = {};
  DWORD dwLength = ::GetFullPathNameA(strPath.c_str(), sizeof(szFull), szFull, nullptr);
  return dwLength > 0 && dwLength < sizeof(szFull) ? std::string(szFull, dwLength) : strPath;
}

}  // namespace

HKXMODULE LoadDynamicLibrary(const char* lpPath, std::string* pstrError) {
  if (!IsLibraryPathGiven(lpPath, pstrError)) return nullptr;
  std::string strPath = FullPath(lpPath);
  HMODULE hModule = nullptr;
  DWORD dwError = ERROR_SUCCESS;
  {
    // A missing dependency fails the load here instead of showing a message box.
    CThreadErrorModeScope errorMode;
    // The library's own folder is searched first for the modules it imports,
    // not the current directory (System32 for a service) or PATH.
    hModule = ::LoadLibraryExA(strPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    dwError = ::GetLastError();
  }
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
