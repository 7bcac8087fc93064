#include "platform/error_text.h"

namespace kx {

// No system message table here: the product's own table answers.
std::string QuerySystemMessage(DWORD /*dwCode*/) { return std::string(); }

}  // namespace kx
