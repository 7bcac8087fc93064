// Internal to the event-log facility: the message catalogue reader shared by
// the operating-system implementations.
#pragma once

#include <map>
#include <string>

#include "platform/kx_types.h"

namespace kx {

// Reads a catalogue's text (format in event_log.h) into message ID -> text in
// code page 932. ERROR_SUCCESS, or ERROR_INVALID_DATA for a line that is
// neither a comment, an Encoding= or MessageId= line nor message text.
DWORD ParseMessageCatalogue(const std::string& strText, std::map<DWORD, std::string>* pMessages);

}  // namespace kx
