#include "platform/replace_file.h"

#include <atomic>
#include <cstring>

#include "platform/native_path.h"
#include "platform/text_encoding.h"

namespace kx {
namespace {

std::atomic<InstallCheckHook> g_pfnInstallCheckHook{nullptr};

// Whether the path's last character is a separator; a trail byte of code page
// 932 that happens to be '\\' is not one.
bool EndsInSeparator(const std::string& strPath) {
  bool bSeparator = false;
  for (size_t i = 0; i < strPath.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(strPath[i]);
    bSeparator = c == '/' || c == static_cast<unsigned char>(kPathSeparator);
    if (IsCp932LeadByte(c) && i + 1 < strPath.size()) ++i;
  }
  return bSeparator;
}

}  // namespace

BOOL IsPlainFileName(const char* lpName) {
  if (lpName == nullptr || *lpName == '\0') return FALSE;
  if (std::strcmp(lpName, ".") == 0 || std::strcmp(lpName, "..") == 0) return FALSE;
  // Byte-wise search is safe in code page 932: none of these bytes is ever the
  // trail byte of a double-byte character ('\\' is, so it is tested with the lead
  // bytes skipped).
  for (const char* p = lpName; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (IsCp932LeadByte(c)) {
      if (p[1] == '\0') return FALSE;  // a lead byte without its trail byte
      ++p;
      continue;
    }
    if (c == '/' || c == '\\' || c == ':') return FALSE;
  }
  return TRUE;
}

void SetInstallCheckHookForTest(InstallCheckHook pfnHook) { g_pfnInstallCheckHook = pfnHook; }

namespace detail {

InstallCheckHook GetInstallCheckHook() { return g_pfnInstallCheckHook.load(); }

std::string JoinInstallPath(const char* lpDirectory, const char* lpName) {
  if (!IsPlainFileName(lpName)) return std::string();
  std::string strPath = lpDirectory != nullptr ? lpDirectory : "";
  if (!strPath.empty() && !EndsInSeparator(strPath)) strPath += kPathSeparator;
  return strPath + lpName;
}

}  // namespace detail
}  // namespace kx
