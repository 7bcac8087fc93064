#include "platform/processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/error_codes.h"
#include "platform/posix_error.h"
#include "platform/text_encoding.h"

namespace kx {

struct CProcessData {
  DWORD dwProcessId;
  std::uint64_t qwStartTime;
  int nPidFd;  // -1 where the kernel has no process descriptors
};

namespace {

// The kernel cuts a task's name to 15 bytes.
const std::size_t kCommMax = 15;

// What the product needs from one /proc/<pid>/stat line.
struct CProcStat {
  std::string strComm;
  char cState;
  std::uint64_t qwMinorFaults;
  std::uint64_t qwMajorFaults;
  std::uint64_t qwUserTicks;
  std::uint64_t qwSystemTicks;
  DWORD dwThreads;
  std::uint64_t qwStartTime;
};

bool ReadSmallFile(const std::string& strPath, std::string* pText) {
  int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  pText->clear();
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pText->append(buffer, static_cast<std::size_t>(n));
    if (pText->size() > (1u << 20)) break;
  }
  close(fd);
  return true;
}

std::string ProcPath(DWORD dwProcessId, const char* lpLeaf) {
  char szPath[64];
  std::snprintf(szPath, sizeof(szPath), "/proc/%u/%s", static_cast<unsigned>(dwProcessId), lpLeaf);
  return szPath;
}

// The task name sits in parentheses and may itself hold blanks and ')', so the
// fields are counted from the last ')'.
bool ReadProcStat(DWORD dwProcessId, CProcStat* pStat) {
  std::string strText;
  if (!ReadSmallFile(ProcPath(dwProcessId, "stat"), &strText)) return false;
  std::size_t nOpen = strText.find('(');
  std::size_t nClose = strText.rfind(')');
  if (nOpen == std::string::npos || nClose == std::string::npos || nClose < nOpen) return false;
  pStat->strComm = strText.substr(nOpen + 1, nClose - nOpen - 1);
  // Fields from 3 (state) on.
  std::vector<std::string> fields;
  std::size_t nPos = nClose + 1;
  while (nPos < strText.size()) {
    while (nPos < strText.size() && strText[nPos] == ' ') ++nPos;
    std::size_t nEnd = strText.find_first_of(" \n", nPos);
    if (nEnd == std::string::npos) nEnd = strText.size();
    if (nEnd > nPos) fields.push_back(strText.substr(nPos, nEnd - nPos));
    nPos = nEnd + 1;
  }
  // Field n of the manual page is fields[n - 3].
  if (fields.size() < 20) return false;
  auto Field = [&fields](int n) { return std::strtoull(fields[n - 3].c_str(), nullptr, 10); };
  pStat->cState = fields[0].empty() ? '?' : fields[0][0];
  pStat->qwMinorFaults = Field(10);
  pStat->qwMajorFaults = Field(12);
  pStat->qwUserTicks = Field(14);
  pStat->qwSystemTicks = Field(15);
  pStat->dwThreads = static_cast<DWORD>(Field(20));
  pStat->qwStartTime = Field(22);
  return true;
}

bool IsGone(const CProcStat& stat) { return stat.cState == 'Z' || stat.cState == 'X'; }

std::uint64_t TicksPerSecond() {
  static const long nTicks = sysconf(_SC_CLK_TCK);
  return nTicks > 0 ? static_cast<std::uint64_t>(nTicks) : 100;
}

std::uint64_t TicksToMs(std::uint64_t qwTicks) { return qwTicks * 1000 / TicksPerSecond(); }

std::string BaseName(const std::string& strPath) {
  std::size_t nSlash = strPath.rfind('/');
  return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

// The kernel keeps only the first 15 bytes of a name; when the name was cut,
// the executable's own file name (or argv[0]'s) gives it in full, provided it
// starts with the same bytes (a renamed task keeps its short name).
std::string ImageName(DWORD dwProcessId, const std::string& strComm) {
  if (strComm.size() < kCommMax) return strComm;
  char szTarget[4096];
  ssize_t n = readlink(ProcPath(dwProcessId, "exe").c_str(), szTarget, sizeof(szTarget) - 1);
  if (n > 0) {
    std::string strExe = BaseName(std::string(szTarget, static_cast<std::size_t>(n)));
    const std::string strDeleted = " (deleted)";
    if (strExe.size() > strDeleted.size() &&
        strExe.compare(strExe.size() - strDeleted.size(), strDeleted.size(), strDeleted) == 0) {
      strExe.erase(strExe.size() - strDeleted.size());
    }
    if (strExe.compare(0, strComm.size(), strComm) == 0) return strExe;
  }
  std::string strCmdLine;
  if (ReadSmallFile(ProcPath(dwProcessId, "cmdline"), &strCmdLine) && !strCmdLine.empty()) {
    std::string strArg0 = BaseName(std::string(strCmdLine.c_str()));
    if (strArg0.compare(0, strComm.size(), strComm) == 0) return strArg0;
  }
  return strComm;
}

// A task name may hold control characters, an image file name never does:
// each becomes '?', so that a name cannot break or rewrite a terminal line.
void CopyName(const std::string& strUtf8, char* lpName, DWORD dwSize) {
  if (dwSize == 0) return;
  std::string strName = MaskControlCharacters(Utf8ToCp932(strUtf8));
  std::size_t nLength = std::min<std::size_t>(strName.size(), dwSize - 1);
  std::memcpy(lpName, strName.data(), nLength);
  lpName[nLength] = '\0';
}

bool ParseProcessId(const char* lpName, DWORD* pdwProcessId) {
  if (lpName[0] < '1' || lpName[0] > '9') return false;
  char* lpEnd = nullptr;
  unsigned long nValue = std::strtoul(lpName, &lpEnd, 10);
  if (*lpEnd != '\0' || nValue > 0x7FFFFFFFul) return false;
  *pdwProcessId = static_cast<DWORD>(nValue);
  return true;
}

template <typename Visit>
DWORD ForEachProcessId(Visit visit) {
  DIR* pDir = opendir("/proc");
  if (pDir == nullptr) return ErrnoToWinError(errno);
  while (struct dirent* pEntry = readdir(pDir)) {
    DWORD dwProcessId = 0;
    if (ParseProcessId(pEntry->d_name, &dwProcessId)) visit(dwProcessId);
  }
  closedir(pDir);
  return ERROR_SUCCESS;
}

std::uint64_t MonotonicNs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(now.tv_nsec);
}

// A kill() target must be a positive id: 0 and negative values address whole
// process groups.
bool IsSignallableId(DWORD dwProcessId) { return dwProcessId > 0 && dwProcessId <= 0x7FFFFFFFu; }

// "VmRSS:   1234 kB" -> bytes.
std::size_t StatusKb(const std::string& strStatus, const char* lpKey) {
  std::string strKey = std::string("\n") + lpKey + ":";
  std::size_t nPos = strStatus.find(strKey);
  if (nPos == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoull(strStatus.c_str() + nPos + strKey.size(), nullptr, 10)) *
         1024;
}

}  // namespace

DWORD GetProcessSnapshot(std::vector<PROCESSENTRY>* pEntries) {
  pEntries->clear();
  DWORD dwError = ForEachProcessId([pEntries](DWORD dwProcessId) {
    CProcStat stat;
    if (!ReadProcStat(dwProcessId, &stat)) return;  // ended while we looked
    PROCESSENTRY entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.th32ProcessID = dwProcessId;
    entry.cntThreads = stat.dwThreads;
    CopyName(ImageName(dwProcessId, stat.strComm), entry.szExeFile, sizeof(entry.szExeFile));
    pEntries->push_back(entry);
  });
  std::sort(pEntries->begin(), pEntries->end(),
            [](const PROCESSENTRY& a, const PROCESSENTRY& b) { return a.th32ProcessID < b.th32ProcessID; });
  return dwError;
}

DWORD GetProcessStartTime(DWORD dwProcessId, std::uint64_t* pqwStartTime) {
  CProcStat stat;
  if (!IsSignallableId(dwProcessId) || !ReadProcStat(dwProcessId, &stat) || IsGone(stat)) {
    return ERROR_INVALID_PARAMETER;
  }
  *pqwStartTime = stat.qwStartTime;
  return ERROR_SUCCESS;
}

DWORD OpenProcess(DWORD dwProcessId, HPROCESS* phProcess) {
  *phProcess = nullptr;
  std::uint64_t qwStartTime = 0;
  DWORD dwError = GetProcessStartTime(dwProcessId, &qwStartTime);
  if (dwError != ERROR_SUCCESS) return dwError;
  if (kill(static_cast<pid_t>(dwProcessId), 0) != 0) {
    return errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER;
  }
  int nPidFd = -1;
#ifdef SYS_pidfd_open
  nPidFd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(dwProcessId), 0));
#endif
  // The descriptor may name a process that replaced ours between the two looks.
  std::uint64_t qwCheck = 0;
  if (GetProcessStartTime(dwProcessId, &qwCheck) != ERROR_SUCCESS || qwCheck != qwStartTime) {
    if (nPidFd >= 0) close(nPidFd);
    return ERROR_INVALID_PARAMETER;
  }
  if (nPidFd >= 0) fcntl(nPidFd, F_SETFD, FD_CLOEXEC);
  *phProcess = new CProcessData{dwProcessId, qwStartTime, nPidFd};
  return ERROR_SUCCESS;
}

void CloseProcess(HPROCESS hProcess) {
  if (hProcess == nullptr) return;
  if (hProcess->nPidFd >= 0) close(hProcess->nPidFd);
  delete hProcess;
}

namespace {

// The process's stat record, provided the process is still the one the handle names.
bool ReadOwnStat(HPROCESS hProcess, CProcStat* pStat) {
  return hProcess != nullptr && ReadProcStat(hProcess->dwProcessId, pStat) &&
         pStat->qwStartTime == hProcess->qwStartTime;
}

}  // namespace

DWORD GetProcessTimes(HPROCESS hProcess, std::uint64_t* pqwKernelMs, std::uint64_t* pqwUserMs) {
  CProcStat stat;
  if (!ReadOwnStat(hProcess, &stat)) return ERROR_INVALID_PARAMETER;
  *pqwKernelMs = TicksToMs(stat.qwSystemTicks);
  *pqwUserMs = TicksToMs(stat.qwUserTicks);
  return ERROR_SUCCESS;
}

DWORD GetProcessMemoryCounters(HPROCESS hProcess, PROCESS_MEMORY_COUNTERS* pCounters) {
  std::memset(pCounters, 0, sizeof(*pCounters));
  pCounters->cb = sizeof(*pCounters);
  CProcStat stat;
  std::string strStatus;
  if (!ReadOwnStat(hProcess, &stat) ||
      !ReadSmallFile(ProcPath(hProcess->dwProcessId, "status"), &strStatus)) {
    return ERROR_INVALID_PARAMETER;
  }
  pCounters->PageFaultCount = static_cast<DWORD>(stat.qwMinorFaults + stat.qwMajorFaults);
  pCounters->WorkingSetSize = StatusKb(strStatus, "VmRSS");
  pCounters->PeakWorkingSetSize = std::max(StatusKb(strStatus, "VmHWM"), pCounters->WorkingSetSize);
  pCounters->PagefileUsage = StatusKb(strStatus, "RssAnon") + StatusKb(strStatus, "VmSwap");
  pCounters->PeakPagefileUsage = pCounters->PagefileUsage;
  return ERROR_SUCCESS;
}

DWORD GetProcessImageName(HPROCESS hProcess, char* lpName, DWORD dwSize) {
  if (dwSize > 0) lpName[0] = '\0';
  CProcStat stat;
  if (!ReadOwnStat(hProcess, &stat)) return ERROR_INVALID_PARAMETER;
  CopyName(ImageName(hProcess->dwProcessId, stat.strComm), lpName, dwSize);
  return ERROR_SUCCESS;
}

DWORD TerminateProcess(HPROCESS hProcess, DWORD /*dwExitCode*/) {
  if (hProcess == nullptr) return ERROR_INVALID_HANDLE;
#ifdef SYS_pidfd_send_signal
  if (hProcess->nPidFd >= 0) {
    if (syscall(SYS_pidfd_send_signal, hProcess->nPidFd, SIGKILL, nullptr, 0) == 0) return ERROR_SUCCESS;
    return errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER;
  }
#endif
  CProcStat stat;
  if (!ReadOwnStat(hProcess, &stat) || IsGone(stat)) return ERROR_INVALID_PARAMETER;
  if (kill(static_cast<pid_t>(hProcess->dwProcessId), SIGKILL) == 0) return ERROR_SUCCESS;
  return errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER;
}

BOOL CProcessCpuQuery::Collect() {
  if (!m_bOpen) return FALSE;
  CSampleMap samples;
  std::uint64_t qwNow = MonotonicNs();
  DWORD dwError = ForEachProcessId([&samples](DWORD dwProcessId) {
    CProcStat stat;
    if (!ReadProcStat(dwProcessId, &stat)) return;
    samples[dwProcessId] =
        CSample{stat.qwStartTime, (stat.qwUserTicks + stat.qwSystemTicks) * 1000000000ull / TicksPerSecond()};
  });
  if (dwError != ERROR_SUCCESS) return FALSE;
  AddCollection(&samples, qwNow);
  return TRUE;
}

}  // namespace kx
