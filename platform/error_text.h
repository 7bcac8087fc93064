// System error text: the English one-line message Windows gives for an error code.
#pragma once

#include <string>

#include "platform/kx_types.h"

namespace kx {

// The message of `dwCode` as FormatMessage gives it in US English, without the
// trailing CR LF; empty when the code has no message here. Any thread.
std::string FormatSystemMessage(DWORD dwCode);

}  // namespace kx
