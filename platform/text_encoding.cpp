#include "platform/text_encoding.h"

namespace kx {

bool IsCp932LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

bool IsCp932TrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

namespace {

bool IsControlCharacter(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

std::string MaskControlCharacters(const std::string& strText) {
  std::string strOut(strText);
  for (std::size_t i = 0; i < strOut.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(strOut[i]);
    if (IsCp932LeadByte(c) && i + 1 < strOut.size() && IsCp932TrailByte(static_cast<unsigned char>(strOut[i + 1]))) {
      ++i;
    } else if (IsControlCharacter(c)) {
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
    } else if (IsControlCharacter(*p)) {
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

}  // namespace kx
