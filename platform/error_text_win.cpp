#include "platform/windows_win.h"

#include "platform/error_text.h"

namespace kx {

// US English, as the terminal's texts are; a system without that language's
// messages fails the call (ERROR_RESOURCE_LANG_NOT_FOUND) and the table answers.
std::string QuerySystemMessage(DWORD dwCode) {
  char* lpMessage = nullptr;
  DWORD dwLength = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwCode,
      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&lpMessage), 0, nullptr);
  std::string strText = dwLength != 0 && lpMessage != nullptr ? std::string(lpMessage, dwLength) : std::string();
  if (lpMessage != nullptr) ::LocalFree(lpMessage);
  return strText;
}

}  // namespace kx
