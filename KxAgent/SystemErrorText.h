// The one-line terminal text of a Windows error code.
#pragma once

#include <string>

#include "platform/kx_types.h"

// "[Error] (0x%08x) <system message up to its first CR>", or
// "[Error] (0x%08x) Unknown error." when the system has no message for the code.
std::string GetSystemErrorText(DWORD dwCode);
