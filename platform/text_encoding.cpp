#include "platform/text_encoding.h"

namespace kx {

bool IsCp932LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

bool IsCp932TrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

namespace {

bool IsControlCharacter(unsigned char c) { return c < 0x20 || c == 0x7F || c == 0x80; }

// Whether the byte cannot be shown as it is: a control character, or a lead
// byte whose next byte does not complete it (a terminal would take it as a C1
// control or swallow the byte after it).
bool IsUnshowable(unsigned char c) { return IsControlCharacter(c) || IsCp932LeadByte(c); }

}  // namespace

std::string MaskControlCharacters(const std::string& strText) {
  std::string strOut(strText);
  for (std::size_t i = 0; i < strOut.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(strOut[i]);
    if (IsCp932LeadByte(c) && i + 1 < strOut.size() && IsCp932TrailByte(static_cast<unsigned char>(strOut[i + 1]))) {
      ++i;
    } else if (IsUnshowable(c)) {
      strOut[i] = '?';
    }
  }
  return strOut;
}

void MaskControlCharacters(char* lpText) {
  if (lpText == nullptr) return;
  for (unsigned char* p = reinterpret_cast<unsigned char*>(lpText); *p != '\0'; ++p) {
    if (IsCp932LeadByte(p[0]) && IsCp932TrailByte(p[1])) {
      ++p;
    } else if (IsUnshowable(*p)) {
      *p = '?';
    }
  }
}

std::string CutCp932(const std::string& strText, std::size_t nMax) {
  std::size_t nPos = 0;
  while (nPos < strText.size()) {
    std::size_t nChar = IsCp932LeadByte(static_cast<unsigned char>(strText[nPos])) ? 2 : 1;
    if (nPos + nChar > nMax) break;
    nPos += nChar;
  }
  return strText.substr(0, nPos);
}

int SjisToEuc(const char* lpSource, char* lpDest, int nSize) {
  if (lpDest == nullptr || nSize <= 0) return 0;
  int nOut = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(lpSource != nullptr ? lpSource : "");
  while (*p != 0 && nOut < nSize - 1) {
    unsigned char b = *p++;
    if (b <= 0x7F) {
      lpDest[nOut++] = static_cast<char>(b);
    } else if (b >= 0xA1 && b <= 0xDF) {
      lpDest[nOut++] = static_cast<char>(0x8E);
      if (nOut < nSize) lpDest[nOut++] = static_cast<char>(b);
    } else if (IsCp932LeadByte(b)) {
      // A lead byte at the very end has no trail byte; reading on would run
      // past the text's terminator.
      if (*p == 0) break;
      unsigned char t = *p++;
      unsigned char h = static_cast<unsigned char>(b * 2);
      if (t < 0x9F) {
        h = static_cast<unsigned char>(h + (h < 0x3F ? 0x9F : 0x1F));
        t = static_cast<unsigned char>(t + (t <= 0x7E ? 0x61 : 0x60));
      } else {
        h = static_cast<unsigned char>(h + (h < 0x3F ? 0xA0 : 0x20));
        t = static_cast<unsigned char>(t + 2);
      }
      lpDest[nOut++] = static_cast<char>(h);
      if (nOut < nSize) lpDest[nOut++] = static_cast<char>(t);
    }
    // 0x80, 0xA0 and 0xFD to 0xFF are not Shift-JIS and are dropped.
  }
  if (nOut > nSize - 1) nOut = nSize - 1;
  lpDest[nOut] = '\0';
  return nOut;
}

}  // namespace kx
