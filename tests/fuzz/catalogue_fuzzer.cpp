// libFuzzer harness over the event message catalogue reader and the message
// formatter: arbitrary bytes are read as a catalogue, and every message found
// is formatted with a few insertion strings.
#include <cstdint>
#include <map>
#include <string>

#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/event_log_catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbSize) {
  std::string strText(reinterpret_cast<const char*>(pData), cbSize);
  std::map<DWORD, std::string> messages;
  if (kx::ParseMessageCatalogue(strText, &messages) != ERROR_SUCCESS) return 0;
  const char* arguments[] = {"one", "%2", "%%1"};
  for (const auto& message : messages) {
    for (DWORD dwCount = 0; dwCount <= 3; ++dwCount) kx::FormatMessageText(message.second, arguments, dwCount);
  }
  return 0;
}
