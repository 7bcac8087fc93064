// sc: installs, removes, starts, stops and queries services of this machine's
// service control manager, with the command syntax operators know:
//   sc create NAME binPath= "COMMAND LINE" [type= own|command] [start= auto|demand|disabled]
//             [DisplayName= "TEXT"] [depend= NAME/NAME...]
//   sc config NAME [the options of create]
//   sc delete NAME | sc start NAME | sc stop NAME | sc qc NAME | sc query [NAME]
// Options are "name= value" (the value may also follow the '=' directly).
// Exit code: 0, 1 for a usage error, 2 when a call failed (its Windows error
// code is printed).
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ScOptions.h"
#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "platform/services.h"
#include "platform/text_encoding.h"

namespace {

const int kUsageError = 1;
const int kCallFailed = 2;

void PrintUsage() {
  std::fputs(
      "DESCRIPTION:\n"
      "        SC is a command line program used for communicating with the\n"
      "        Service Control Manager and services.\n"
      "USAGE:\n"
      "        sc <command> [service name] <option1> <option2>...\n"
      "\n"
      "        Commands:\n"
      "          query-----------Queries the status of one service, or of every service.\n"
      "          qc--------------Queries the configuration of a service.\n"
      "          start-----------Starts a service.\n"
      "          stop------------Sends a STOP request to a service.\n"
      "          config----------Changes the configuration of a service.\n"
      "          create----------Creates a service.\n"
      "          delete----------Deletes a service.\n"
      "\n"
      "        Options of create and config (a space follows each equal sign):\n"
      "          binPath= <command line>      the program and its arguments\n"
      "          type= <own|command>          own: a service program that reports its status;\n"
      "                                       command (default): a plain program, running\n"
      "                                       while its process lives\n"
      "          start= <auto|demand|disabled>  (default = demand)\n"
      "          DisplayName= <display name>\n"
      "          depend= <dependencies (separated by / (forward slash))>\n",
      stderr);
}

int UsageError(const char* lpMessage) {
  std::fprintf(stderr, "[SC] %s\n\n", lpMessage);
  PrintUsage();
  return kUsageError;
}

int Failed(const char* lpCall, DWORD dwError) {
  std::printf("[SC] %s FAILED %lu:\n\n%s\n\n", lpCall, static_cast<unsigned long>(dwError),
              kx::FormatSystemMessage(dwError).c_str());
  return kCallFailed;
}

std::string ToTerminal(const std::string& strCp932) { return kx::Cp932ToUtf8(strCp932); }

const char* StateText(DWORD dwState) {
  switch (dwState) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
    default: return "UNKNOWN";
  }
}

const char* TypeText(DWORD dwType) { return dwType == KX_SERVICE_COMMAND ? "COMMAND" : "WIN32_OWN_PROCESS"; }

const char* StartTypeText(DWORD dwStartType) {
  switch (dwStartType) {
    case SERVICE_AUTO_START: return "AUTO_START";
    case SERVICE_DEMAND_START: return "DEMAND_START";
    case SERVICE_DISABLED: return "DISABLED";
    default: return "UNKNOWN";
  }
}

void PrintStatus(const std::string& strName, const std::string& strDisplayName,
                 const kx::SERVICE_STATUS& status, bool bWithDisplayName) {
  std::printf("\nSERVICE_NAME: %s\n", ToTerminal(strName).c_str());
  if (bWithDisplayName) std::printf("DISPLAY_NAME: %s\n", ToTerminal(strDisplayName).c_str());
  std::printf("        TYPE               : %lx  %s\n", static_cast<unsigned long>(status.dwServiceType),
              TypeText(status.dwServiceType));
  std::printf("        STATE              : %lu  %s\n", static_cast<unsigned long>(status.dwCurrentState),
              StateText(status.dwCurrentState));
  std::printf("                                (%s)\n",
              (status.dwControlsAccepted & SERVICE_ACCEPT_STOP) ? "STOPPABLE" : "NOT_STOPPABLE");
  std::printf("        WIN32_EXIT_CODE    : %lu  (0x%lx)\n",
              static_cast<unsigned long>(status.dwWin32ExitCode),
              static_cast<unsigned long>(status.dwWin32ExitCode));
  std::printf("        CHECKPOINT         : 0x%lx\n", static_cast<unsigned long>(status.dwCheckPoint));
  std::printf("        WAIT_HINT          : 0x%lx\n", static_cast<unsigned long>(status.dwWaitHint));
}

// Opens the manager and the named service; on failure prints and returns the error.
int OpenNamed(const char* lpName, kx::SC_HANDLE* phManager, kx::SC_HANDLE* phService) {
  *phService = nullptr;
  DWORD dwError = kx::OpenServiceManager(phManager);
  if (dwError != ERROR_SUCCESS) return Failed("OpenSCManager", dwError);
  dwError = kx::OpenServiceByName(*phManager, kx::Utf8ToCp932(lpName).c_str(), phService);
  if (dwError != ERROR_SUCCESS) {
    kx::CloseServiceHandle(*phManager);
    *phManager = nullptr;
    return Failed("OpenService", dwError);
  }
  return 0;
}

int QueryOne(const char* lpName) {
  kx::SC_HANDLE hManager, hService;
  if (int nResult = OpenNamed(lpName, &hManager, &hService)) return nResult;
  kx::SERVICE_STATUS status;
  std::string strName;
  DWORD dwError = kx::QueryServiceStatus(hService, &status);
  if (dwError == ERROR_SUCCESS) dwError = kx::GetServiceName(hService, &strName);
  int nResult = 0;
  if (dwError != ERROR_SUCCESS) {
    nResult = Failed("QueryServiceStatus", dwError);
  } else {
    PrintStatus(strName, std::string(), status, false);
  }
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
  return nResult;
}

int QueryAll() {
  kx::SC_HANDLE hManager;
  DWORD dwError = kx::OpenServiceManager(&hManager);
  if (dwError != ERROR_SUCCESS) return Failed("OpenSCManager", dwError);
  std::vector<kx::SERVICE_LIST_ENTRY> services;
  dwError = kx::EnumerateServices(hManager, &services);
  kx::CloseServiceHandle(hManager);
  if (dwError != ERROR_SUCCESS) return Failed("EnumServicesStatus", dwError);
  for (const kx::SERVICE_LIST_ENTRY& service : services) {
    PrintStatus(service.strServiceName, service.strDisplayName, service.status, true);
  }
  return 0;
}

int QueryConfig(const char* lpName) {
  kx::SC_HANDLE hManager, hService;
  if (int nResult = OpenNamed(lpName, &hManager, &hService)) return nResult;
  kx::SERVICE_CONFIG config;
  std::string strName;
  DWORD dwError = kx::QueryServiceConfiguration(hService, &config);
  if (dwError == ERROR_SUCCESS) dwError = kx::GetServiceName(hService, &strName);
  int nResult = 0;
  if (dwError != ERROR_SUCCESS) {
    nResult = Failed("QueryServiceConfig", dwError);
  } else {
    std::string strDependencies;
    for (const std::string& strDependency : config.dependencies) {
      strDependencies += (strDependencies.empty() ? "" : "/") + strDependency;
    }
    std::printf("[SC] QueryServiceConfig SUCCESS\n\n");
    std::printf("SERVICE_NAME: %s\n", ToTerminal(strName).c_str());
    std::printf("        TYPE               : %lx  %s\n", static_cast<unsigned long>(config.dwServiceType),
                TypeText(config.dwServiceType));
    std::printf("        START_TYPE         : %lu   %s\n", static_cast<unsigned long>(config.dwStartType),
                StartTypeText(config.dwStartType));
    std::printf("        BINARY_PATH_NAME   : %s\n", ToTerminal(config.strBinaryPathName).c_str());
    std::printf("        DISPLAY_NAME       : %s\n", ToTerminal(config.strDisplayName).c_str());
    std::printf("        DEPENDENCIES       : %s\n", ToTerminal(strDependencies).c_str());
    std::printf("        SERVICE_START_NAME : %s\n",
                config.strServiceStartName.empty() ? "LocalSystem" : config.strServiceStartName.c_str());
  }
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
  return nResult;
}

int Create(int argc, char** argv) {
  std::map<std::string, std::string> options;
  std::string strError;
  if (!ParseServiceOptions(argc, argv, 3, &options, &strError)) return UsageError(strError.c_str());
  if (options.find("binpath") == options.end()) return UsageError("create needs binPath= <command line>");
  kx::SERVICE_CONFIG config;
  config.dwServiceType = KX_SERVICE_COMMAND;
  config.dwStartType = SERVICE_DEMAND_START;
  config.dwErrorControl = SERVICE_ERROR_NORMAL;
  if (!ApplyServiceOptions(options, &config, &strError)) return UsageError(strError.c_str());
  kx::SC_HANDLE hManager;
  DWORD dwError = kx::OpenServiceManager(&hManager);
  if (dwError != ERROR_SUCCESS) return Failed("OpenSCManager", dwError);
  kx::SC_HANDLE hService = nullptr;
  dwError = kx::InstallService(hManager, kx::Utf8ToCp932(argv[2]).c_str(), config, &hService);
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
  if (dwError != ERROR_SUCCESS) return Failed("CreateService", dwError);
  std::printf("[SC] CreateService SUCCESS\n");
  return 0;
}

int Config(int argc, char** argv) {
  std::map<std::string, std::string> options;
  std::string strError;
  if (!ParseServiceOptions(argc, argv, 3, &options, &strError)) return UsageError(strError.c_str());
  if (options.empty()) return UsageError("config needs at least one option");
  kx::SC_HANDLE hManager, hService;
  if (int nResult = OpenNamed(argv[2], &hManager, &hService)) return nResult;
  kx::SERVICE_CONFIG config;
  DWORD dwError = kx::QueryServiceConfiguration(hService, &config);
  int nResult = 0;
  if (dwError != ERROR_SUCCESS) {
    nResult = Failed("QueryServiceConfig", dwError);
  } else if (!ApplyServiceOptions(options, &config, &strError)) {
    nResult = UsageError(strError.c_str());
  } else if ((dwError = kx::ChangeServiceConfiguration(hService, config)) != ERROR_SUCCESS) {
    nResult = Failed("ChangeServiceConfig", dwError);
  } else {
    std::printf("[SC] ChangeServiceConfig SUCCESS\n");
  }
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
  return nResult;
}

// delete, start and stop: one call on the named service.
int Act(const std::string& strCommand, const char* lpName) {
  kx::SC_HANDLE hManager, hService;
  if (int nResult = OpenNamed(lpName, &hManager, &hService)) return nResult;
  std::string strName;
  kx::GetServiceName(hService, &strName);
  kx::SERVICE_STATUS status;
  std::memset(&status, 0, sizeof(status));
  DWORD dwError;
  const char* lpCall;
  if (strCommand == "delete") {
    lpCall = "DeleteService";
    dwError = kx::DeleteService(hService);
  } else if (strCommand == "start") {
    lpCall = "StartService";
    dwError = kx::StartInstalledService(hService);
    if (dwError == ERROR_SUCCESS) kx::QueryServiceStatus(hService, &status);
  } else {
    lpCall = "ControlService";
    dwError = kx::ControlService(hService, SERVICE_CONTROL_STOP, &status);
  }
  int nResult = 0;
  if (dwError != ERROR_SUCCESS) {
    nResult = Failed(lpCall, dwError);
  } else if (strCommand == "delete") {
    std::printf("[SC] DeleteService SUCCESS\n");
  } else {
    PrintStatus(strName, std::string(), status, false);
  }
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
  return nResult;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return UsageError("No command given.");
  std::string strCommand = LowerAscii(argv[1]);
  if (strCommand == "query") {
    if (argc > 3) return UsageError("query takes at most one service name");
    return argc == 3 ? QueryOne(argv[2]) : QueryAll();
  }
  bool bNamed = strCommand == "create" || strCommand == "config" || strCommand == "delete" ||
                strCommand == "start" || strCommand == "stop" || strCommand == "qc";
  if (!bNamed) return UsageError(("Unknown command: " + std::string(argv[1])).c_str());
  if (argc < 3) return UsageError((strCommand + " needs a service name").c_str());
  if (strCommand == "create") return Create(argc, argv);
  if (strCommand == "config") return Config(argc, argv);
  if (argc > 3) return UsageError((strCommand + " takes only a service name").c_str());
  if (strCommand == "qc") return QueryConfig(argv[2]);
  return Act(strCommand, argv[2]);
}
