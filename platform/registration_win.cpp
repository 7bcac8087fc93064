#include "platform/windows_win.h"

#include <vector>

#include "platform/error_codes.h"
#include "platform/registration.h"

namespace kx {
namespace {

// The records are keys of HKEY_CLASSES_ROOT; the product writes their paths with '/'.
std::string RegistryPath(const char* lpKey) {
  std::string strPath = lpKey != nullptr ? lpKey : "";
  for (char& c : strPath) {
    if (c == '/') c = '\\';
  }
  return strPath;
}

}  // namespace

DWORD GetRegistrationValue(const char* lpKey, const char* lpName, std::string* pstrValue) {
  HKEY hKey = nullptr;
  LONG lError = ::RegOpenKeyExA(HKEY_CLASSES_ROOT, RegistryPath(lpKey).c_str(), 0, KEY_QUERY_VALUE, &hKey);
  if (lError != ERROR_SUCCESS) return static_cast<DWORD>(lError);
  DWORD dwType = 0;
  DWORD dwSize = 0;
  lError = ::RegQueryValueExA(hKey, lpName, nullptr, &dwType, nullptr, &dwSize);
  std::vector<char> value(dwSize + 1, '\0');
  if (lError == ERROR_SUCCESS) {
    lError = ::RegQueryValueExA(hKey, lpName, nullptr, &dwType, reinterpret_cast<BYTE*>(value.data()), &dwSize);
  }
  ::RegCloseKey(hKey);
  if (lError != ERROR_SUCCESS) return static_cast<DWORD>(lError);
  if (dwType != REG_SZ && dwType != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  pstrValue->assign(value.data());
  return ERROR_SUCCESS;
}

BOOL IsRegistrationKey(const char* lpKey) {
  HKEY hKey = nullptr;
  if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, RegistryPath(lpKey).c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) {
    return FALSE;
  }
  ::RegCloseKey(hKey);
  return TRUE;
}

DWORD SetRegistrationValue(const char* lpKey, const char* lpName, const char* lpValue) {
  if (lpValue == nullptr) return ERROR_INVALID_PARAMETER;
  HKEY hKey = nullptr;
  LONG lError = ::RegCreateKeyExA(HKEY_CLASSES_ROOT, RegistryPath(lpKey).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &hKey, nullptr);
  if (lError != ERROR_SUCCESS) return static_cast<DWORD>(lError);
  lError = ::RegSetValueExA(hKey, lpName, 0, REG_SZ, reinterpret_cast<const BYTE*>(lpValue),
                            static_cast<DWORD>(std::string(lpValue).size() + 1));
  ::RegCloseKey(hKey);
  return static_cast<DWORD>(lError);
}

DWORD DeleteRegistrationValue(const char* lpKey, const char* lpName) {
  HKEY hKey = nullptr;
  LONG lError = ::RegOpenKeyExA(HKEY_CLASSES_ROOT, RegistryPath(lpKey).c_str(), 0, KEY_SET_VALUE, &hKey);
  if (lError == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (lError != ERROR_SUCCESS) return static_cast<DWORD>(lError);
  lError = ::RegDeleteValueA(hKey, lpName);
  ::RegCloseKey(hKey);
  return lError == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(lError);
}

DWORD DeleteRegistrationKey(const char* lpKey) {
  std::string strPath = RegistryPath(lpKey);
  // An empty path would name HKEY_CLASSES_ROOT itself.
  if (strPath.empty()) return ERROR_INVALID_PARAMETER;
  LONG lError = ::RegDeleteTreeA(HKEY_CLASSES_ROOT, strPath.c_str());
  if (lError == ERROR_SUCCESS) lError = ::RegDeleteKeyA(HKEY_CLASSES_ROOT, strPath.c_str());
  return lError == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(lError);
}

}  // namespace kx
