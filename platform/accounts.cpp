#include "platform/accounts.h"

#include "platform/text_encoding.h"

namespace kx {

void SplitLogonName(const char* lpUserName, const char* lpDomain, std::string* pstrUser,
                    std::string* pstrDomain, BOOL* pbNoDomain) {
  std::string strUser = lpUserName != nullptr ? lpUserName : "";
  std::string strDomain = lpDomain != nullptr ? lpDomain : "";
  *pbNoDomain = FALSE;
  if (strDomain.empty() || strDomain == ".") {
    strDomain = ".";
    size_t nBackslash = std::string::npos;
    bool bAt = false;
    for (size_t i = 0; i < strUser.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(strUser[i]);
      if (IsCp932LeadByte(c) && i + 1 < strUser.size()) {
        ++i;
      } else if (c == '\\' && nBackslash == std::string::npos) {
        nBackslash = i;
      } else if (c == '@') {
        bAt = true;
      }
    }
    if (nBackslash != std::string::npos && nBackslash > 0 && nBackslash + 1 < strUser.size()) {
      strDomain = strUser.substr(0, nBackslash);
      strUser = strUser.substr(nBackslash + 1);
    } else if (nBackslash == std::string::npos && bAt) {
      *pbNoDomain = TRUE;
    }
  }
  *pstrUser = strUser;
  *pstrDomain = strDomain;
}

}  // namespace kx
