#include "SystemErrorText.h"

#include <cstdio>

#include "Resources.h"
#include "platform/error_text.h"

std::string GetSystemErrorText(DWORD dwCode) {
  char szText[1024];
  std::string strMessage = kx::FormatSystemMessage(dwCode);
  if (!strMessage.empty()) {
    std::string::size_type nCR = strMessage.find('\r');
    if (nCR != std::string::npos) strMessage.resize(nCR);
    std::snprintf(szText, sizeof(szText), LoadResourceString(IDS_ERROR_TEXT), dwCode,
                  strMessage.c_str());
  } else {
    std::snprintf(szText, sizeof(szText), LoadResourceString(IDS_ERROR_UNKNOWN), dwCode);
  }
  return szText;
}
