#include "platform/event_log.h"

namespace kx {

std::string GetMessageFileForCatalogue(const std::string& strCataloguePath) { return strCataloguePath; }

}  // namespace kx
