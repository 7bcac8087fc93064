#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "AgentContext.h"
#include "KxAgentLog.h"
#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/Writer.h"
#include "SystemErrorText.h"
#include "commands/HandlerSupport.h"
#include "commands/SystemCommands.h"
#include "platform/error_codes.h"

namespace {

const DWORD kDefaultSampleInterval = 1000;
// Snapshot names are copied into a 259-byte limit, terminating NUL included.
const std::size_t kSnapshotNameMax = 258;


}  // namespace

CProcessList::CProcessList(kx::CClock& clock)
    : m_clock(clock), m_nCPUMonitoring(0), m_dwSampleInterval(kDefaultSampleInterval) {}

void CProcessList::SetCPUMonitoring(int nCPUMonitoring) { m_nCPUMonitoring = nCPUMonitoring; }

void CProcessList::SetSampleInterval(DWORD dwMilliseconds) { m_dwSampleInterval = dwMilliseconds; }

int CProcessList::GetCPUPercent(DWORD dwProcessId) const {
  std::unordered_map<DWORD, int>::const_iterator it = m_cpuMap.find(dwProcessId);
  return it == m_cpuMap.end() ? 0 : it->second;
}

// Every process is measured over the same interval in one pass; when the query
// fails the map stays empty and every process shows 0.
void CProcessList::SampleCpuUsage() {
  m_cpuMap.clear();
  kx::CProcessCpuQuery query;
  if (!query.Open()) return;
  if (query.Collect()) {
    m_clock.Sleep(m_dwSampleInterval);
    if (query.Collect()) query.GetAllValues(&m_cpuMap);
  }
  query.Close();
}

int CProcessList::EnumerateProcesses(ProcessCallback lpCallback, void* lpContext) {
  if (m_nCPUMonitoring) SampleCpuUsage();
  std::vector<kx::PROCESSENTRY> entries;
  if (kx::GetProcessSnapshot(&entries) != ERROR_SUCCESS) return 0;
  for (const kx::PROCESSENTRY& entry : entries) {
    ProcessInfo info;
    std::memset(&info, 0, sizeof(info));
    info.dwProcessId = entry.th32ProcessID;
    std::size_t nLength = strnlen(entry.szExeFile, sizeof(entry.szExeFile));
    if (nLength > kSnapshotNameMax) nLength = kSnapshotNameMax;
    std::memcpy(info.szName, entry.szExeFile, nLength);
    info.nCPUPercent = m_nCPUMonitoring ? GetCPUPercent(entry.th32ProcessID) : 0;
    kx::HPROCESS hProcess = nullptr;
    if (kx::OpenProcess(entry.th32ProcessID, &hProcess) == ERROR_SUCCESS) {
      std::uint64_t qwKernelMs = 0, qwUserMs = 0;
      if (kx::GetProcessTimes(hProcess, &qwKernelMs, &qwUserMs) == ERROR_SUCCESS) {
        info.dwProcessTime = static_cast<DWORD>(qwKernelMs + qwUserMs);
      }
      kx::GetProcessMemoryCounters(hProcess, &info.memory);
      info.dwThreads = entry.cntThreads;
      kx::CloseProcess(hProcess);
    }
    if (lpCallback(info, lpContext) == 0) break;
  }
  return 1;
}

void SplitProcessTime(DWORD dwMilliseconds, DWORD* pdwHours, DWORD* pdwMinutes, DWORD* pdwSeconds) {
  DWORD dwSeconds = dwMilliseconds / 1000;
  *pdwHours = dwSeconds / 3600;
  *pdwMinutes = (dwSeconds % 3600) / 60;
  *pdwSeconds = dwSeconds % 60;
}

std::string FormatProcessLine(const ProcessInfo& info) {
  DWORD dwHours = 0, dwMinutes = 0, dwSeconds = 0;
  SplitProcessTime(info.dwProcessTime, &dwHours, &dwMinutes, &dwSeconds);
  char szLine[512];
  std::snprintf(
      szLine, sizeof(szLine), " %5u %-30s    %3d    %5u:%02u:%02u    %8lu    %4u",
      static_cast<unsigned>(info.dwProcessId), info.szName, info.nCPUPercent, static_cast<unsigned>(dwHours),
      static_cast<unsigned>(dwMinutes), static_cast<unsigned>(dwSeconds),
      static_cast<unsigned long>(info.memory.WorkingSetSize >> 10), static_cast<unsigned>(info.dwThreads));
  return MaskControlCharacters(std::string(szLine));
}

int PrintProcessLine(const ProcessInfo& info, void* lpContext) {
  static_cast<CWriter*>(lpContext)->WriteLine(FormatProcessLine(info).c_str());
  return 1;
}

int ShowProcesses(CWriter& writer, int nCPUMonitoring, DWORD dwSampleInterval, kx::CClock& clock) {
  writer.WriteLine("   PID Process Name                   CPU(%) Process Time   Memory(KB)  Threads");
  writer.WriteLine("------ ------------------------------ ------ -------------- ----------- -------");
  CProcessList* pList = new CProcessList(clock);
  pList->SetCPUMonitoring(nCPUMonitoring);
  pList->SetSampleInterval(dwSampleInterval);
  pList->EnumerateProcesses(PrintProcessLine, &writer);
  delete pList;
  return 1;
}

int KillProcess(CWriter& writer, const char* lpProcessId) {
  // strtoul semantics: "abc" reads as 0, which no process has.
  unsigned long nValue = std::strtoul(lpProcessId ? lpProcessId : "", nullptr, 10);
  DWORD dwProcessId = nValue > 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<DWORD>(nValue);
  kx::HPROCESS hProcess = nullptr;
  DWORD dwError = kx::OpenProcess(dwProcessId, &hProcess);
  if (dwError != ERROR_SUCCESS) {
    writer.WriteLine(GetSystemErrorText(dwError).c_str());
    return 1;
  }
  char szName[260];
  std::memset(szName, 0, sizeof(szName));
  kx::GetProcessImageName(hProcess, szName, sizeof(szName));  // the name stays empty when unreadable
  MaskControlCharacters(szName);
  dwError = kx::TerminateProcess(hProcess, 255);
  if (dwError == ERROR_SUCCESS) {
    char szLine[400];
    std::snprintf(szLine, sizeof(szLine), "Process (%ld) '%s' terminated.", static_cast<long>(dwProcessId),
                  szName);
    writer.WriteLine(szLine);
  } else {
    writer.WriteLine(GetSystemErrorText(dwError).c_str());
  }
  kx::CloseProcess(hProcess);
  return 1;
}

int CmdShowProcess(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& /*argument*/) {
  CKxAgentLog::LogInfo(kCommandExecute, "show process");
  return ShowProcesses(writer, context.IsCPUMonitoring(), kDefaultSampleInterval, context.GetClock());
}

int CmdKill(CAgentContext& /*context*/, CWriter& writer, CKxAgentCommandArgument& argument) {
  const char* lpProcessId = ArgumentText(argument, "PID");
  CKxAgentLog::LogInfo(kCommandExecute, "kill %s", lpProcessId);
  return KillProcess(writer, lpProcessId);
}
