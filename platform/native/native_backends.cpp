#include "platform/native/native_backends.h"

#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/error_codes.h"
#include "platform/native/journal_event_logs.h"
#include "platform/native/logind_power.h"
#include "platform/native/systemd_services.h"

namespace kx {
namespace native {

namespace {

// ---- Event logs ----

struct JOURNAL_LOG_HANDLE : CEventLogData {
  explicit JOURNAL_LOG_HANDLE(int nLogIn) : nLog(nLogIn) {}
  int nLog;
};

struct JOURNAL_SOURCE_HANDLE : CEventSourceData {
  explicit JOURNAL_SOURCE_HANDLE(const char* lpName) : strName(lpName) {}
  std::string strName;
};

class CJournalWaiterImpl : public CEventLogChangeWaiter::Impl {
 public:
  explicit CJournalWaiterImpl(CJournalEventLogs* pLogs) : m_waiter(pLogs) {}
  DWORD AddLog(const char* lpCanonicalLogName) override { return m_waiter.AddLog(lpCanonicalLogName); }
  DWORD Wait(DWORD dwMilliseconds, DWORD* pdwChangedMask) override {
    return m_waiter.Wait(dwMilliseconds, pdwChangedMask);
  }
  void Wake() override { m_waiter.Wake(); }

 private:
  CJournalChangeWaiter m_waiter;
};

// One journal reader for every handle and waiter of the process, opened on
// first use and again on a later use when that failed.
class CJournalEventLogBackend : public CEventLogBackend {
 public:
  explicit CJournalEventLogBackend(CEventLogBackend& sourceRegistrations) : m_sources(sourceRegistrations) {}

  DWORD OpenLog(const char* lpCanonicalLogName, HEVENTLOG* phLog) override {
    int nLog = CJournalEventLogs::FindLog(lpCanonicalLogName);
    if (nLog < 0) return ERROR_FILE_NOT_FOUND;
    DWORD dwError = EnsureOpen();
    if (dwError != ERROR_SUCCESS) return dwError;
    *phLog = new JOURNAL_LOG_HANDLE(nLog);
    return ERROR_SUCCESS;
  }
  DWORD GetRecordCount(HEVENTLOG hLog, DWORD* pdwCount) override {
    const JOURNAL_LOG_HANDLE* pHandle = LogOf(hLog);
    return pHandle == nullptr ? ERROR_INVALID_HANDLE : m_logs.GetNumberOfRecords(pHandle->nLog, pdwCount);
  }
  DWORD GetOldestRecord(HEVENTLOG hLog, DWORD* pdwOldestRecord) override {
    const JOURNAL_LOG_HANDLE* pHandle = LogOf(hLog);
    return pHandle == nullptr ? ERROR_INVALID_HANDLE : m_logs.GetOldestRecord(pHandle->nLog, pdwOldestRecord);
  }
  DWORD ReadRecord(HEVENTLOG hLog, DWORD dwRecordNumber, void* lpBuffer, DWORD nBufferSize, DWORD* pdwBytesRead,
                   DWORD* pdwBytesNeeded) override {
    const JOURNAL_LOG_HANDLE* pHandle = LogOf(hLog);
    if (pHandle == nullptr) return ERROR_INVALID_HANDLE;
    return m_logs.ReadRecord(pHandle->nLog, dwRecordNumber, lpBuffer, nBufferSize, pdwBytesRead, pdwBytesNeeded);
  }
  DWORD ClearLog(HEVENTLOG hLog) override { return LogOf(hLog) == nullptr ? ERROR_INVALID_HANDLE : ERROR_NOT_SUPPORTED; }
  DWORD SetMaxRecords(HEVENTLOG hLog, DWORD /*dwMaxRecords*/) override {
    return LogOf(hLog) == nullptr ? ERROR_INVALID_HANDLE : ERROR_NOT_SUPPORTED;
  }
  DWORD GetMaxRecords(HEVENTLOG hLog, DWORD* /*pdwMaxRecords*/) override {
    return LogOf(hLog) == nullptr ? ERROR_INVALID_HANDLE : ERROR_NOT_SUPPORTED;
  }
  DWORD OpenSource(const char* lpSourceName, HEVENTSOURCE* phSource) override {
    *phSource = new JOURNAL_SOURCE_HANDLE(lpSourceName);
    return ERROR_SUCCESS;
  }
  // Written to this machine's journal, in the log the source is registered
  // under (Application when it is not).
  DWORD ReportEntry(HEVENTSOURCE hSource, WORD wType, WORD /*wCategory*/, DWORD dwEventID, WORD wNumStrings,
                    const char** lpStrings) override {
    const JOURNAL_SOURCE_HANDLE* pSource = dynamic_cast<const JOURNAL_SOURCE_HANDLE*>(hSource);
    if (pSource == nullptr) return ERROR_INVALID_HANDLE;
    std::string strLog;
    if (m_sources.FindSourceLog(pSource->strName.c_str(), &strLog) != ERROR_SUCCESS) strLog = "Application";
    return CJournalEventLogs::DoReportEvent(strLog.c_str(), pSource->strName.c_str(), wType, dwEventID, wNumStrings,
                                            lpStrings);
  }
  DWORD InstallSource(const char* lpCanonicalLogName, const char* lpSourceName,
                      const char* lpEventMessageFile) override {
    return m_sources.InstallSource(lpCanonicalLogName, lpSourceName, lpEventMessageFile);
  }
  DWORD FindSourceLog(const char* lpSourceName, std::string* pstrLogName) override {
    return m_sources.FindSourceLog(lpSourceName, pstrLogName);
  }
  DWORD QuerySourceValue(const char* lpCanonicalLogName, const char* lpSourceName, const char* lpValueName,
                         std::string* pstrValue) override {
    return m_sources.QuerySourceValue(lpCanonicalLogName, lpSourceName, lpValueName, pstrValue);
  }
  // A waiter over a journal that cannot be opened never sees a change; its
  // AddLog reports why.
  CEventLogChangeWaiter::Impl* CreateChangeWaiter() override {
    EnsureOpen();
    return new CJournalWaiterImpl(&m_logs);
  }

 private:
  static const JOURNAL_LOG_HANDLE* LogOf(HEVENTLOG hLog) { return dynamic_cast<const JOURNAL_LOG_HANDLE*>(hLog); }

  DWORD EnsureOpen() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bOpen) {
      const char* lpDirectory = std::getenv("KX_JOURNAL_DIR");
      DWORD dwError = (lpDirectory != nullptr && *lpDirectory != '\0') ? m_logs.DoOpenDirectory(lpDirectory)
                                                                        : m_logs.DoOpenLocal();
      if (dwError != ERROR_SUCCESS) return dwError;
      m_bOpen = true;
    }
    return ERROR_SUCCESS;
  }

  CEventLogBackend& m_sources;
  CJournalEventLogs m_logs;
  std::mutex m_lock;
  bool m_bOpen = false;
};

// ---- Services ----

struct SYSTEMD_HANDLE : CServiceHandleData {
  bool bManager = false;
  std::string strName;  // a service handle's unit name without ".service"
};

// Connects on the first call that needs the manager, and again on a later one
// when that failed.
template <class Facility>
class CBusFacility {
 protected:
  DWORD EnsureConnected() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bConnected) {
      DWORD dwError = m_facility.DoConnect(nullptr);
      if (dwError != ERROR_SUCCESS) return dwError;
      m_bConnected = true;
    }
    return ERROR_SUCCESS;
  }

  Facility m_facility;

 private:
  std::mutex m_lock;
  bool m_bConnected = false;
};

class CSystemdServiceBackend : public CServiceBackend, private CBusFacility<CSystemdServiceManager> {
 public:
  DWORD OpenManager(SC_HANDLE* phManager) override {
    DWORD dwError = EnsureConnected();
    if (dwError != ERROR_SUCCESS) return dwError;
    SYSTEMD_HANDLE* pHandle = new SYSTEMD_HANDLE;
    pHandle->bManager = true;
    *phManager = pHandle;
    return ERROR_SUCCESS;
  }
  DWORD OpenService(SC_HANDLE hManager, const char* lpServiceName, SC_HANDLE* phService) override {
    if (!IsManager(hManager)) return ERROR_INVALID_HANDLE;
    if (lpServiceName == nullptr) return ERROR_INVALID_NAME;
    std::string strName;
    DWORD dwError = m_facility.DoFindService(lpServiceName, &strName);
    if (dwError != ERROR_SUCCESS) return dwError;
    SYSTEMD_HANDLE* pHandle = new SYSTEMD_HANDLE;
    pHandle->strName = strName;
    *phService = pHandle;
    return ERROR_SUCCESS;
  }
  DWORD Install(SC_HANDLE hManager, const char* /*lpServiceName*/, const SERVICE_CONFIG& /*config*/,
                SC_HANDLE* /*phService*/) override {
    return IsManager(hManager) ? ERROR_NOT_SUPPORTED : ERROR_INVALID_HANDLE;
  }
  DWORD Delete(SC_HANDLE hService) override {
    return ServiceOf(hService) != nullptr ? ERROR_NOT_SUPPORTED : ERROR_INVALID_HANDLE;
  }
  DWORD GetName(SC_HANDLE hService, std::string* pstrName) override {
    const SYSTEMD_HANDLE* pHandle = ServiceOf(hService);
    if (pHandle == nullptr) return ERROR_INVALID_HANDLE;
    *pstrName = pHandle->strName;
    return ERROR_SUCCESS;
  }
  DWORD QueryConfiguration(SC_HANDLE hService, SERVICE_CONFIG* pConfig) override {
    const SYSTEMD_HANDLE* pHandle = ServiceOf(hService);
    return pHandle == nullptr ? ERROR_INVALID_HANDLE : m_facility.DoQueryConfiguration(pHandle->strName, pConfig);
  }
  DWORD ChangeConfiguration(SC_HANDLE hService, const SERVICE_CONFIG& /*config*/) override {
    return ServiceOf(hService) != nullptr ? ERROR_NOT_SUPPORTED : ERROR_INVALID_HANDLE;
  }
  DWORD QueryStatus(SC_HANDLE hService, SERVICE_STATUS* pStatus) override {
    const SYSTEMD_HANDLE* pHandle = ServiceOf(hService);
    return pHandle == nullptr ? ERROR_INVALID_HANDLE : m_facility.DoQueryStatus(pHandle->strName, pStatus);
  }
  DWORD Start(SC_HANDLE hService) override {
    const SYSTEMD_HANDLE* pHandle = ServiceOf(hService);
    return pHandle == nullptr ? ERROR_INVALID_HANDLE : m_facility.DoStartService(pHandle->strName);
  }
  DWORD Control(SC_HANDLE hService, DWORD dwControl, SERVICE_STATUS* pStatus) override {
    const SYSTEMD_HANDLE* pHandle = ServiceOf(hService);
    if (pHandle == nullptr) return ERROR_INVALID_HANDLE;
    SERVICE_STATUS status = {};
    DWORD dwError = m_facility.DoControlService(pHandle->strName, dwControl, &status);
    if (pStatus != nullptr) *pStatus = status;
    return dwError;
  }
  DWORD Enumerate(SC_HANDLE hManager, std::vector<SERVICE_LIST_ENTRY>* pServices) override {
    return IsManager(hManager) ? m_facility.DoEnumerateServices(pServices) : ERROR_INVALID_HANDLE;
  }
  DWORD RunDispatcher(const SERVICE_DISPATCH_ENTRY* /*lpTable*/) override {
    return ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
  }
  DWORD RegisterHandler(const char* /*lpServiceName*/, SERVICE_HANDLER_PROC /*lpHandler*/,
                        SERVICE_STATUS_HANDLE* /*phStatus*/) override {
    return ERROR_SERVICE_DOES_NOT_EXIST;
  }
  DWORD SetStatus(SERVICE_STATUS_HANDLE /*hStatus*/, const SERVICE_STATUS* /*pStatus*/) override {
    return ERROR_INVALID_HANDLE;
  }

 private:
  static bool IsManager(SC_HANDLE hHandle) {
    const SYSTEMD_HANDLE* pHandle = dynamic_cast<const SYSTEMD_HANDLE*>(hHandle);
    return pHandle != nullptr && pHandle->bManager;
  }
  static const SYSTEMD_HANDLE* ServiceOf(SC_HANDLE hHandle) {
    const SYSTEMD_HANDLE* pHandle = dynamic_cast<const SYSTEMD_HANDLE*>(hHandle);
    return pHandle != nullptr && !pHandle->bManager ? pHandle : nullptr;
  }
};

// ---- Power ----

class CLogindPowerBackend : public CPowerBackend, private CBusFacility<CLogindPower> {
 public:
  DWORD Request(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed, BOOL bRebootAfterShutdown) override {
    DWORD dwError = EnsureConnected();
    if (dwError != ERROR_SUCCESS) return dwError;
    return m_facility.DoRequestShutdown(lpMessage, dwTimeout, bForceAppsClosed, bRebootAfterShutdown);
  }
  DWORD Cancel() override {
    DWORD dwError = EnsureConnected();
    return dwError != ERROR_SUCCESS ? dwError : m_facility.DoCancelShutdown();
  }
  DWORD QueryPending(SHUTDOWN_REQUEST* pRequest) override {
    DWORD dwError = EnsureConnected();
    return dwError != ERROR_SUCCESS ? dwError : m_facility.DoQueryPendingShutdown(pRequest);
  }
};

}  // namespace

std::unique_ptr<CEventLogBackend> CreateJournalEventLogBackend(CEventLogBackend& sourceRegistrations) {
  return std::unique_ptr<CEventLogBackend>(new CJournalEventLogBackend(sourceRegistrations));
}

std::unique_ptr<CServiceBackend> CreateSystemdServiceBackend() {
  return std::unique_ptr<CServiceBackend>(new CSystemdServiceBackend);
}

std::unique_ptr<CPowerBackend> CreateLogindPowerBackend() {
  return std::unique_ptr<CPowerBackend>(new CLogindPowerBackend);
}

}  // namespace native
}  // namespace kx
