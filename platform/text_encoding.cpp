#include "platform/text_encoding.h"

namespace kx {

bool IsCp932LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

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
