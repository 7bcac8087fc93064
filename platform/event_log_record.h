// Internal to the event-log facility: building a record in the EVENTLOGRECORD
// layout and handing it out into a caller's buffer, shared by every store that
// hands out records.
#pragma once

#include <string>
#include <vector>

#include "platform/event_log.h"

namespace kx {

// A record is at most this long, header and texts included.
const DWORD kMaxEventRecordSize = 256 * 1024;

// What one record says; the texts are code page 932.
struct EVENT_RECORD_FIELDS {
  DWORD dwRecordNumber = 0;
  DWORD dwTimeGenerated = 0;  // seconds since 1970-01-01 UTC
  DWORD dwTimeWritten = 0;
  DWORD dwEventID = 0;
  WORD wEventType = EVENTLOG_INFORMATION_TYPE;
  WORD wEventCategory = 0;
  std::string strSourceName;
  std::string strComputerName;
  std::vector<const char*> strings;  // insertion strings; a null one counts as empty
};

// Lays the record out as EVENTLOGRECORD with no user SID and no binary data.
// ERROR_SUCCESS, or ERROR_INVALID_PARAMETER when it would exceed kMaxEventRecordSize.
DWORD BuildEventLogRecord(const EVENT_RECORD_FIELDS& fields, std::string* pstrRecord);

// Copies a whole record into the caller's buffer as ReadEventLogRecord does:
// ERROR_INSUFFICIENT_BUFFER with the size in *pdwBytesNeeded when it does not fit.
DWORD CopyEventLogRecord(const std::string& strRecord, void* lpBuffer, DWORD nBufferSize,
                         DWORD* pdwBytesRead, DWORD* pdwBytesNeeded);

// Reads an event ID written as decimal or 0x-hexadecimal (blanks around it
// allowed); false for anything else or a value above 32 bits.
bool ParseEventIdText(const std::string& strText, DWORD* pdwValue);

}  // namespace kx
