// Services: the service control manager (enumerate, open by name, read and
// change the configuration, query the status, start, send the stop control,
// install and delete) and the service side that a service program uses to run
// under it (dispatcher, control handler, status reports).
//
// On this platform the manager is emulated in <system root>/services: one
// configuration file and one status file per service, changed under a lock
// file and replaced by atomic renames, so any number of processes may use it at
// once. Starting a service runs its command line as a real process of its own
// session; its state follows that process. A service of type
// SERVICE_WIN32_OWN_PROCESS is a service program: it reports its own state
// through the service side below and is start pending until it reports. A
// service of type KX_SERVICE_COMMAND is a plain program: running while its
// process lives. Dependencies are recorded and shown, not enforced; the start
// type is recorded and enforced for "disabled", but nothing starts automatic
// services at boot. A service runs as the user who started it.
#pragma once

#include <string>
#include <vector>

#include "platform/kx_types.h"

#ifndef SERVICE_WIN32_OWN_PROCESS
#define SERVICE_WIN32_OWN_PROCESS 0x00000010
#define SERVICE_WIN32_SHARE_PROCESS 0x00000020
#define SERVICE_WIN32 0x00000030

#define SERVICE_AUTO_START 0x00000002
#define SERVICE_DEMAND_START 0x00000003
#define SERVICE_DISABLED 0x00000004

#define SERVICE_STOPPED 0x00000001
#define SERVICE_START_PENDING 0x00000002
#define SERVICE_STOP_PENDING 0x00000003
#define SERVICE_RUNNING 0x00000004
#define SERVICE_CONTINUE_PENDING 0x00000005
#define SERVICE_PAUSE_PENDING 0x00000006
#define SERVICE_PAUSED 0x00000007

#define SERVICE_CONTROL_STOP 0x00000001
#define SERVICE_CONTROL_PAUSE 0x00000002
#define SERVICE_CONTROL_CONTINUE 0x00000003
#define SERVICE_CONTROL_INTERROGATE 0x00000004
#define SERVICE_CONTROL_SHUTDOWN 0x00000005

#define SERVICE_ACCEPT_STOP 0x00000001
#define SERVICE_ACCEPT_SHUTDOWN 0x00000004

#define SERVICE_ERROR_NORMAL 0x00000001
#endif

// The exit code of a service that reports its own code in
// dwServiceSpecificExitCode.
#ifndef ERROR_SERVICE_SPECIFIC_ERROR
#define ERROR_SERVICE_SPECIFIC_ERROR 1066L
#endif

// This platform's own service type: a plain program that reports nothing.
#define KX_SERVICE_COMMAND 0x00010000

namespace kx {

// The status of a service, field for field as Windows' SERVICE_STATUS.
struct SERVICE_STATUS {
  DWORD dwServiceType;
  DWORD dwCurrentState;      // SERVICE_STOPPED ... SERVICE_PAUSED
  DWORD dwControlsAccepted;  // SERVICE_ACCEPT_* bits
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
};

// The configuration of a service. Texts are code page 932.
struct SERVICE_CONFIG {
  DWORD dwServiceType = SERVICE_WIN32_OWN_PROCESS;  // or KX_SERVICE_COMMAND
  DWORD dwStartType = SERVICE_DEMAND_START;         // or SERVICE_AUTO_START, SERVICE_DISABLED
  DWORD dwErrorControl = SERVICE_ERROR_NORMAL;
  std::string strBinaryPathName;  // the command line the service runs
  std::vector<std::string> dependencies;
  std::string strServiceStartName;  // account; empty: LocalSystem
  std::string strDisplayName;
};

// One service of an enumeration.
struct SERVICE_LIST_ENTRY {
  std::string strServiceName;
  std::string strDisplayName;
  SERVICE_STATUS status;
};

// An open manager or service; null means none.
typedef struct CServiceHandleData* SC_HANDLE;

// The largest service and display names, in bytes.
const DWORD kMaxServiceName = 256;

// Opens the service manager of this machine, creating its state directory when
// missing. ERROR_SUCCESS, or ERROR_ACCESS_DENIED and the like when the state
// directory cannot be made or read.
DWORD OpenServiceManager(SC_HANDLE* phManager);
// Opens the service named `lpServiceName` (compared case-insensitively).
// ERROR_INVALID_HANDLE when `hManager` is not an open manager,
// ERROR_INVALID_NAME (123) when the name cannot be a service name,
// ERROR_SERVICE_DOES_NOT_EXIST (1060) when no such service is installed.
DWORD OpenServiceByName(SC_HANDLE hManager, const char* lpServiceName, SC_HANDLE* phService);
// Installs a service and opens it. A display name left empty becomes the service
// name. ERROR_SERVICE_EXISTS (1073), ERROR_SERVICE_MARKED_FOR_DELETE (1072),
// ERROR_INVALID_NAME, or ERROR_INVALID_PARAMETER for a bad type, start type or
// a text with a line break in it.
DWORD InstallService(SC_HANDLE hManager, const char* lpServiceName, const SERVICE_CONFIG& config,
                    SC_HANDLE* phService);
// Removes a service: at once when it is stopped, else when its process ends
// (until then it is marked for delete and cannot be started).
DWORD DeleteService(SC_HANDLE hService);
// Closes a manager or service handle; null is ignored.
void CloseServiceHandle(SC_HANDLE hHandle);

// The service's name as it was installed.
DWORD GetServiceName(SC_HANDLE hService, std::string* pstrName);
DWORD QueryServiceConfiguration(SC_HANDLE hService, SERVICE_CONFIG* pConfig);
// Replaces the configuration; validated as InstallService validates it.
DWORD ChangeServiceConfiguration(SC_HANDLE hService, const SERVICE_CONFIG& config);
// The current status, derived from the live process behind the service.
DWORD QueryServiceStatus(SC_HANDLE hService, SERVICE_STATUS* pStatus);
// Starts the service's command line as a detached process and returns once the
// program is running (its image loaded). ERROR_SERVICE_ALREADY_RUNNING (1056)
// unless it is stopped, ERROR_SERVICE_DISABLED (1058),
// ERROR_SERVICE_MARKED_FOR_DELETE, or ERROR_FILE_NOT_FOUND and the like when
// the program cannot be run.
DWORD StartInstalledService(SC_HANDLE hService);
// Sends a control. SERVICE_CONTROL_STOP asks the process to end (SIGTERM) and
// makes it stop pending until it has gone. ERROR_SERVICE_NOT_ACTIVE (1062) when
// stopped, ERROR_SERVICE_CANNOT_ACCEPT_CTRL (1061) while pending,
// ERROR_INVALID_SERVICE_CONTROL (1052) when the service does not accept it.
// `pStatus` gets the status after the control.
DWORD ControlService(SC_HANDLE hService, DWORD dwControl, SERVICE_STATUS* pStatus);
// Every installed service with its status, in name order.
DWORD EnumerateServices(SC_HANDLE hManager, std::vector<SERVICE_LIST_ENTRY>* pServices);

// ---- Service side: what a service program calls when the manager runs it. ----

typedef void (*SERVICE_MAIN_PROC)(DWORD dwArgc, char** lpArgv);
typedef void (*SERVICE_HANDLER_PROC)(DWORD dwControl);
typedef struct CServiceStatusData* SERVICE_STATUS_HANDLE;

struct SERVICE_DISPATCH_ENTRY {
  const char* lpServiceName;
  SERVICE_MAIN_PROC lpServiceProc;
};

// Connects the calling process to the manager and runs the service: calls the
// main function of the table's first entry on a new thread, delivers the stop
// control to its handler on the calling thread, and returns when the main
// function has returned. The manager's stop request arrives as SIGTERM, so this
// takes over SIGTERM for the process. ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
// (1063) when the process was not started by the manager as that service (run
// from a console, for example).
DWORD RunServiceDispatcher(const SERVICE_DISPATCH_ENTRY* lpTable);
// Registers the handler that receives controls for the running service.
// ERROR_SERVICE_DOES_NOT_EXIST when the process is not running as that service.
DWORD RegisterServiceHandler(const char* lpServiceName, SERVICE_HANDLER_PROC lpHandler,
                                 SERVICE_STATUS_HANDLE* phStatus);
// Reports the service's state to the manager, where queries read it.
DWORD SetServiceStatus(SERVICE_STATUS_HANDLE hStatus, const SERVICE_STATUS* pStatus);

}  // namespace kx
