// Internal to the POSIX event logs: what the record store, the source
// registrations, record writing, the catalogue cache and change notification
// (the event_log_*_posix.cpp files) share.
#pragma once

#include <string>

#include "platform/event_log.h"

namespace kx {
namespace event_log {

// Records are at most this long, header and texts included.
const DWORD kMaxRecordSize = 256 * 1024;
// EVENTLOGRECORD.Reserved of every record ("LfLe").
const DWORD kRecordMagic = 0x654c664c;

// <system root>/eventlog
std::string EventLogDir();
// The Windows error code of errno.
DWORD LastError();
// Closes *pnFd when it is open and marks it closed.
void CloseFd(int* pnFd);
// A source name must be usable as one file name and as a registry key name.
bool IsValidSourceName(const char* lpName);
// Appends one whole record (EVENTLOGRECORD layout) to the log; its number is
// filled in here. ERROR_SUCCESS or an error code.
DWORD AppendRecord(HEVENTLOG hLog, std::string* pstrRecord);

}  // namespace event_log
}  // namespace kx
