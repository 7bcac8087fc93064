#include "KxAgentPluginManager/PluginFile.h"

#include <cstring>

#include "platform/text_encoding.h"

bool IsPluginFileName(const char* lpFileName) {
  if (lpFileName == nullptr || *lpFileName == '\0') return false;
  if (std::strcmp(lpFileName, ".") == 0 || std::strcmp(lpFileName, "..") == 0) return false;
  // Byte-wise search is safe in code page 932: none of these bytes is ever the
  // trail byte of a double-byte character ('\\' is, so it is tested with the lead
  // bytes skipped).
  for (const char* p = lpFileName; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (kx::IsCp932LeadByte(c)) {
      if (p[1] == '\0') return false;  // a lead byte without its trail byte
      ++p;
      continue;
    }
    if (c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

std::string MakePluginFilePath(const char* lpPluginDir, const char* lpFileName) {
  if (!IsPluginFileName(lpFileName)) return std::string();
  return std::string(lpPluginDir != nullptr ? lpPluginDir : "") + lpFileName;
}
