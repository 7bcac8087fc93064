#include "KxAgentMessages.h"

#include <mutex>

#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/program_path.h"
#include "platform/text_encoding.h"

const char kAgentEventSource[] = KX_EVENT_SOURCE;
const char kAgentMessageCatalogue[] = "KxAgent.msg";

BOOL RegisterAgentEventSource(const std::string& strProgramDirectory) {
  std::string strCatalogue = kx::GetMessageFileForCatalogue(strProgramDirectory + kAgentMessageCatalogue);
  // Registering a catalogue that is missing or broken would turn every entry
  // into "cannot be displayed"; unregistered, an entry shows its text as it is.
  kx::HMESSAGEMODULE hModule = nullptr;
  if (kx::LoadMessageModule(strCatalogue.c_str(), &hModule) != ERROR_SUCCESS) return FALSE;
  kx::FreeMessageModule(hModule);
  std::string strCurrent;
  if (kx::QueryEventSourceValue("Application", kAgentEventSource, "EventMessageFile", &strCurrent) ==
          ERROR_SUCCESS &&
      strCurrent == strCatalogue) {
    return TRUE;
  }
  return kx::InstallEventSource("Application", kAgentEventSource, strCatalogue.c_str()) == ERROR_SUCCESS;
}

BOOL RegisterAgentEventSourceOnce() {
  static std::once_flag s_once;
  static BOOL s_bRegistered = FALSE;
  std::call_once(s_once, [] { s_bRegistered = RegisterAgentEventSource(kx::Utf8ToCp932(kx::GetProgramDirectory())); });
  return s_bRegistered;
}
