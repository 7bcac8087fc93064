// System error text: the one-line message Windows gives for an error code.
#pragma once

#include <string>

#include "platform/kx_types.h"

namespace kx {

// The message of `dwCode`: the system's own text when it has one (Windows,
// in US English), else the English text of the product's own table; without
// the trailing line end. Empty when neither knows the code. Any thread.
std::string FormatSystemMessage(DWORD dwCode);

// The system's own message text for `dwCode` in US English as the system
// returns it, line end included; empty when it has none (always on systems
// other than Windows). Any thread.
std::string QuerySystemMessage(DWORD dwCode);
// The message to show for `dwCode`, given what QuerySystemMessage returned:
// that text without its trailing line breaks and blanks, or, when nothing is
// left, the table's text; empty when neither has one.
std::string ChooseSystemMessage(const std::string& strSystemText, DWORD dwCode);

}  // namespace kx
