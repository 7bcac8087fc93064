// Internal to the Windows side of the platform layer: <windows.h> with what
// every *_win.cpp file needs next to it. Include it before any other header.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace kx {

// Code page 932 or ANSI text <-> UTF-16, for the calls that only exist in
// their wide form. The product's narrow texts are the system's ANSI code page.
std::wstring AnsiToWide(const std::string& strText);
std::string WideToAnsi(const std::wstring& strText);

// Closes a kernel handle unless it is null or INVALID_HANDLE_VALUE.
inline void CloseKernelHandle(HANDLE hHandle) {
  if (hHandle != nullptr && hHandle != INVALID_HANDLE_VALUE) ::CloseHandle(hHandle);
}

// A FILETIME as one 64-bit count of 100-nanosecond units.
inline unsigned long long FileTimeToUnits(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace kx
