// Event logs: writing entries under an event source. (Reading records and
// change notification join this facility later.)
#pragma once

#include "platform/kx_types.h"

#ifndef EVENTLOG_SUCCESS
#define EVENTLOG_SUCCESS 0x0000
#endif
#ifndef EVENTLOG_ERROR_TYPE
#define EVENTLOG_ERROR_TYPE 0x0001
#endif
#ifndef EVENTLOG_WARNING_TYPE
#define EVENTLOG_WARNING_TYPE 0x0002
#endif
#ifndef EVENTLOG_INFORMATION_TYPE
#define EVENTLOG_INFORMATION_TYPE 0x0004
#endif

namespace kx {

// An open event source; null means none.
typedef struct CEventSourceData* HEVENTSOURCE;

// Opens the event source `lpSourceName` of the local system for writing, as
// RegisterEventSourceA(NULL, name). ERROR_SUCCESS and *phSource set, or an error
// code and *phSource null. On this platform: ERROR_NOT_SUPPORTED for now.
DWORD RegisterEventLogSource(const char* lpSourceName, HEVENTSOURCE* phSource);
// Writes one entry, as ReportEventA with no user SID and no binary data:
// `wType` is an EVENTLOG_*_TYPE, `lpStrings` holds `wNumStrings` insertion strings.
// ERROR_SUCCESS or an error code.
DWORD ReportEventLogEntry(HEVENTSOURCE hSource, WORD wType, WORD wCategory, DWORD dwEventID,
                          WORD wNumStrings, const char** lpStrings);
// Closes a source from RegisterEventLogSource; null is ignored.
void DeregisterEventLogSource(HEVENTSOURCE hSource);

}  // namespace kx
