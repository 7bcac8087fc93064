// Internal to the POSIX side of the platform: the facilities Linux has no
// equivalent for in Windows' shape (event logs, the service manager, the
// delayed shutdown, registrations) are served by a backend. The thin
// <facility>_posix.cpp files check what every backend would check and call
// through the backend chosen once per process (backends_posix.cpp); today the
// only one is the emulation in the system state directory (emulation/). A
// backend hands out its own handle objects, derived from the handle types below.
#pragma once

#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/power.h"
#include "platform/services.h"

namespace kx {

struct CEventLogData {
  virtual ~CEventLogData() = default;
};

struct CEventSourceData {
  virtual ~CEventSourceData() = default;
};

struct CServiceHandleData {
  virtual ~CServiceHandleData() = default;
};

struct CServiceStatusData {
  virtual ~CServiceStatusData() = default;
};

// One change waiter of a backend (event_log.h, CEventLogChangeWaiter).
struct CEventLogChangeWaiter::Impl {
  virtual ~Impl() = default;
  virtual DWORD AddLog(const char* lpCanonicalLogName) = 0;
  virtual DWORD Wait(DWORD dwMilliseconds, DWORD* pdwChangedMask) = 0;
  virtual void Wake() = 0;
};

// The event logs and their sources. Log names arrive canonical
// (GetCanonicalEventLogName), source names checked (IsValidEventSourceName),
// handles and out-parameters not null; contracts as in event_log.h.
class CEventLogBackend {
 public:
  virtual ~CEventLogBackend() = default;
  virtual DWORD OpenLog(const char* lpCanonicalLogName, HEVENTLOG* phLog) = 0;
  virtual DWORD GetRecordCount(HEVENTLOG hLog, DWORD* pdwCount) = 0;
  virtual DWORD GetOldestRecord(HEVENTLOG hLog, DWORD* pdwOldestRecord) = 0;
  virtual DWORD ReadRecord(HEVENTLOG hLog, DWORD dwRecordNumber, void* lpBuffer, DWORD nBufferSize,
                           DWORD* pdwBytesRead, DWORD* pdwBytesNeeded) = 0;
  virtual DWORD ClearLog(HEVENTLOG hLog) = 0;
  virtual DWORD SetMaxRecords(HEVENTLOG hLog, DWORD dwMaxRecords) = 0;
  virtual DWORD GetMaxRecords(HEVENTLOG hLog, DWORD* pdwMaxRecords) = 0;
  virtual DWORD OpenSource(const char* lpSourceName, HEVENTSOURCE* phSource) = 0;
  virtual DWORD ReportEntry(HEVENTSOURCE hSource, WORD wType, WORD wCategory, DWORD dwEventID,
                            WORD wNumStrings, const char** lpStrings) = 0;
  virtual DWORD InstallSource(const char* lpCanonicalLogName, const char* lpSourceName,
                              const char* lpEventMessageFile) = 0;
  virtual DWORD FindSourceLog(const char* lpSourceName, std::string* pstrLogName) = 0;
  virtual DWORD QuerySourceValue(const char* lpCanonicalLogName, const char* lpSourceName,
                                 const char* lpValueName, std::string* pstrValue) = 0;
  virtual CEventLogChangeWaiter::Impl* CreateChangeWaiter() = 0;
};

// The service manager and the service side; contracts as in services.h.
// Handles and out-parameters arrive not null.
class CServiceBackend {
 public:
  virtual ~CServiceBackend() = default;
  virtual DWORD OpenManager(SC_HANDLE* phManager) = 0;
  virtual DWORD OpenService(SC_HANDLE hManager, const char* lpServiceName, SC_HANDLE* phService) = 0;
  virtual DWORD Install(SC_HANDLE hManager, const char* lpServiceName, const SERVICE_CONFIG& config,
                        SC_HANDLE* phService) = 0;
  virtual DWORD Delete(SC_HANDLE hService) = 0;
  virtual DWORD GetName(SC_HANDLE hService, std::string* pstrName) = 0;
  virtual DWORD QueryConfiguration(SC_HANDLE hService, SERVICE_CONFIG* pConfig) = 0;
  virtual DWORD ChangeConfiguration(SC_HANDLE hService, const SERVICE_CONFIG& config) = 0;
  virtual DWORD QueryStatus(SC_HANDLE hService, SERVICE_STATUS* pStatus) = 0;
  virtual DWORD Start(SC_HANDLE hService) = 0;
  virtual DWORD Control(SC_HANDLE hService, DWORD dwControl, SERVICE_STATUS* pStatus) = 0;
  virtual DWORD Enumerate(SC_HANDLE hManager, std::vector<SERVICE_LIST_ENTRY>* pServices) = 0;
  virtual DWORD RunDispatcher(const SERVICE_DISPATCH_ENTRY* lpTable) = 0;
  virtual DWORD RegisterHandler(const char* lpServiceName, SERVICE_HANDLER_PROC lpHandler,
                                SERVICE_STATUS_HANDLE* phStatus) = 0;
  virtual DWORD SetStatus(SERVICE_STATUS_HANDLE hStatus, const SERVICE_STATUS* pStatus) = 0;
};

// The delayed shutdown; contracts as in power.h, arguments already checked.
class CPowerBackend {
 public:
  virtual ~CPowerBackend() = default;
  virtual DWORD Request(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed,
                        BOOL bRebootAfterShutdown) = 0;
  virtual DWORD Cancel() = 0;
  virtual DWORD QueryPending(SHUTDOWN_REQUEST* pRequest) = 0;
};

// Registration records; contracts as in registration.h, arguments not null.
class CRegistrationBackend {
 public:
  virtual ~CRegistrationBackend() = default;
  virtual DWORD GetValue(const char* lpKey, const char* lpName, std::string* pstrValue) = 0;
  virtual BOOL IsKey(const char* lpKey) = 0;
  virtual DWORD SetValue(const char* lpKey, const char* lpName, const char* lpValue) = 0;
  virtual DWORD DeleteValue(const char* lpKey, const char* lpName) = 0;
  virtual DWORD DeleteKey(const char* lpKey) = 0;
};

// The backends in use, chosen on first call and the same for the life of the process.
CEventLogBackend& GetEventLogBackend();
CServiceBackend& GetServiceBackend();
CPowerBackend& GetPowerBackend();
CRegistrationBackend& GetRegistrationBackend();

}  // namespace kx
