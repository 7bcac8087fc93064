// The agent's entries in the system event log: its event source and message IDs,
// and the registration of its message catalogue (KxAgent.msg, beside the program).
#pragma once

#include <string>

#include "KxProduct.h"
#include "platform/kx_types.h"

extern const char kAgentEventSource[];      // KX_EVENT_SOURCE
extern const char kAgentMessageCatalogue[];  // "KxAgent.msg"
const DWORD kAgentEventIdInformation = KX_EVENT_ID_INFORMATION;
const DWORD kAgentEventIdWarning = KX_EVENT_ID_WARNING;
const DWORD kAgentEventIdError = KX_EVENT_ID_ERROR;

// Registers the source KX_EVENT_SOURCE under the Application log with the catalogue
// in `strProgramDirectory` (ending in a separator) as its message file, when
// that catalogue loads. TRUE when the registration is in place afterwards.
BOOL RegisterAgentEventSource(const std::string& strProgramDirectory);
// As above for the running program's directory, done once per process; later
// calls return the first call's result. Any thread.
BOOL RegisterAgentEventSourceOnce();
