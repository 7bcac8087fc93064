// The parts of loading a library that do not depend on the operating system.
#include "platform/dynamic_library.h"

namespace kx {

BOOL IsLibraryPathGiven(const char* lpPath, std::string* pstrError) {
  if (pstrError != nullptr) pstrError->clear();
  if (lpPath != nullptr && *lpPath != '\0') return TRUE;
  if (pstrError != nullptr) *pstrError = "no library path";
  return FALSE;
}

}  // namespace kx
