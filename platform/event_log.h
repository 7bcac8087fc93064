// Event logs: the Application, Security and System logs of this machine, the
// event sources that write to them, their message files, and change
// notification.
//
// Records are numbered from 1 in each log, 32 bits wide. A record is handed
// out in the EVENTLOGRECORD layout below; its texts are code page 932 bytes.
// A log keeps at most its maximum record count (0: no maximum); when a write
// goes beyond it the oldest records are dropped, so the oldest record number
// advances. Clearing a log empties it and numbering starts again at 1. An empty
// log reports as its oldest record the number its next record will get, so
// oldest + count - 1 is always the newest number given out (0 for a new or
// cleared log).
//
// Event sources: a source is registered under one log, with named values such
// as "EventMessageFile" (a ';'-separated list of message catalogue paths, which
// may hold %VARIABLE% references). A source that is not registered anywhere
// writes to the Application log.
//
// Message catalogues (the files EventMessageFile names) are plain text:
//
//   ; a comment line (outside a message)
//   Encoding=UTF-8          optional, before the first message: UTF-8 or CP932
//                           (the default); texts are handed out in code page 932
//   MessageId=0x40000101    decimal or 0x-hexadecimal, the full 32-bit event ID
//   Text of the first line, %1 inserts the first insertion string
//   a second line
//   .                       a line holding only '.' ends the message
//
// Each text line contributes its text and CR LF, so the message above is
// "Text ... string\r\na second line\r\n". Inserts and escapes as FormatMessage
// knows them: %1 to %99 (an optional !format! after the number is accepted and
// the string inserted as it is), %0 ends the message without the line end that
// would follow, %n CR LF, %r CR, %t TAB, %b and "% " a blank, %% %, %. ., %! !.
// An insert beyond the strings a record carries stays in the text as written
// ("%3"): nothing past the given strings is ever read. A '%' before any other
// character is dropped and the character kept. File lines may end in LF or CR LF.
//
// Any thread may use any function; handles may be shared between threads.
// Several processes may write the same log at once: each record lands whole.
#pragma once

#include <string>
#include <vector>

#include "platform/kx_types.h"
#include "platform/sync.h"

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
#ifndef EVENTLOG_AUDIT_SUCCESS
#define EVENTLOG_AUDIT_SUCCESS 0x0008
#endif
#ifndef EVENTLOG_AUDIT_FAILURE
#define EVENTLOG_AUDIT_FAILURE 0x0010
#endif
#ifndef ERROR_MR_MID_NOT_FOUND
#define ERROR_MR_MID_NOT_FOUND 317L
#endif
#ifndef ERROR_EVENTLOG_FILE_CORRUPT
#define ERROR_EVENTLOG_FILE_CORRUPT 1500L
#endif
#ifndef WAIT_IO_COMPLETION
#define WAIT_IO_COMPLETION 0x000000C0L
#endif

namespace kx {

// One record as ReadEventLogRecord hands it out, field for field as Windows'
// EVENTLOGRECORD. The fixed part is followed by the source name and the
// computer name (NUL-terminated), then the NumStrings insertion strings
// (NUL-terminated, one after another) from StringOffset; the record ends with
// its Length repeated in its last four bytes. Offsets count from the record start.
struct EVENTLOGRECORD {
  DWORD Length;
  DWORD Reserved;  // always 0x654c664c ("LfLe")
  DWORD RecordNumber;
  DWORD TimeGenerated;  // seconds since 1970-01-01 00:00:00 UTC
  DWORD TimeWritten;
  DWORD EventID;
  WORD EventType;  // an EVENTLOG_*_TYPE
  WORD NumStrings;
  WORD EventCategory;
  WORD ReservedFlags;
  DWORD ClosingRecordNumber;
  DWORD StringOffset;
  DWORD UserSidLength;
  DWORD UserSidOffset;
  DWORD DataLength;
  DWORD DataOffset;
};

// The texts of one record, pointing into the record's own bytes.
struct EVENTLOGRECORD_TEXTS {
  const char* lpSourceName;
  const char* lpComputerName;
  std::vector<const char*> vecStrings;  // NumStrings insertion strings
};

// Checks a record of cbRecord bytes as ReadEventLogRecord hands it out: the
// header's Length and the repeated length agree with cbRecord, Reserved is the
// record magic, the offsets stay inside the record, and the source name, the
// computer name and the NumStrings strings each end before the data. TRUE and
// *pTexts filled (when given), or FALSE: nothing of the record may then be read
// as text.
BOOL ParseEventLogRecord(const void* lpRecord, DWORD cbRecord, EVENTLOGRECORD_TEXTS* pTexts);

// EVENTLOGRECORD.Reserved of every record ("LfLe").
const DWORD kEventLogRecordMagic = 0x654c664c;

// ---- Logs ----

// An open log; null means none.
typedef struct CEventLogData* HEVENTLOG;

// "Application", "Security" or "System" for a name that matches one of them
// case-insensitively; null for any other name.
const char* GetCanonicalEventLogName(const char* lpLogName);

// Opens a log of the local machine, as OpenEventLogA(NULL, name). The files
// need not exist yet: a log nobody wrote reads as empty. ERROR_SUCCESS and
// *phLog set, or ERROR_FILE_NOT_FOUND for a name that is no log (*phLog null).
DWORD OpenEventLogByName(const char* lpLogName, HEVENTLOG* phLog);
// Closes a handle from OpenEventLogByName; null is ignored.
void CloseEventLogHandle(HEVENTLOG hLog);
// The number of records in the log. ERROR_SUCCESS or an error code (*pdwCount 0).
DWORD GetNumberOfEventLogRecords(HEVENTLOG hLog, DWORD* pdwCount);
// The number of the oldest record (see the header comment for an empty log).
DWORD GetOldestEventLogRecord(HEVENTLOG hLog, DWORD* pdwOldestRecord);
// Reads record dwRecordNumber (a seek read of one record) into lpBuffer. When
// nBufferSize is too small: ERROR_INSUFFICIENT_BUFFER with the size needed in
// *pdwBytesNeeded. ERROR_INVALID_PARAMETER for a number outside the log,
// ERROR_EVENTLOG_FILE_CORRUPT for a record that fails its checks. Constant
// time in the size of the log.
DWORD ReadEventLogRecord(HEVENTLOG hLog, DWORD dwRecordNumber, void* lpBuffer, DWORD nBufferSize,
                         DWORD* pdwBytesRead, DWORD* pdwBytesNeeded);
// Removes every record; the next record written is number 1.
DWORD ClearEventLogRecords(HEVENTLOG hLog);
// Sets the most records the log keeps (0: no maximum), dropping the oldest
// records beyond it at once.
DWORD SetEventLogMaxRecords(HEVENTLOG hLog, DWORD dwMaxRecords);
// The maximum record count in force (0: no maximum).
DWORD GetEventLogMaxRecords(HEVENTLOG hLog, DWORD* pdwMaxRecords);
// The record's time stamp (TimeGenerated) as local calendar time.
void EventTimeToLocalTime(DWORD dwTime, SYSTEMTIME* lpTime);

// ---- Writing ----

// An open event source; null means none.
typedef struct CEventSourceData* HEVENTSOURCE;

// Opens the event source `lpSourceName` of the local system for writing, as
// RegisterEventSourceA(NULL, name): it writes to the log the source is
// registered under, or to Application. ERROR_SUCCESS and *phSource set, or an
// error code (ERROR_INVALID_NAME for a name that cannot be a source) and *phSource null.
DWORD RegisterEventLogSource(const char* lpSourceName, HEVENTSOURCE* phSource);
// Writes one entry, as ReportEventA with no user SID and no binary data:
// `wType` is an EVENTLOG_*_TYPE, `lpStrings` holds `wNumStrings` insertion
// strings (a null string counts as empty). ERROR_SUCCESS or an error code;
// ERROR_INVALID_PARAMETER when the record would exceed 256 KB.
DWORD ReportEventLogEntry(HEVENTSOURCE hSource, WORD wType, WORD wCategory, DWORD dwEventID,
                          WORD wNumStrings, const char** lpStrings);
// Closes a source from RegisterEventLogSource; null is ignored.
void DeregisterEventLogSource(HEVENTSOURCE hSource);

// ---- Source registrations ----

// TRUE for a name that can be an event source on every system: not empty, not
// "." or "..", and no '/', no single-byte backslash and no control character
// (a code page 932 trail byte belongs to its lead byte and is never one of them).
BOOL IsValidEventSourceName(const char* lpSourceName);

// Registers `lpSourceName` under the log (creating or keeping its registration)
// and sets its "EventMessageFile" value to `lpEventMessageFile`, or leaves the
// value as it is when that is null. ERROR_INVALID_NAME for a name that cannot
// be a source (empty, ".", "..", or holding '/' or a single-byte '\').
DWORD InstallEventSource(const char* lpLogName, const char* lpSourceName,
                         const char* lpEventMessageFile);
// The log a source is registered under, in the order Application, Security,
// System; names compare case-insensitively. ERROR_FILE_NOT_FOUND when none.
DWORD FindEventSourceLog(const char* lpSourceName, std::string* pstrLogName);
// Reads one value of a source registration, as RegQueryValueEx on
// ...\EventLog\<log>\<source>. ERROR_FILE_NOT_FOUND when the source or the value is missing.
DWORD QueryEventSourceValue(const char* lpLogName, const char* lpSourceName,
                            const char* lpValueName, std::string* pstrValue);
// Replaces each %NAME% of the text by the variable's value; a reference to an
// unset variable stays as written, as ExpandEnvironmentStrings leaves it.
std::string ExpandEnvironmentText(const char* lpText);

// ---- Message catalogues ----

// The message file a source registers for the catalogue at `strCataloguePath`,
// which ships beside the running program: the catalogue itself here; on
// Windows the program, whose message table resource is built from it.
std::string GetMessageFileForCatalogue(const std::string& strCataloguePath);

// A loaded message catalogue; null means none.
typedef struct CMessageModuleData* HMESSAGEMODULE;

// Loads the catalogue at `lpPath` (code page 932). ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND or another error code when it cannot be read, and
// ERROR_INVALID_DATA when it is not a catalogue. A file loaded before and not
// changed since is not read again.
DWORD LoadMessageModule(const char* lpPath, HMESSAGEMODULE* phModule);
// Releases a catalogue; null is ignored.
void FreeMessageModule(HMESSAGEMODULE hModule);
// The text of message dwMessageID with the inserts filled from the
// dwArgumentCount strings of lpArguments (FormatMessage rules, see the header
// comment). ERROR_MR_MID_NOT_FOUND when the catalogue has no such message.
DWORD FormatModuleMessage(HMESSAGEMODULE hModule, DWORD dwMessageID, const char* const* lpArguments,
                          DWORD dwArgumentCount, std::string* pstrText);
// As FormatModuleMessage for a message text given directly.
std::string FormatMessageText(const std::string& strTemplate, const char* const* lpArguments,
                              DWORD dwArgumentCount);

// ---- Change notification ----

// Wakes a waiter as soon as a record is written to (or the log is cleared in)
// any of the logs it watches, whichever process writes. One thread waits; any
// thread may call Wake.
class CEventLogChangeWaiter {
 public:
  CEventLogChangeWaiter();
  ~CEventLogChangeWaiter();
  CEventLogChangeWaiter(const CEventLogChangeWaiter&) = delete;
  CEventLogChangeWaiter& operator=(const CEventLogChangeWaiter&) = delete;

  // Adds a log; its bit in the wait's change mask is 1 << (number of logs
  // added before it, counting those whose watch could not be set up). ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a name that is no
  // log, or the error that kept the watch from being set up.
  DWORD AddLog(const char* lpLogName);
  // Waits up to dwMilliseconds (INFINITE: no limit; 0 only looks). WAIT_OBJECT_0
  // with the logs that changed since the previous wait in *pdwChangedMask,
  // WAIT_TIMEOUT, or WAIT_IO_COMPLETION when Wake was called since the last
  // such return. One write may show as more than one change.
  DWORD Wait(DWORD dwMilliseconds, DWORD* pdwChangedMask);
  // Makes the current or the next Wait return WAIT_IO_COMPLETION. Any thread.
  void Wake();

  // What each system (or backend) waits with.
  struct Impl;

 private:
  Impl* m_pImpl;
};

}  // namespace kx
