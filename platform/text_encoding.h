// Conversions between the product's narrow strings (code page 932) and the
// encodings the operating system and libraries speak.
#pragma once

#include <string>

namespace kx {

// UTF-8 -> code page 932. Characters without a mapping become '?'.
std::string Utf8ToCp932(const std::string& utf8);
// Code page 932 -> UTF-8. Invalid byte sequences become U+FFFD.
std::string Cp932ToUtf8(const std::string& cp932);

}  // namespace kx
