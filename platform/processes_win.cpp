#include "platform/windows_win.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/error_codes.h"
#include "platform/processes.h"

struct kx::CProcessData {
  HANDLE hProcess;
  DWORD dwProcessId;
};

namespace kx {
namespace {

// The rights every operation of this facility needs; without the right to
// read memory or terminate, the process can still be listed and timed.
const DWORD kFullAccess = PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE | SYNCHRONIZE;
const DWORD kQueryAccess = PROCESS_QUERY_LIMITED_INFORMATION;

bool IsRunning(HANDLE hProcess) {
  DWORD dwExitCode = 0;
  return ::GetExitCodeProcess(hProcess, &dwExitCode) && dwExitCode == STILL_ACTIVE;
}

// Control characters would move the terminal's cursor.
void CopyImageName(const char* lpSource, char* lpName, DWORD dwSize) {
  if (lpName == nullptr || dwSize == 0) return;
  DWORD i = 0;
  for (; i + 1 < dwSize && lpSource[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(lpSource[i]);
    lpName[i] = (c < 0x20 || c == 0x7F) ? '?' : lpSource[i];
  }
  lpName[i] = '\0';
}

std::uint64_t MonotonicNs() {
  LARGE_INTEGER frequency, counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return static_cast<std::uint64_t>(static_cast<double>(counter.QuadPart) * 1e9 /
                                    static_cast<double>(frequency.QuadPart));
}

}  // namespace

DWORD GetProcessSnapshot(std::vector<PROCESSENTRY>* pEntries) {
  pEntries->clear();
  HANDLE hSnapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (hSnapshot == INVALID_HANDLE_VALUE) return ::GetLastError();
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL bMore = ::Process32First(hSnapshot, &entry); bMore; bMore = ::Process32Next(hSnapshot, &entry)) {
    PROCESSENTRY item = {};
    item.th32ProcessID = entry.th32ProcessID;
    item.cntThreads = entry.cntThreads;
    CopyImageName(entry.szExeFile, item.szExeFile, sizeof(item.szExeFile));
    pEntries->push_back(item);
  }
  ::CloseHandle(hSnapshot);
  std::sort(pEntries->begin(), pEntries->end(),
            [](const PROCESSENTRY& a, const PROCESSENTRY& b) { return a.th32ProcessID < b.th32ProcessID; });
  return ERROR_SUCCESS;
}

DWORD OpenProcess(DWORD dwProcessId, HPROCESS* phProcess) {
  *phProcess = nullptr;
  if (dwProcessId == 0) return ERROR_INVALID_PARAMETER;
  HANDLE hProcess = ::OpenProcess(kFullAccess, FALSE, dwProcessId);
  if (hProcess == nullptr) hProcess = ::OpenProcess(kQueryAccess, FALSE, dwProcessId);
  if (hProcess == nullptr) return ::GetLastError();
  if (!IsRunning(hProcess)) {
    ::CloseHandle(hProcess);
    return ERROR_INVALID_PARAMETER;
  }
  *phProcess = new (std::nothrow) CProcessData{hProcess, dwProcessId};
  if (*phProcess == nullptr) {
    ::CloseHandle(hProcess);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

void CloseProcess(HPROCESS hProcess) {
  if (hProcess == nullptr) return;
  ::CloseHandle(hProcess->hProcess);
  delete hProcess;
}

DWORD GetProcessTimes(HPROCESS hProcess, std::uint64_t* pqwKernelMs, std::uint64_t* pqwUserMs) {
  if (hProcess == nullptr) return ERROR_INVALID_HANDLE;
  FILETIME creation, exit, kernel, user;
  if (!::GetProcessTimes(hProcess->hProcess, &creation, &exit, &kernel, &user)) return ::GetLastError();
  *pqwKernelMs = FileTimeToUnits(kernel) / 10000;
  *pqwUserMs = FileTimeToUnits(user) / 10000;
  return ERROR_SUCCESS;
}

DWORD GetProcessMemoryCounters(HPROCESS hProcess, PROCESS_MEMORY_COUNTERS* pCounters) {
  if (hProcess == nullptr) return ERROR_INVALID_HANDLE;
  if (!IsRunning(hProcess->hProcess)) return ERROR_INVALID_PARAMETER;
  ::PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(hProcess->hProcess, &counters, sizeof(counters))) return ::GetLastError();
  pCounters->cb = sizeof(*pCounters);
  pCounters->PageFaultCount = counters.PageFaultCount;
  pCounters->PeakWorkingSetSize = counters.PeakWorkingSetSize;
  pCounters->WorkingSetSize = counters.WorkingSetSize;
  pCounters->QuotaPeakPagedPoolUsage = counters.QuotaPeakPagedPoolUsage;
  pCounters->QuotaPagedPoolUsage = counters.QuotaPagedPoolUsage;
  pCounters->QuotaPeakNonPagedPoolUsage = counters.QuotaPeakNonPagedPoolUsage;
  pCounters->QuotaNonPagedPoolUsage = counters.QuotaNonPagedPoolUsage;
  pCounters->PagefileUsage = counters.PagefileUsage;
  pCounters->PeakPagefileUsage = counters.PeakPagefileUsage;
  return ERROR_SUCCESS;
}

DWORD GetProcessImageName(HPROCESS hProcess, char* lpName, DWORD dwSize) {
  if (hProcess == nullptr) return ERROR_INVALID_HANDLE;
  char szPath[MAX_PATH] = {};
  DWORD dwLength = sizeof(szPath);
  if (!::QueryFullProcessImageNameA(hProcess->hProcess, 0, szPath, &dwLength)) return ::GetLastError();
  const char* lpBase = std::strrchr(szPath, '\\');
  CopyImageName(lpBase != nullptr ? lpBase + 1 : szPath, lpName, dwSize);
  return ERROR_SUCCESS;
}

DWORD GetProcessStartTime(DWORD dwProcessId, std::uint64_t* pqwStartTime) {
  HANDLE hProcess = ::OpenProcess(kQueryAccess, FALSE, dwProcessId);
  if (hProcess == nullptr) return ERROR_INVALID_PARAMETER;
  FILETIME creation, exit, kernel, user;
  bool bLive = IsRunning(hProcess) && ::GetProcessTimes(hProcess, &creation, &exit, &kernel, &user);
  ::CloseHandle(hProcess);
  if (!bLive) return ERROR_INVALID_PARAMETER;
  *pqwStartTime = FileTimeToUnits(creation);
  return ERROR_SUCCESS;
}

DWORD TerminateProcess(HPROCESS hProcess, DWORD dwExitCode) {
  if (hProcess == nullptr) return ERROR_INVALID_HANDLE;
  if (!IsRunning(hProcess->hProcess)) return ERROR_INVALID_PARAMETER;
  return ::TerminateProcess(hProcess->hProcess, dwExitCode) ? ERROR_SUCCESS : ::GetLastError();
}

BOOL CProcessCpuQuery::Collect() {
  if (!m_bOpen) return FALSE;
  std::vector<PROCESSENTRY> processes;
  if (GetProcessSnapshot(&processes) != ERROR_SUCCESS) return FALSE;
  CSampleMap samples;
  std::uint64_t qwNow = MonotonicNs();
  for (const PROCESSENTRY& entry : processes) {
    HANDLE hProcess = ::OpenProcess(kQueryAccess, FALSE, entry.th32ProcessID);
    if (hProcess == nullptr) continue;
    FILETIME creation, exit, kernel, user;
    if (::GetProcessTimes(hProcess, &creation, &exit, &kernel, &user)) {
      samples[entry.th32ProcessID] =
          CSample{FileTimeToUnits(creation), (FileTimeToUnits(kernel) + FileTimeToUnits(user)) * 100};
    }
    ::CloseHandle(hProcess);
  }
  AddCollection(&samples, qwNow);
  return TRUE;
}

}  // namespace kx
