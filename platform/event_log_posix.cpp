#include "platform/error_codes.h"
#include "platform/event_log.h"

namespace kx {

// No event log is emulated yet, so every source fails to open; callers take
// their failure path, which is what they must survive on a real system anyway.
DWORD RegisterEventLogSource(const char* lpSourceName, HEVENTSOURCE* phSource) {
  if (phSource != nullptr) *phSource = nullptr;
  if (lpSourceName == nullptr || phSource == nullptr) return ERROR_INVALID_PARAMETER;
  return ERROR_NOT_SUPPORTED;
}

DWORD ReportEventLogEntry(HEVENTSOURCE hSource, WORD /*wType*/, WORD /*wCategory*/,
                          DWORD /*dwEventID*/, WORD /*wNumStrings*/, const char** /*lpStrings*/) {
  if (hSource == nullptr) return ERROR_INVALID_HANDLE;
  return ERROR_NOT_SUPPORTED;
}

void DeregisterEventLogSource(HEVENTSOURCE /*hSource*/) {}

}  // namespace kx
