// Registration records: the small named values a program registers about
// itself (its AppID and whether it runs as a service). On this platform they
// live in <system root>/registration, one file per key holding name=value lines,
// replaced atomically.
#pragma once

#include <string>

#include "platform/kx_types.h"

namespace kx {

// Reads value lpName of key lpKey (a path such as "AppID/{GUID}"; "" names the
// key's default value). ERROR_SUCCESS, or ERROR_FILE_NOT_FOUND (2) when the key
// or the value does not exist.
DWORD GetRegistrationValue(const char* lpKey, const char* lpName, std::string* pstrValue);
// Whether the key exists at all.
BOOL IsRegistrationKey(const char* lpKey);
// Creates the key when missing and sets the value. ERROR_SUCCESS or the error
// of the failed write; names and values may not hold line breaks (ERROR_INVALID_PARAMETER).
DWORD SetRegistrationValue(const char* lpKey, const char* lpName, const char* lpValue);
// Removes one value; a missing key or value is not an error.
DWORD DeleteRegistrationValue(const char* lpKey, const char* lpName);
// Removes the key with all its values; a missing key is not an error.
DWORD DeleteRegistrationKey(const char* lpKey);

}  // namespace kx
