#include "ServiceHost.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "KestrixAgent.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentLog.h"
#include "KxProduct.h"
#include "Resources.h"
#include "platform/com_apartment.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/process_control.h"
#include "platform/program_path.h"
#include "platform/registration.h"
#include "platform/serial_port.h"
#include "platform/services.h"
#include "platform/sync.h"
#include "platform/text_compare.h"
#include "platform/text_encoding.h"

namespace {

const char* const kDisplayName = KX_SERVICE_DISPLAY_NAME;
const char* const kAppIdKey = "AppID/{6F2A41C3-95D8-4B7E-A1C4-3E58D07B92AF}";
const char* const kAppIdGuid = "{6F2A41C3-95D8-4B7E-A1C4-3E58D07B92AF}";
const char* const kExeKey = "AppID/KxAgent.EXE";
const char* const kLocalService = "LocalService";
const char* const kDependency = "RPCSS";

const int kSucceeded = 0;
const int kFailed = static_cast<int>(0x80004005);  // E_FAIL

const char* ServiceName() { return LoadResourceString(IDS_SERVICENAME); }

// Host state, one per process.
bool g_bServiceMode = false;
kx::SERVICE_STATUS_HANDLE g_hStatus = nullptr;
// Service mode only: the status the service thread and the control handler's
// thread report.
CServiceStatusReporter* g_pStatus = nullptr;
kx::CEvent g_quit(TRUE, FALSE);
int g_nExitCode = 0;

// A pending state's checkpoint rises every second; the service manager hears
// nothing new after two minutes of a stop that does not finish.
const DWORD kProgressMs = 1000;
const DWORD kProgressLimitMs = 120000;
// The service's own exit code when the COM port could not be opened: the low
// word of the event that says so.
const DWORD kPortNotOpened = 0x103;

// The three service events go to the event log in Japanese, as code page 932.
void LogServiceEvent(WORD wType, const char* lpUtf8Text) {
  CKxAgentLog::__LogEvent(wType, kx::Utf8ToCp932(lpUtf8Text).c_str());
}

// Host diagnostics are informational events with ID 0; outside service mode
// they are printed too.
void LogHostDiagnostic(const char* lpText) {
  kx::HEVENTSOURCE hSource = nullptr;
  if (kx::RegisterEventLogSource(ServiceName(), &hSource) == 0) {
    const char* strings[] = {lpText};
    kx::ReportEventLogEntry(hSource, EVENTLOG_INFORMATION_TYPE, 0, 0, 1, strings);
    kx::DeregisterEventLogSource(hSource);
  }
  if (!g_bServiceMode) std::printf("%s\n", lpText);
}

// Registration failures: on Windows a message box titled with the service name.
void ShowHostError(const char* lpText) { std::fprintf(stderr, "%s: %s\n", ServiceName(), lpText); }

bool IsServiceInstalled() {
  kx::SC_HANDLE hManager = nullptr;
  if (kx::OpenServiceManager(&hManager) != 0) return false;
  kx::SC_HANDLE hService = nullptr;
  bool bInstalled = kx::OpenServiceByName(hManager, ServiceName(), &hService) == 0;
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
  return bInstalled;
}

bool Install() {
  if (IsServiceInstalled()) return true;
  kx::SC_HANDLE hManager = nullptr;
  if (kx::OpenServiceManager(&hManager) != 0) {
    ShowHostError("Could not open Service Manager");
    return false;
  }
  kx::SERVICE_CONFIG config;
  config.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  config.dwStartType = SERVICE_AUTO_START;
  config.dwErrorControl = SERVICE_ERROR_NORMAL;
  config.strBinaryPathName = "\"" + kx::GetProgramPath() + "\"";
  config.dependencies.push_back(kDependency);
  config.strDisplayName = kDisplayName;
  kx::SC_HANDLE hService = nullptr;
  DWORD dwError = kx::InstallService(hManager, ServiceName(), config, &hService);
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
  if (dwError != 0) {
    ShowHostError("Could not start service");
    return false;
  }
  return true;
}

bool Uninstall() {
  if (!IsServiceInstalled()) return true;
  kx::SC_HANDLE hManager = nullptr;
  if (kx::OpenServiceManager(&hManager) != 0) {
    ShowHostError("Could not open Service Manager");
    return false;
  }
  kx::SC_HANDLE hService = nullptr;
  if (kx::OpenServiceByName(hManager, ServiceName(), &hService) != 0) {
    kx::CloseServiceHandle(hManager);
    ShowHostError("Could not open service");
    return false;
  }
  kx::SERVICE_STATUS status;
  DWORD dwStop = kx::ControlService(hService, SERVICE_CONTROL_STOP, &status);
  if (dwStop != 0 && dwStop != ERROR_SERVICE_NOT_ACTIVE) ShowHostError("Could not stop service");
  bool bDeleted = kx::DeleteService(hService) == 0;
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
  if (!bDeleted) ShowHostError("Could not delete service");
  return bDeleted;
}

int RegisterAppId(bool bService) {
  if (!Uninstall()) return kFailed;
  kx::SetRegistrationValue(kAppIdKey, "", ServiceName());
  kx::SetRegistrationValue(kExeKey, "AppID", kAppIdGuid);
  kx::DeleteRegistrationValue(kAppIdKey, kLocalService);
  if (bService) {
    kx::SetRegistrationValue(kAppIdKey, kLocalService, ServiceName());
    if (!Install()) return kFailed;
  }
  return kSucceeded;
}

int UnregisterAppId() {
  bool bUninstalled = Uninstall();
  kx::DeleteRegistrationValue(kAppIdKey, kLocalService);
  kx::DeleteRegistrationKey(kAppIdKey);
  kx::DeleteRegistrationKey(kExeKey);
  return bUninstalled ? kSucceeded : kFailed;
}

// Stops the agent, joins its threads and releases it, then the XML library,
// which must outlive everything the configuration holds.
void DestroyAgent(std::unique_ptr<CKestrixAgent>& pAgent) {
  pAgent->Stop();
  pAgent.reset();
  CKxAgentConfigManager::Terminate();
}

// Blocks until the agent is to stop: the stop control in service mode, a stop
// request in run mode.
void MessageLoop() {
  if (g_bServiceMode) {
    g_quit.Wait(INFINITE);
  } else {
    kx::WaitForStopRequest();
  }
}

void Run() {
  if (!CKxAgentConfigManager::Initialize()) {
    std::fprintf(stderr, "%s: the XML library could not be initialised.\n", ServiceName());
  }
  // Built and destroyed here, on the service thread (the main thread in run mode).
  std::unique_ptr<CKestrixAgent> pAgent(new CKestrixAgent());
  if (pAgent->Start() == 0) {
    LogServiceEvent(EVENTLOG_ERROR_TYPE,
                    "COMポートがオープンできなかったため、Kestrix Agent for Windows "
                    "サービスを開始できませんでした。\r\n");
    if (!g_bServiceMode) {
      DWORD dwPort = pAgent->GetConfigManager()->GetComPort();
      std::fprintf(stderr, "%s: COM%lu (%s) could not be opened.\n", ServiceName(),
                   static_cast<unsigned long>(dwPort),
                   kx::GetComPortPath(kx::GetProgramDirectory(), dwPort).c_str());
    }
    DestroyAgent(pAgent);
    g_nExitCode = 1;
    return;
  }
  if (g_pStatus != nullptr) {
    LogServiceEvent(EVENTLOG_INFORMATION_TYPE, "Kestrix Agent for Windows サービスは開始されました。\r\n");
    g_pStatus->ReportRunning();
  }
  MessageLoop();
  // Joining the agent's threads may wait for a command (a 30 s service wait, a
  // plug-in): the manager sees the stop progress meanwhile.
  if (g_pStatus != nullptr) g_pStatus->ReportStopPending();
  DestroyAgent(pAgent);
}

void Handler(DWORD dwControl) {
  switch (dwControl) {
    case SERVICE_CONTROL_STOP:
      // Not accepted while the start is pending: the manager refuses it then,
      // and a stop that comes anyway ends the service once it has started.
      if (g_pStatus != nullptr && g_pStatus->GetState() == SERVICE_RUNNING) g_pStatus->ReportStopPending();
      g_quit.Set();
      break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
      break;
    case SERVICE_CONTROL_SHUTDOWN:
      // The service thread stops the agent at once, as for a stop control.
      g_quit.Set();
      break;
    default:
      LogHostDiagnostic("Bad service request");
      break;
  }
}

void ServiceMain(DWORD /*dwArgc*/, char** /*lpArgv*/) {
  if (kx::RegisterServiceHandler(ServiceName(), Handler, &g_hStatus) != 0) {
    LogHostDiagnostic("Handler not installed");
    return;
  }
  CServiceStatusReporter status(
      [](const kx::SERVICE_STATUS& report) { kx::SetServiceStatus(g_hStatus, &report); }, kProgressMs,
      kProgressLimitMs);
  g_pStatus = &status;
  status.ReportStartPending();
  {
    kx::CComApartment apartment;
    Run();
  }
  // Written while the process is sure to run: once SERVICE_STOPPED is
  // reported the manager may end it.
  LogServiceEvent(EVENTLOG_INFORMATION_TYPE, "Kestrix Agent for Windows サービスは停止しました。\r\n");
  if (g_nExitCode != 0) {
    // Reported as a failure, so the manager logs it and runs the recovery actions.
    status.ReportStopped(ERROR_SERVICE_SPECIFIC_ERROR, kPortNotOpened);
  } else {
    status.ReportStopped(0, 0);
  }
  g_pStatus = nullptr;
}

bool IsSwitch(const char* lpArgument, const char* lpSwitch) {
  return (lpArgument[0] == '-' || lpArgument[0] == '/') && kx::CompareNoCase(lpArgument + 1, lpSwitch) == 0;
}

}  // namespace

int RunServiceHost(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (IsSwitch(argv[i], "UnregServer")) return UnregisterAppId();
    if (IsSwitch(argv[i], "RegServer")) return RegisterAppId(false);
    if (IsSwitch(argv[i], "Service") || IsSwitch(argv[i], "install")) return RegisterAppId(true);
  }

  // A stop request is taken by the message loop (run mode) or by the service
  // dispatcher.
  kx::IgnoreBrokenPipes();

  std::string strLocalService;
  g_bServiceMode = kx::GetRegistrationValue(kAppIdKey, kLocalService, &strLocalService) == 0;
  if (g_bServiceMode) {
    const kx::SERVICE_DISPATCH_ENTRY table[] = {{ServiceName(), ServiceMain}, {nullptr, nullptr}};
    DWORD dwError = kx::RunServiceDispatcher(table);
    if (dwError != 0) {
      std::fprintf(stderr, "%s: registered as a service; start it through the service manager (error %lu).\n",
                   ServiceName(), static_cast<unsigned long>(dwError));
    }
    kx::ExitProcessNow(static_cast<int>(dwError));
  }

  kx::HoldStopRequests();
  Run();
  // Run has joined the agent's threads and released it; what other parts
  // keep for the whole process (the agent log) is left to the system.
  kx::ExitProcessNow(g_nExitCode);
}

// ---------------------------------------------------------------------------
// CServiceStatusReporter

namespace {

bool IsPending(DWORD dwState) {
  return dwState == SERVICE_START_PENDING || dwState == SERVICE_STOP_PENDING ||
         dwState == SERVICE_CONTINUE_PENDING || dwState == SERVICE_PAUSE_PENDING;
}

}  // namespace

CServiceStatusReporter::CServiceStatusReporter(ReportFunc report, DWORD dwProgressMs, DWORD dwProgressLimitMs)
    : m_report(std::move(report)),
      m_dwProgressMs(dwProgressMs),
      m_dwProgressLimitMs(dwProgressLimitMs),
      m_status{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0},
      m_nPendingGeneration(0) {}

CServiceStatusReporter::~CServiceStatusReporter() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_nPendingGeneration;
    m_status.dwCurrentState = SERVICE_STOPPED;
  }
  StopProgress();
}

void CServiceStatusReporter::ReportStartPending() { ReportPending(SERVICE_START_PENDING); }

void CServiceStatusReporter::ReportRunning() {
  Report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0);
  StopProgress();
}

void CServiceStatusReporter::ReportStopPending() { ReportPending(SERVICE_STOP_PENDING); }

void CServiceStatusReporter::ReportStopped(DWORD dwWin32ExitCode, DWORD dwServiceSpecificExitCode) {
  Report(SERVICE_STOPPED, 0, dwWin32ExitCode, dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? dwServiceSpecificExitCode : 0);
  StopProgress();
}

DWORD CServiceStatusReporter::GetState() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_status.dwCurrentState;
}

void CServiceStatusReporter::ReportPending(DWORD dwState) {
  std::lock_guard<std::mutex> threadLock(m_threadLock);
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_status.dwCurrentState == dwState) return;
    m_status.dwCurrentState = dwState;
    m_status.dwControlsAccepted = 0;
    m_status.dwWin32ExitCode = 0;
    m_status.dwServiceSpecificExitCode = 0;
    m_status.dwCheckPoint = 1;
    m_status.dwWaitHint = 3 * m_dwProgressMs;
    ++m_nPendingGeneration;
    m_report(m_status);
  }
  m_progressWake.notify_all();
  if (!m_progress.joinable()) m_progress = std::thread(&CServiceStatusReporter::ProgressThread, this);
}

void CServiceStatusReporter::Report(DWORD dwState, DWORD dwControls, DWORD dwWin32, DWORD dwSpecific) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_status.dwCurrentState = dwState;
  m_status.dwControlsAccepted = dwControls;
  m_status.dwWin32ExitCode = dwWin32;
  m_status.dwServiceSpecificExitCode = dwSpecific;
  m_status.dwCheckPoint = 0;
  m_status.dwWaitHint = 0;
  ++m_nPendingGeneration;
  m_report(m_status);
}

void CServiceStatusReporter::StopProgress() {
  m_progressWake.notify_all();
  std::lock_guard<std::mutex> threadLock(m_threadLock);
  if (m_progress.joinable()) m_progress.join();
}

void CServiceStatusReporter::ProgressThread() {
  std::unique_lock<std::mutex> lock(m_lock);
  std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
  while (IsPending(m_status.dwCurrentState)) {
    unsigned int nGeneration = m_nPendingGeneration;
    bool bChanged = m_progressWake.wait_for(lock, std::chrono::milliseconds(m_dwProgressMs),
                                            [&] { return nGeneration != m_nPendingGeneration; });
    if (bChanged) {
      since = std::chrono::steady_clock::now();
      continue;
    }
    if (std::chrono::steady_clock::now() - since >= std::chrono::milliseconds(m_dwProgressLimitMs)) {
      m_progressWake.wait(lock, [&] { return nGeneration != m_nPendingGeneration; });
      since = std::chrono::steady_clock::now();
      continue;
    }
    ++m_status.dwCheckPoint;
    m_report(m_status);
  }
}
