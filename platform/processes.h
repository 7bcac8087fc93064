// Processes: a snapshot of the process table, each process's accumulated
// processor time and memory counters, processor-share sampling of every process
// over one interval, and termination.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/kx_types.h"

namespace kx {

// The longest image name a snapshot entry carries, with its terminating NUL.
const DWORD kMaxImageName = 260;

// One process of a snapshot.
struct PROCESSENTRY {
  DWORD th32ProcessID;
  DWORD cntThreads;               // threads of the process when the snapshot was taken
  char szExeFile[kMaxImageName];  // image file name, code page 932, NUL-terminated, no control characters
};

// A process's memory counters, field for field as Windows' PROCESS_MEMORY_COUNTERS.
struct PROCESS_MEMORY_COUNTERS {
  DWORD cb;
  DWORD PageFaultCount;
  std::size_t PeakWorkingSetSize;
  std::size_t WorkingSetSize;  // resident bytes
  std::size_t QuotaPeakPagedPoolUsage;
  std::size_t QuotaPagedPoolUsage;
  std::size_t QuotaPeakNonPagedPoolUsage;
  std::size_t QuotaNonPagedPoolUsage;
  std::size_t PagefileUsage;  // private bytes of the process
  std::size_t PeakPagefileUsage;
};

// Lists every process that exists now, in ascending id order.
// ERROR_SUCCESS, or the error that kept the process table from being read.
DWORD GetProcessSnapshot(std::vector<PROCESSENTRY>* pEntries);

// An opened process; null means none. The handle stays bound to the process it
// named when it was opened: a later process with a reused id is not affected.
typedef struct CProcessData* HPROCESS;

// Opens process `dwProcessId` to read its times and memory and to terminate it.
// ERROR_INVALID_PARAMETER (87) when no such process exists (id 0 included),
// ERROR_ACCESS_DENIED (5) when the caller may not signal it.
DWORD OpenProcess(DWORD dwProcessId, HPROCESS* phProcess);
// Closes a handle from OpenProcess; null is ignored.
void CloseProcess(HPROCESS hProcess);
// Kernel and user processor time the process has used so far, in milliseconds.
DWORD GetProcessTimes(HPROCESS hProcess, std::uint64_t* pqwKernelMs, std::uint64_t* pqwUserMs);
// The process's memory counters; ERROR_INVALID_PARAMETER when it has gone.
DWORD GetProcessMemoryCounters(HPROCESS hProcess, PROCESS_MEMORY_COUNTERS* pCounters);
// The process's image file name (code page 932, control characters as '?'),
// cut to `dwSize` - 1 bytes.
DWORD GetProcessImageName(HPROCESS hProcess, char* lpName, DWORD dwSize);
// An opaque value that tells process `dwProcessId` apart from any later process
// given the same id. ERROR_INVALID_PARAMETER when no live process has that id
// (a process that has ended but not yet been reaped counts as gone).
DWORD GetProcessStartTime(DWORD dwProcessId, std::uint64_t* pqwStartTime);
// Ends the process at once. The exit code is what Windows would record; here
// the process ends by SIGKILL. ERROR_INVALID_PARAMETER when it has already gone.
DWORD TerminateProcess(HPROCESS hProcess, DWORD dwExitCode);

// Processor share of every process over an interval: collect, wait, collect
// again, then read each process's share. A share is percent of one processor,
// so a process busy on several processors shows more than 100. One object per
// caller; not for concurrent use.
class CProcessCpuQuery {
 public:
  CProcessCpuQuery();
  // Starts an empty query. TRUE on success.
  BOOL Open();
  // Takes one collection of every process's processor time. TRUE on success.
  BOOL Collect();
  // The share in percent (rounded) of process `dwProcessId` between the last
  // two collections, or -1 when the process is not in both of them.
  LONG GetLongValue(DWORD dwProcessId) const;
  // Every process in both of the last two collections with its share.
  void GetAllValues(std::unordered_map<DWORD, int>* pValues) const;
  // Forgets all collections.
  void Close();

 private:
  struct CSample {
    std::uint64_t qwStartTime;  // process start in the system's units: tells a reused id apart
    std::uint64_t qwCpuNs;      // user + system time, nanoseconds
  };
  typedef std::unordered_map<DWORD, CSample> CSampleMap;
  LONG ComputeShare(const CSample& previous, const CSample& current) const;
  // Makes *pSamples, taken at qwNowNs, the newest collection and the newest the one before it.
  void AddCollection(CSampleMap* pSamples, std::uint64_t qwNowNs);

  BOOL m_bOpen;
  int m_nCollections;
  CSampleMap m_previous;
  CSampleMap m_current;
  std::uint64_t m_qwPreviousNs;
  std::uint64_t m_qwCurrentNs;
};

}  // namespace kx
