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
// The same for a char of a narrow text.
inline bool IsCp932LeadByte(char c) { return IsCp932LeadByte(static_cast<unsigned char>(c)); }

// Whether the byte can end a double-byte character of code page 932. No
// control character is one.
bool IsCp932TrailByte(unsigned char c);

// A text from the system (an event text, a service, process, volume or
// machine name) made safe to show on a terminal line: each control character
// (0x00-0x1F), DEL, 0x80 and each lead byte without a valid trail byte becomes
// '?', so that no such text can move the cursor, clear the screen, retitle the
// window or break the line (0x80-0x9F are the 8-bit C1 controls, 0x9B the
// CSI, on terminals that honour them). Double-byte characters pass unchanged.
std::string MaskControlCharacters(const std::string& strText);
// The same, in place, for a NUL-terminated text.
void MaskControlCharacters(char* lpText);

// The first nMax bytes of a code page 932 text, one byte less when the cut
// would split a double-byte character (half a character garbles the terminal).
std::string CutCp932(const std::string& strText, std::size_t nMax);

// Converts the NUL-terminated Shift-JIS `lpSource` to EUC-JP in `lpDest`
// (`nSize` bytes, NUL-terminated, cut at nSize - 1). Bytes that are neither
// ASCII, half-width katakana nor a Shift-JIS lead byte are dropped, and so is
// a lead byte at the very end. Returns the bytes written before the NUL.
int SjisToEuc(const char* lpSource, char* lpDest, int nSize);

}  // namespace kx
