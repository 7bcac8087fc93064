#include "platform/text_compare.h"

#include "platform/text_encoding.h"

namespace kx {
namespace {

// Not tolower: its answer depends on the process locale.
int FoldAscii(char c) {
  unsigned char uc = static_cast<unsigned char>(c);
  return uc >= 'A' && uc <= 'Z' ? uc + ('a' - 'A') : uc;
}

}  // namespace

int CompareNoCase(const char* lpLeft, const char* lpRight, std::size_t nCount) {
  for (std::size_t i = 0; i < nCount; ++i) {
    int nLeft = FoldAscii(lpLeft[i]);
    int nRight = FoldAscii(lpRight[i]);
    if (nLeft != nRight) return nLeft - nRight;
    if (nLeft == 0) return 0;
  }
  return 0;
}

int CompareNoCase(const char* lpLeft, const char* lpRight) {
  return CompareNoCase(lpLeft, lpRight, static_cast<std::size_t>(-1));
}

std::string LowerCaseSingleByte(const std::string& strText) {
  std::string strLower = strText;
  for (std::size_t i = 0; i < strLower.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(strLower[i]);
    if (IsCp932LeadByte(c) && i + 1 < strLower.size() && IsCp932TrailByte(static_cast<unsigned char>(strLower[i + 1]))) {
      ++i;
    } else {
      strLower[i] = static_cast<char>(FoldAscii(strLower[i]));
    }
  }
  return strLower;
}

}  // namespace kx
