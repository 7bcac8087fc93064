#include <cstdio>
#include <cstring>
#include <vector>

#include "KxAgentLog.h"
#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/Writer.h"
#include "commands/HandlerSupport.h"
#include "commands/SystemCommands.h"
#include "platform/error_codes.h"
#include "AgentContext.h"
#include "platform/service_wait.h"
#include "platform/sync.h"

namespace {

const DWORD kServiceWaitLimit = 30000;
const std::size_t kNameColumn = 61;


void WriteStateLine(CWriter& writer, const char* lpFormat, DWORD dwValue) {
  char szLine[200];
  std::snprintf(szLine, sizeof(szLine), lpFormat, static_cast<long>(dwValue));
  writer.WriteLine(szLine);
}

}  // namespace

const char* GetServiceStateName(DWORD dwState) {
  switch (dwState) {
    case SERVICE_STOPPED: return "Stopped";
    case SERVICE_START_PENDING: return "Starting";
    case SERVICE_STOP_PENDING: return "Stopping";
    case SERVICE_RUNNING: return "Running";
    case SERVICE_CONTINUE_PENDING: return "Continue";
    case SERVICE_PAUSE_PENDING: return "Pausing";
    case SERVICE_PAUSED: return "Paused";
    default: return "*Unknown";
  }
}

const char* GetServiceStartTypeName(DWORD dwStartType) {
  switch (dwStartType) {
    case SERVICE_AUTO_START: return "Auto";
    case SERVICE_DEMAND_START: return "Manual";
    case SERVICE_DISABLED: return "Disabled";
    default: return "*Unknown";
  }
}

std::string FormatServiceOpenError(DWORD dwError, BOOL bStart) {
  switch (dwError) {
    case ERROR_SERVICE_DOES_NOT_EXIST: return "[ERROR] ERROR_SERVICE_DOES_NOT_EXIST";
    case ERROR_INVALID_NAME: return "[ERROR] ERROR_INVALID_NAME";
    case ERROR_ACCESS_DENIED: return "[ERROR] ERROR_ACCESS_DENIED";
    case ERROR_INVALID_HANDLE: return "[ERROR] ERROR_INVALID_HANDLE";
    default: break;
  }
  char szLine[100];
  if (bStart) {
    std::snprintf(szLine, sizeof(szLine), "[ERROR] Unknown Error. (ErrCode=%ld)", static_cast<long>(dwError));
  } else {
    std::snprintf(szLine, sizeof(szLine), "[ERROR] Unknown Error. (ErrCode=0x%08x)",
                  static_cast<unsigned>(dwError));
  }
  return szLine;
}

int ShowServices(CWriter& writer, const char* lpOption) {
  kx::SC_HANDLE hManager = nullptr;
  kx::OpenServiceManager(&hManager);  // a failed open shows as the enumeration's error
  std::vector<kx::SERVICE_LIST_ENTRY> services;
  if (kx::EnumerateServices(hManager, &services) != ERROR_SUCCESS) {
    writer.WriteLine("[ERROR] EnumServicesStatus Error!!");
    kx::CloseServiceHandle(hManager);
    return 0;
  }
  writer.WriteLine("Service Name                                                  Status   Startup ");
  writer.WriteLine("------------------------------------------------------------- -------- --------");
  bool bFull = std::strcmp(lpOption ? lpOption : "", "full") == 0;
  for (const kx::SERVICE_LIST_ENTRY& service : services) {
    std::string strName = MaskControlCharacters(
        bFull ? service.strDisplayName + " (" + service.strServiceName + ")" : service.strServiceName);
    const char* lpStartType = "*Unknown";
    kx::SC_HANDLE hService = nullptr;
    kx::SERVICE_CONFIG config;
    if (kx::OpenServiceByName(hManager, service.strServiceName.c_str(), &hService) == ERROR_SUCCESS &&
        kx::QueryServiceConfiguration(hService, &config) == ERROR_SUCCESS) {
      lpStartType = GetServiceStartTypeName(config.dwStartType);
    }
    kx::CloseServiceHandle(hService);
    char szLine[200];
    std::snprintf(szLine, sizeof(szLine), "%-61s %-8s %-8s", CutCp932(strName, kNameColumn).c_str(),
                  GetServiceStateName(service.status.dwCurrentState), lpStartType);
    writer.WriteLine(szLine);
  }
  kx::CloseServiceHandle(hManager);
  return 1;
}

int ChangeServiceState(CWriter& writer, const char* lpServiceName, BOOL bStart, DWORD dwLimit,
                       kx::CClock& clock) {
  kx::SC_HANDLE hManager = nullptr;
  kx::OpenServiceManager(&hManager);  // without a manager the service open fails with ERROR_INVALID_HANDLE
  kx::SC_HANDLE hService = nullptr;
  DWORD dwError = kx::OpenServiceByName(hManager, lpServiceName, &hService);
  if (dwError != ERROR_SUCCESS) {
    writer.WriteLine(FormatServiceOpenError(dwError, bStart).c_str());
    kx::CloseServiceHandle(hManager);
    return 0;
  }
  kx::SERVICE_CONFIG config;
  if (kx::QueryServiceConfiguration(hService, &config) != ERROR_SUCCESS) config.strDisplayName.clear();
  kx::SERVICE_STATUS status;
  std::memset(&status, 0, sizeof(status));
  kx::QueryServiceStatus(hService, &status);

  DWORD dwWanted = bStart ? SERVICE_RUNNING : SERVICE_STOPPED;
  bool bAsk = true;
  if (bStart && status.dwCurrentState != SERVICE_STOPPED) {
    WriteStateLine(writer, "[ERROR] Since service had not stopped, it has not started. (CURRENT_STATE=%ld)",
                   status.dwCurrentState);
    bAsk = false;
  } else if (!bStart && status.dwCurrentState == SERVICE_STOPPED) {
    writer.WriteLine("[ERROR] Service is already stopped.");
    bAsk = false;
  }
  if (bAsk) {
    char szLine[400];
    // Written before the request so the user sees it during the wait.
    std::snprintf(szLine, sizeof(szLine), bStart ? "Service '%s' starting..." : "Service '%s' stopping...",
                  MaskControlCharacters(config.strDisplayName).c_str());
    writer.WriteLine(szLine);
    // A refused request is left to the wait, which then runs out.
    if (bStart) {
      kx::StartInstalledService(hService);
    } else {
      kx::ControlService(hService, SERVICE_CONTROL_STOP, &status);
    }
    DWORD dwWaitError = ERROR_SUCCESS;
    if (!kx::WaitForServiceState(hService, dwWanted, &status, dwLimit, &dwWaitError, nullptr, nullptr, &clock)) {
      if (dwWaitError == ERROR_TIMEOUT) {
        writer.WriteLine("[ERROR] Timeout...");
      } else {
        WriteStateLine(writer, "[ERROR] Unknown Error! (ERRCODE=%ld)", dwWaitError);
      }
    } else if (status.dwCurrentState == dwWanted) {
      writer.WriteLine(bStart ? "Service was started." : "Service was stopped.");
    } else {
      WriteStateLine(
          writer,
          bStart ? "[ERROR] Since the error occurred, service has not been started. (CURRENT_STATE=%ld)"
                 : "[ERROR] Since the error occurred, service has not been stopped. (CURRENT_STATE=%ld)",
          status.dwCurrentState);
    }
  }
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
  return 1;
}

int CmdShowService(CAgentContext& /*context*/, CWriter& writer, CKxAgentCommandArgument& argument) {
  const char* lpOption = ArgumentText(argument, "NAME_DISPLAY_OPTION");
  CKxAgentLog::LogInfo(kCommandExecute, "show service %s", lpOption);
  return ShowServices(writer, lpOption);
}

int CmdStartService(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument) {
  const char* lpName = ArgumentText(argument, "SERVICE_NAME");
  CKxAgentLog::LogInfo(kCommandExecute, "start service %s", lpName);
  return ChangeServiceState(writer, lpName, TRUE, kServiceWaitLimit, context.GetClock());
}

int CmdStopService(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument) {
  const char* lpName = ArgumentText(argument, "SERVICE_NAME");
  CKxAgentLog::LogInfo(kCommandExecute, "stop service %s", lpName);
  return ChangeServiceState(writer, lpName, FALSE, kServiceWaitLimit, context.GetClock());
}
