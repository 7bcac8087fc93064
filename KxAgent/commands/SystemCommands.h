// The built-in commands that inspect and control the system: show process and
// kill, show service / start service / stop service, show diskinfo. Each Cmd*
// handler is a thin wrapper (log entry, agent settings) around an inner routine
// that takes what it depends on as parameters, so tests can run it without an
// agent.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "platform/clock.h"
#include "platform/kx_types.h"
#include "platform/processes.h"
#include "platform/services.h"

class CAgentContext;
class CWriter;
class CKxAgentCommandArgument;

// ---- Processes ----

// One process as show process lists it.
struct ProcessInfo {
  DWORD dwProcessId;
  char szName[260];
  DWORD dwProcessTime;                 // kernel + user, milliseconds
  int nCPUPercent;                     // 0 when no sample was taken or the process was not in it
  DWORD dwThreads;                     // 0 when the process could not be opened
  kx::PROCESS_MEMORY_COUNTERS memory;  // all zero when it could not be read
};

// Called once per process; return 0 to stop the walk.
typedef int (*ProcessCallback)(const ProcessInfo& info, void* lpContext);

// Walks the process table, optionally after sampling every process's processor
// share. One walk at a time per object; runs on the calling thread.
class CProcessList {
 public:
  // The processor-share sample waits on `clock`, which outlives the list.
  explicit CProcessList(kx::CClock& clock = kx::GetSystemClock());
  // Non-zero: EnumerateProcesses first samples the processor share.
  void SetCPUMonitoring(int nCPUMonitoring);
  // The length of the processor-share sample (1000 ms unless changed).
  void SetSampleInterval(DWORD dwMilliseconds);
  // Calls `lpCallback` for each process in table order until it returns 0.
  // 1 when the walk ran, 0 when the process table could not be read.
  int EnumerateProcesses(ProcessCallback lpCallback, void* lpContext);
  // The share of the last sample for a process, 0 when it was not in it.
  int GetCPUPercent(DWORD dwProcessId) const;

 private:
  // Two collections of every process's processor time, the interval apart.
  void SampleCpuUsage();

  kx::CClock& m_clock;
  int m_nCPUMonitoring;
  DWORD m_dwSampleInterval;
  std::unordered_map<DWORD, int> m_cpuMap;
};

// Splits a processor time in milliseconds into hours, minutes and seconds.
void SplitProcessTime(DWORD dwMilliseconds, DWORD* pdwHours, DWORD* pdwMinutes, DWORD* pdwSeconds);
// The show process row of one record (without a line end).
std::string FormatProcessLine(const ProcessInfo& info);
// Callback for CProcessList: writes FormatProcessLine to the CWriter in
// `lpContext`; always 1.
int PrintProcessLine(const ProcessInfo& info, void* lpContext);
// show process without the log entry: the header and one row per process. The
// processor-share sample, when monitoring is on, lasts dwSampleInterval on `clock`.
int ShowProcesses(CWriter& writer, int nCPUMonitoring, DWORD dwSampleInterval,
                  kx::CClock& clock = kx::GetSystemClock());
// Ends process `lpProcessId` (text, base 10) and reports it; always 1.
int KillProcess(CWriter& writer, const char* lpProcessId);

// Built-in 12 "show process" and 13 "kill {PID}".
int CmdShowProcess(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
int CmdKill(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);

// ---- Services ----

// "Stopped", "Starting", ... "*Unknown" for a state code.
const char* GetServiceStateName(DWORD dwState);
// "Auto", "Manual", "Disabled", "*Unknown" for a start type.
const char* GetServiceStartTypeName(DWORD dwStartType);
// The line start service (bStart) or stop service writes when the service
// cannot be opened with `dwError`.
std::string FormatServiceOpenError(DWORD dwError, BOOL bStart);
// show service without the log entry. 0 when the services cannot be enumerated.
int ShowServices(CWriter& writer, const char* lpOption);
// start service (bStart) or stop service without the log entry, waiting at
// most `dwLimit` ms of `clock` for the new state. 0 when the service could not
// be opened.
int ChangeServiceState(CWriter& writer, const char* lpServiceName, BOOL bStart, DWORD dwLimit,
                       kx::CClock& clock = kx::GetSystemClock());

// Built-in 14 "show service [NAME_DISPLAY_OPTION:full]", 15 "start service
// {SERVICE_NAME}", 16 "stop service {SERVICE_NAME}". The last two wait up to 30 s.
int CmdShowService(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
int CmdStartService(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
int CmdStopService(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);

// ---- Disks ----

// The drive queries show diskinfo makes; the default forwards to the system,
// tests supply fixed volumes. Texts are code page 932.
class CVolumeQuery {
 public:
  virtual ~CVolumeQuery() {}
  // GetLogicalDriveStrings semantics: roots NUL-separated, list ended by an
  // empty string; the length written, or the size needed when it does not fit.
  virtual DWORD GetLogicalDriveStrings(DWORD dwBufferLength, char* lpBuffer);
  virtual DWORD GetDriveType(const char* lpRoot);
  // TRUE when the file-system name was read.
  virtual BOOL GetFileSystemName(const char* lpRoot, char* lpName, DWORD dwSize);
  // TRUE when the sizes were read.
  virtual BOOL GetDiskFreeSpaceEx(const char* lpRoot, std::uint64_t* pqwFreeToCaller, std::uint64_t* pqwTotal,
                                  std::uint64_t* pqwFree);
  virtual BOOL GetDisplayName(const char* lpRoot, char* lpName, DWORD dwSize);
};

// Receives each debug trace line of show diskinfo.
typedef std::function<void(const char* lpText)> DiskTraceSink;

// Upper-cases the ASCII letters of a code page 932 text, leaving the second
// byte of each double-byte character alone.
std::string UpperCaseCp932(const char* lpText);
// The drive column of a root: the root without its trailing separator
// ("C:\" -> "C:", "/home/" -> "/home"), a lone separator ("/") kept as it is.
std::string GetDriveColumn(const char* lpRoot);
// One show diskinfo row: sizes in MB (bytes >> 20), used = total - free,
// percentages truncated and 0 for an empty volume.
std::string FormatDiskInfoLine(const char* lpRoot, const char* lpDisplayName, const char* lpFileSystem,
                               std::uint64_t qwTotal, std::uint64_t qwFree);
// show diskinfo without the log entry. 0 for an option other than hdd or all.
int ShowDiskInfo(CWriter& writer, const char* lpOption, CVolumeQuery& volumes, const DiskTraceSink& trace);

// Built-in 9 "show diskinfo [OPTION:hdd]".
int CmdShowDiskInfo(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
