// Internal to the emulated event logs: what the record store, the source
// registrations, record writing and change notification (emulation/event_log_*.cpp) share.
#pragma once

#include <string>

#include "platform/backends_posix.h"
#include "platform/event_log.h"

namespace kx {
namespace emulation {

// <system root>/eventlog
std::string EventLogDir();
// The Windows error code of errno.
DWORD LastError();
// Closes *pnFd when it is open and marks it closed.
void CloseFd(int* pnFd);
// Appends one whole record (EVENTLOGRECORD layout) to the log; its number is
// filled in here. ERROR_SUCCESS or an error code.
DWORD AppendRecord(HEVENTLOG hLog, std::string* pstrRecord);

// The event logs kept in the system state directory.
class CEventLogEmulation : public CEventLogBackend {
 public:
  // event_log_store.cpp
  DWORD OpenLog(const char* lpCanonicalLogName, HEVENTLOG* phLog) override;
  DWORD GetRecordCount(HEVENTLOG hLog, DWORD* pdwCount) override;
  DWORD GetOldestRecord(HEVENTLOG hLog, DWORD* pdwOldestRecord) override;
  DWORD ReadRecord(HEVENTLOG hLog, DWORD dwRecordNumber, void* lpBuffer, DWORD nBufferSize,
                   DWORD* pdwBytesRead, DWORD* pdwBytesNeeded) override;
  DWORD ClearLog(HEVENTLOG hLog) override;
  DWORD SetMaxRecords(HEVENTLOG hLog, DWORD dwMaxRecords) override;
  DWORD GetMaxRecords(HEVENTLOG hLog, DWORD* pdwMaxRecords) override;
  // event_log_write.cpp
  DWORD OpenSource(const char* lpSourceName, HEVENTSOURCE* phSource) override;
  DWORD ReportEntry(HEVENTSOURCE hSource, WORD wType, WORD wCategory, DWORD dwEventID, WORD wNumStrings,
                    const char** lpStrings) override;
  // event_log_sources.cpp
  DWORD InstallSource(const char* lpCanonicalLogName, const char* lpSourceName,
                      const char* lpEventMessageFile) override;
  DWORD FindSourceLog(const char* lpSourceName, std::string* pstrLogName) override;
  DWORD QuerySourceValue(const char* lpCanonicalLogName, const char* lpSourceName, const char* lpValueName,
                         std::string* pstrValue) override;
  // event_log_notify.cpp
  CEventLogChangeWaiter::Impl* CreateChangeWaiter() override;
};

}  // namespace emulation
}  // namespace kx
