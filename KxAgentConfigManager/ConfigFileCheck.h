// Whether a configuration file can be read, and if not why, in words the
// programs pass on: the agent to its log and the event log, the configuration
// tool to its message box. Not part of the manager class.
#pragma once

#include "platform/kx_types.h"

// Reads the XML file at lpPath (code page 932) the way the loaders do, printing
// nothing, only to learn whether it can be read. ERROR_SUCCESS when it parses
// without a problem; otherwise ERROR_FILE_NOT_FOUND (no such file),
// ERROR_ACCESS_DENIED (no readable plain file), ERROR_INVALID_DATA (the XML
// library reported a problem: truncated, mismatched or no XML at all) or
// ERROR_INVALID_FUNCTION (the XML library is not initialized). lpProblem (may be
// null) then receives one line naming the file and the reason, such as
// "<path>: line 3, column 12: <the library's message>" or "<path>: <the
// system's message>", in code page 932, cut to at most cchProblem - 1 bytes; it
// is "" on success. Call between CKxAgentConfigManager::Initialize and Terminate.
DWORD KxAgentCheckConfigFile(const char* lpPath, char* lpProblem, DWORD cchProblem);
