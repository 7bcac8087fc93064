// Comparing texts without regard to case, as switches, names and keywords are
// compared: the ASCII letters A-Z and a-z match each other, every other byte
// only itself, on every system alike.
#pragma once

#include <cstddef>
#include <string>

namespace kx {

// < 0, 0 or > 0 as `lpLeft` sorts before, equal to or after `lpRight`.
int CompareNoCase(const char* lpLeft, const char* lpRight);
// The same for at most the first `nCount` bytes of each.
int CompareNoCase(const char* lpLeft, const char* lpRight, std::size_t nCount);

// `strText` (code page 932) with the ASCII letters A-Z lowered; a double-byte
// character passes whole, so a trail byte in the letter range stays as it is.
std::string LowerCaseSingleByte(const std::string& strText);

}  // namespace kx
