// Conversions between the product's narrow strings (code page 932) and the
// encodings the operating system and libraries speak.
#pragma once

#include <cstddef>
#include <string>

namespace kx {

// UTF-8 -> code page 932. Characters without a mapping become '?'.
std::string Utf8ToCp932(const std::string& utf8);
// Code page 932 -> UTF-8. Invalid byte sequences become U+FFFD.
std::string Cp932ToUtf8(const std::string& cp932);

// Whether the byte starts a double-byte character of code page 932.
bool IsCp932LeadByte(unsigned char c);

// The first nMax bytes of a code page 932 text, one byte less when the cut
// would split a double-byte character (half a character garbles the terminal).
std::string CutCp932(const std::string& strText, std::size_t nMax);

}  // namespace kx
