// Registration records on POSIX: the checks every backend shares, then the
// backend (backends_posix.h).
#include <cstring>

#include "platform/backends_posix.h"
#include "platform/error_codes.h"
#include "platform/registration.h"

namespace kx {

namespace {

bool HasLineBreak(const char* lpText) { return std::strpbrk(lpText, "\r\n") != nullptr; }

}  // namespace

DWORD GetRegistrationValue(const char* lpKey, const char* lpName, std::string* pstrValue) {
  if (lpKey == nullptr || lpName == nullptr || pstrValue == nullptr) return ERROR_INVALID_PARAMETER;
  return GetRegistrationBackend().GetValue(lpKey, lpName, pstrValue);
}

BOOL IsRegistrationKey(const char* lpKey) {
  if (lpKey == nullptr) return FALSE;
  return GetRegistrationBackend().IsKey(lpKey);
}

DWORD SetRegistrationValue(const char* lpKey, const char* lpName, const char* lpValue) {
  if (lpKey == nullptr || lpName == nullptr || lpValue == nullptr) return ERROR_INVALID_PARAMETER;
  if (HasLineBreak(lpName) || HasLineBreak(lpValue) || std::strchr(lpName, '=') != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  return GetRegistrationBackend().SetValue(lpKey, lpName, lpValue);
}

DWORD DeleteRegistrationValue(const char* lpKey, const char* lpName) {
  if (lpKey == nullptr || lpName == nullptr) return ERROR_INVALID_PARAMETER;
  return GetRegistrationBackend().DeleteValue(lpKey, lpName);
}

DWORD DeleteRegistrationKey(const char* lpKey) {
  if (lpKey == nullptr) return ERROR_INVALID_PARAMETER;
  return GetRegistrationBackend().DeleteKey(lpKey);
}

}  // namespace kx
