// The delayed shutdown, emulated in the system state directory. The request
// lives in <root>/power/pending under an flock on <root>/power/.lock; a helper
// process, detached from the caller by a double fork, sleeps until the
// deadline, re-reads the request (cancelled or replaced ones are dropped) and
// carries it out. The helper is a fork of the caller without exec, because no
// separate program is installed for it: it uses only this file's code until the
// deadline, and everything it needs was prepared before the fork.
#include "platform/power.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "platform/event_log.h"
#include "platform/posix_error.h"
#include "platform/replace_file.h"
#include "platform/system_root.h"
#include "platform/text_encoding.h"

extern char** environ;

namespace kx {
namespace {

typedef std::map<std::string, std::string> CKeyValues;

const char* const kEventSource = "KxPower";
const DWORD kEventIdHalt = 1;
const DWORD kEventIdRestart = 2;
// The system's own ceiling for a shutdown time-out: ten years.
const DWORD kMaxTimeout = 10u * 365u * 24u * 60u * 60u;
const std::size_t kMaxMessage = 4096;
// A configured command that has not finished by then is killed, so that a hung
// command cannot keep the request "in progress" for ever.
const long long kCommandLimitMs = 300 * 1000;
// The helper re-reads the request at least this often, so a cancelled request's
// helper goes away soon even when nobody signals it.
const long long kPollMs = 1000;
// Bounds the event-log write at the end: a helper stuck there would otherwise
// live on although it has nothing left to do.
const unsigned int kRecordLimitSeconds = 60;

std::string PowerDirectory() { return GetSystemRoot() + "/power"; }
std::string PendingPath(const std::string& strDirectory) { return strDirectory + "/pending"; }
std::string LastPath(const std::string& strDirectory) { return strDirectory + "/last"; }

long long NowMs(clockid_t clock) {
  struct timespec now;
  clock_gettime(clock, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SleepMs(long long llMilliseconds) {
  struct timespec span;
  span.tv_sec = static_cast<time_t>(llMilliseconds / 1000);
  span.tv_nsec = static_cast<long>((llMilliseconds % 1000) * 1000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &span, &span) == EINTR) {
  }
}

// The exclusive lock of the power directory, held for the object's life.
// Opening never creates the directory: a helper whose state directory was
// removed must find nothing and leave.
class CPowerLock {
 public:
  explicit CPowerLock(const std::string& strDirectory) : m_fd(-1), m_nError(0) {
    m_fd = open((strDirectory + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
      m_nError = errno;
      return;
    }
    while (flock(m_fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        m_nError = errno;
        close(m_fd);
        m_fd = -1;
        return;
      }
    }
  }
  ~CPowerLock() {
    if (m_fd >= 0) close(m_fd);
  }
  CPowerLock(const CPowerLock&) = delete;
  CPowerLock& operator=(const CPowerLock&) = delete;
  bool IsHeld() const { return m_fd >= 0; }
  int GetErrno() const { return m_nError; }

 private:
  int m_fd;
  int m_nError;
};

// Values stay on one line in the state files.
std::string Escape(const std::string& strText) {
  std::string strOut;
  for (char c : strText) {
    if (c == '\\') {
      strOut += "\\\\";
    } else if (c == '\n') {
      strOut += "\\n";
    } else if (c == '\r') {
      strOut += "\\r";
    } else {
      strOut += c;
    }
  }
  return strOut;
}

std::string Unescape(const std::string& strText) {
  std::string strOut;
  for (std::size_t i = 0; i < strText.size(); ++i) {
    if (strText[i] != '\\' || i + 1 == strText.size()) {
      strOut += strText[i];
      continue;
    }
    char c = strText[++i];
    strOut += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return strOut;
}

bool ReadWholeFile(const std::string& strPath, std::string* pstrText) {
  int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  pstrText->clear();
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pstrText->append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
}

bool ReadKeyValues(const std::string& strPath, CKeyValues* pValues) {
  std::string strText;
  if (!ReadWholeFile(strPath, &strText)) return false;
  pValues->clear();
  std::size_t nStart = 0;
  while (nStart < strText.size()) {
    std::size_t nEnd = strText.find('\n', nStart);
    if (nEnd == std::string::npos) nEnd = strText.size();
    std::string strLine = strText.substr(nStart, nEnd - nStart);
    nStart = nEnd + 1;
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    std::size_t nFirst = strLine.find_first_not_of(" \t");
    if (nFirst == std::string::npos || strLine[nFirst] == '#') continue;
    std::size_t nEqual = strLine.find('=');
    if (nEqual == std::string::npos) continue;
    std::string strKey = strLine.substr(nFirst, nEqual - nFirst);
    while (!strKey.empty() && (strKey.back() == ' ' || strKey.back() == '\t')) strKey.pop_back();
    (*pValues)[strKey] = strLine.substr(nEqual + 1);
  }
  return true;
}

DWORD WriteKeyValues(const std::string& strPath, const CKeyValues& values) {
  std::string strText;
  for (const auto& value : values) strText += value.first + "=" + value.second + "\n";
  return ReplaceFileDurably(strPath.c_str(), strText);
}

std::string Text(const CKeyValues& values, const char* lpKey) {
  CKeyValues::const_iterator it = values.find(lpKey);
  return it == values.end() ? std::string() : it->second;
}

unsigned long long Number(const CKeyValues& values, const char* lpKey) {
  return std::strtoull(Text(values, lpKey).c_str(), nullptr, 10);
}

// The start time of a process in clock ticks since boot (field 22 of its stat
// line), which tells a process apart from a later one that reuses its id.
// 0 when the process does not exist or is a zombie.
unsigned long long GetProcessStartTime(pid_t pid) {
  std::string strStat;
  if (pid <= 0 || !ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", &strStat)) return 0;
  // The command name in parentheses may itself hold blanks and parentheses.
  std::size_t nClose = strStat.rfind(')');
  if (nClose == std::string::npos) return 0;
  std::vector<std::string> fields;
  std::size_t nPos = nClose + 1;
  while (nPos < strStat.size() && fields.size() < 20) {
    std::size_t nFirst = strStat.find_first_not_of(' ', nPos);
    if (nFirst == std::string::npos) break;
    std::size_t nEnd = strStat.find(' ', nFirst);
    if (nEnd == std::string::npos) nEnd = strStat.size();
    fields.push_back(strStat.substr(nFirst, nEnd - nFirst));
    nPos = nEnd;
  }
  if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X") return 0;
  return std::strtoull(fields[19].c_str(), nullptr, 10);
}

// A request is live while the helper recorded in it still runs; a request left
// behind by a helper that died (or by a boot that ended) blocks nothing.
bool IsLive(const CKeyValues& state) {
  if (Text(state, "id").empty()) return false;
  unsigned long long ullStart = Number(state, "helper-start");
  pid_t pid = static_cast<pid_t>(Number(state, "helper-pid"));
  return ullStart != 0 && GetProcessStartTime(pid) == ullStart;
}

// Splits a configured command into words: blanks separate, quotes group.
std::vector<std::string> SplitWords(const std::string& strLine) {
  std::vector<std::string> words;
  std::string strWord;
  bool bInWord = false;
  char cQuote = 0;
  for (char c : strLine) {
    if (cQuote != 0) {
      if (c == cQuote) cQuote = 0; else strWord += c;
    } else if (c == ' ' || c == '\t') {
      if (bInWord) words.push_back(strWord);
      strWord.clear();
      bInWord = false;
    } else if (c == '"' || c == '\'') {
      cQuote = c;
      bInWord = true;
    } else {
      strWord += c;
      bInWord = true;
    }
  }
  if (bInWord) words.push_back(strWord);
  return words;
}

// Everything the helper needs, prepared before the fork.
struct CRequest {
  std::string strDirectory;
  std::string strId;
  std::string strMessage;      // code page 932
  std::string strMessageUtf8;  // converted before the fork: the helper converts nothing
  BOOL bReboot;
  BOOL bForce;
  DWORD dwTimeout;
  DWORD dwOwner;
  long long llDeadlineMono;
  long long llDeadlineWall;
  long long llRequestedWall;
};

// What carrying out the request came to.
struct COutcome {
  std::string strCommand;  // the configured command line; empty when none
  bool bRan = false;
  bool bSucceeded = true;
  std::string strResult;   // for the last file: "not-configured", "exit-code=N", ...
  std::string strDetail;   // for the event record (English)
};

// Runs the configured command and waits for it (at most kCommandLimitMs).
void RunCommand(const CRequest& request, COutcome* pOutcome) {
  std::vector<std::string> words = SplitWords(pOutcome->strCommand);
  if (words.empty() || words[0][0] != '/') {
    pOutcome->bSucceeded = false;
    pOutcome->strResult = "error=not an absolute path";
    pOutcome->strDetail = "could not run \"" + pOutcome->strCommand + "\": the program must be an absolute path";
    return;
  }
  std::vector<std::string> environment;
  for (char** p = environ; p && *p; ++p) {
    if (std::strncmp(*p, "KX_SHUTDOWN_", 12) != 0) environment.push_back(*p);
  }
  environment.push_back(std::string("KX_SHUTDOWN_ACTION=") + (request.bReboot ? "reboot" : "halt"));
  environment.push_back(std::string("KX_SHUTDOWN_FORCE=") + (request.bForce ? "1" : "0"));
  environment.push_back("KX_SHUTDOWN_MESSAGE=" + request.strMessageUtf8);
  std::vector<char*> argv;
  for (std::string& strWord : words) argv.push_back(&strWord[0]);
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& strEntry : environment) envp.push_back(&strEntry[0]);
  envp.push_back(nullptr);

  int fdInput = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int fdOutput = open((request.strDirectory + "/command.log").c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fdOutput < 0) fdOutput = open("/dev/null", O_WRONLY | O_CLOEXEC);
  int statusPipe[2] = {-1, -1};
  pid_t child = -1;
  int nError = 0;
  if (fdInput >= 0 && fdOutput >= 0 && pipe2(statusPipe, O_CLOEXEC) == 0) {
    child = fork();
    if (child == 0) {
      dup2(fdInput, 0);
      dup2(fdOutput, 1);
      dup2(fdOutput, 2);
      execve(argv[0], argv.data(), envp.data());
      int nExecError = errno;
      ssize_t nIgnored = write(statusPipe[1], &nExecError, sizeof(nExecError));
      (void)nIgnored;
      _exit(127);
    }
    if (child < 0) nError = errno;
  } else {
    nError = errno;
  }
  for (int fd : {fdInput, fdOutput, statusPipe[1]}) {
    if (fd >= 0) close(fd);
  }
  if (child > 0 && statusPipe[0] >= 0) {
    int nExecError = 0;
    ssize_t n;
    do {
      n = read(statusPipe[0], &nExecError, sizeof(nExecError));
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof(nExecError))) nError = nExecError;
  }
  if (statusPipe[0] >= 0) close(statusPipe[0]);

  if (child <= 0 || nError != 0) {
    if (child > 0) waitpid(child, nullptr, 0);
    DWORD dwError = ErrnoToWinError(nError);
    std::string strText = FormatSystemMessage(dwError);
    pOutcome->bSucceeded = false;
    pOutcome->strResult = "error=" + std::to_string(dwError);
    pOutcome->strDetail = "could not run \"" + pOutcome->strCommand + "\": " +
                          (strText.empty() ? "error " + std::to_string(dwError) : strText);
    return;
  }

  pOutcome->bRan = true;
  int nStatus = 0;
  long long llStart = NowMs(CLOCK_MONOTONIC);
  for (;;) {
    pid_t done = waitpid(child, &nStatus, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR)) break;
    if (NowMs(CLOCK_MONOTONIC) - llStart > kCommandLimitMs) {
      kill(child, SIGKILL);
      waitpid(child, &nStatus, 0);
      break;
    }
    SleepMs(100);
  }
  if (WIFEXITED(nStatus)) {
    int nCode = WEXITSTATUS(nStatus);
    pOutcome->bSucceeded = nCode == 0;
    pOutcome->strResult = "exit-code=" + std::to_string(nCode);
    pOutcome->strDetail = "ran \"" + pOutcome->strCommand + "\" (exit code " + std::to_string(nCode) + ")";
  } else {
    int nSignal = WIFSIGNALED(nStatus) ? WTERMSIG(nStatus) : 0;
    pOutcome->bSucceeded = false;
    pOutcome->strResult = "signal=" + std::to_string(nSignal);
    pOutcome->strDetail = "ran \"" + pOutcome->strCommand + "\" (ended by signal " + std::to_string(nSignal) + ")";
  }
}

void WriteEventRecord(const CRequest& request, const COutcome& outcome) {
  // ASCII is the same in code page 932 and the message already is: nothing to convert.
  std::string strText = std::string(request.bReboot ? "System restart" : "System halt") +
                        " requested by process " + std::to_string(request.dwOwner) +
                        " reached its deadline; " + outcome.strDetail + ". Message: " + request.strMessage;
  // A halt or restart belongs in the System log; a registration an operator
  // made elsewhere is kept.
  std::string strLog;
  if (FindEventSourceLog(kEventSource, &strLog) != ERROR_SUCCESS) InstallEventSource("System", kEventSource, nullptr);
  HEVENTSOURCE hSource = nullptr;
  if (RegisterEventLogSource(kEventSource, &hSource) != ERROR_SUCCESS) return;
  const char* strings[1] = {strText.c_str()};
  ReportEventLogEntry(hSource, outcome.bSucceeded ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE, 0,
                      request.bReboot ? kEventIdRestart : kEventIdHalt, 1, strings);
  DeregisterEventLogSource(hSource);
}

void CarryOut(const CRequest& request) {
  CKeyValues config;
  ReadKeyValues(request.strDirectory + "/config", &config);
  COutcome outcome;
  const char* lpKey = request.bReboot ? "reboot-command" : "halt-command";
  outcome.strCommand = Text(config, lpKey);
  std::size_t nFirst = outcome.strCommand.find_first_not_of(" \t");
  outcome.strCommand = nFirst == std::string::npos ? std::string() : outcome.strCommand.substr(nFirst);
  if (outcome.strCommand.empty()) {
    outcome.strResult = "not-configured";
    outcome.strDetail = std::string("no ") + lpKey + " is configured, so nothing was run";
  } else {
    RunCommand(request, &outcome);
  }

  // Settled first, so that nothing below can keep the request pending.
  {
    CPowerLock lock(request.strDirectory);
    CKeyValues state;
    if (lock.IsHeld() && ReadKeyValues(PendingPath(request.strDirectory), &state) &&
        Text(state, "id") == request.strId) {
      unlink(PendingPath(request.strDirectory).c_str());
    }
  }
  // Bounded: see RunHelper.
  alarm(kRecordLimitSeconds);
  WriteEventRecord(request, outcome);
  alarm(0);
  // The last file comes after the event record, so a reader that sees it sees both.
  CKeyValues last;
  last["id"] = request.strId;
  last["action"] = request.bReboot ? "reboot" : "halt";
  last["force"] = request.bForce ? "1" : "0";
  last["message"] = Escape(request.strMessageUtf8);
  last["owner-pid"] = std::to_string(request.dwOwner);
  last["deadline"] = std::to_string(request.llDeadlineWall);
  last["performed"] = std::to_string(NowMs(CLOCK_REALTIME));
  last["command"] = outcome.strCommand;
  last["result"] = outcome.strResult;
  CPowerLock lock(request.strDirectory);
  if (lock.IsHeld()) WriteKeyValues(LastPath(request.strDirectory), last);
}

// The helper's life: wait for the deadline while the request stays ours, then
// mark it as being carried out and carry it out. It is a fork of a caller that
// may run other threads, so a lock another thread held at the fork stays held
// here for ever: it keeps to system calls, memory and this file's code, and
// leaves text conversion (which takes the C library's converter lock) to the
// caller. The event-log write near the end is bounded by an alarm.
[[noreturn]] void RunHelper(const CRequest& request) {
  for (;;) {
    long long llRemaining = request.llDeadlineMono - NowMs(CLOCK_MONOTONIC);
    if (llRemaining > 0) SleepMs(llRemaining < kPollMs ? llRemaining : kPollMs);
    CPowerLock lock(request.strDirectory);
    if (!lock.IsHeld()) _exit(0);
    CKeyValues state;
    if (!ReadKeyValues(PendingPath(request.strDirectory), &state) || Text(state, "id") != request.strId) {
      _exit(0);  // cancelled, or replaced after a cancel
    }
    if (NowMs(CLOCK_MONOTONIC) < request.llDeadlineMono) continue;
    state["state"] = "acting";
    if (WriteKeyValues(PendingPath(request.strDirectory), state) != ERROR_SUCCESS) _exit(1);
    break;
  }
  CarryOut(request);
  _exit(0);
}

// Makes the forked helper independent of the caller: no terminal, no inherited
// descriptors (a serial line or pipe held open here would never see its end),
// default signal handling.
void DetachHelper() {
  sigset_t empty;
  sigemptyset(&empty);
  sigprocmask(SIG_SETMASK, &empty, nullptr);
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof(dfl));
  dfl.sa_handler = SIG_DFL;
  const int signals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2};
  for (int nSignal : signals) sigaction(nSignal, &dfl, nullptr);
  int fdNull = open("/dev/null", O_RDWR);
  if (fdNull >= 0) {
    dup2(fdNull, 0);
    dup2(fdNull, 1);
    dup2(fdNull, 2);
    if (fdNull > 2) close(fdNull);
  }
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
#endif
  {
    struct rlimit limit;
    int nMaxFd = 1024;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
      nMaxFd = static_cast<int>(limit.rlim_cur < 65536 ? limit.rlim_cur : 65536);
    }
    for (int fd = 3; fd < nMaxFd; ++fd) close(fd);
  }
  if (chdir("/") != 0) {
    // The root directory always exists; nothing to do if it somehow does not.
  }
}

// Starts the helper in a session of its own; the intermediate process is
// reaped here, so the caller is left with no zombie. The helper's id, or 0 and
// *pnErrno.
pid_t SpawnHelper(const CRequest& request, int* pnErrno) {
  int pidPipe[2];
  if (pipe2(pidPipe, O_CLOEXEC) != 0) {
    *pnErrno = errno;
    return 0;
  }
  pid_t intermediate = fork();
  if (intermediate == 0) {
    setsid();
    pid_t helper = fork();
    if (helper == 0) {
      DetachHelper();
      RunHelper(request);
    }
    int nValue = helper > 0 ? static_cast<int>(helper) : -errno;
    ssize_t nIgnored = write(pidPipe[1], &nValue, sizeof(nValue));
    (void)nIgnored;
    _exit(0);
  }
  int nForkError = errno;
  close(pidPipe[1]);
  if (intermediate < 0) {
    close(pidPipe[0]);
    *pnErrno = nForkError;
    return 0;
  }
  while (waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
  }
  int nValue = 0;
  ssize_t n;
  do {
    n = read(pidPipe[0], &nValue, sizeof(nValue));
  } while (n < 0 && errno == EINTR);
  close(pidPipe[0]);
  if (n != static_cast<ssize_t>(sizeof(nValue)) || nValue <= 0) {
    *pnErrno = nValue < 0 ? -nValue : EAGAIN;
    return 0;
  }
  return static_cast<pid_t>(nValue);
}

// Ends a helper that no longer has a request, when it is still the process
// that was recorded (not a later one with the same id).
void StopHelper(const CKeyValues& state) {
  pid_t pid = static_cast<pid_t>(Number(state, "helper-pid"));
  unsigned long long ullStart = Number(state, "helper-start");
  if (pid > 1 && ullStart != 0 && GetProcessStartTime(pid) == ullStart) kill(pid, SIGTERM);
}

}  // namespace

DWORD RequestSystemShutdown(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed,
                            BOOL bRebootAfterShutdown) {
  std::string strMessage = lpMessage ? lpMessage : "";
  if (dwTimeout > kMaxTimeout || strMessage.size() > kMaxMessage) return ERROR_INVALID_PARAMETER;
  CRequest request;
  request.strDirectory = PowerDirectory();
  DWORD dwError = EnsureDirectory(request.strDirectory);
  if (dwError != ERROR_SUCCESS) return dwError;
  CPowerLock lock(request.strDirectory);
  if (!lock.IsHeld()) return ErrnoToWinError(lock.GetErrno());

  std::string strPending = PendingPath(request.strDirectory);
  CKeyValues previous;
  if (ReadKeyValues(strPending, &previous)) {
    if (IsLive(previous)) return ERROR_SHUTDOWN_IN_PROGRESS;
    unlink(strPending.c_str());
  }

  request.strMessage = strMessage;
  request.strMessageUtf8 = Cp932ToUtf8(strMessage);
  request.bReboot = bRebootAfterShutdown ? TRUE : FALSE;
  request.bForce = bForceAppsClosed ? TRUE : FALSE;
  request.dwTimeout = dwTimeout;
  request.dwOwner = static_cast<DWORD>(getpid());
  long long llNowMono = NowMs(CLOCK_MONOTONIC);
  request.llRequestedWall = NowMs(CLOCK_REALTIME);
  request.llDeadlineMono = llNowMono + static_cast<long long>(dwTimeout) * 1000;
  request.llDeadlineWall = request.llRequestedWall + static_cast<long long>(dwTimeout) * 1000;
  struct timespec stamp;
  clock_gettime(CLOCK_MONOTONIC, &stamp);
  request.strId = std::to_string(getpid()) + "-" + std::to_string(static_cast<long long>(stamp.tv_sec)) + "." +
                  std::to_string(stamp.tv_nsec);

  // The helper blocks on the lock held here until the request file exists.
  int nErrno = 0;
  pid_t helper = SpawnHelper(request, &nErrno);
  if (helper == 0) return ErrnoToWinError(nErrno);
  unsigned long long ullStart = GetProcessStartTime(helper);

  CKeyValues state;
  state["id"] = request.strId;
  state["action"] = request.bReboot ? "reboot" : "halt";
  state["force"] = request.bForce ? "1" : "0";
  state["timeout"] = std::to_string(dwTimeout);
  state["message"] = Escape(request.strMessageUtf8);
  state["requested"] = std::to_string(request.llRequestedWall);
  state["deadline"] = std::to_string(request.llDeadlineWall);
  state["owner-pid"] = std::to_string(request.dwOwner);
  state["helper-pid"] = std::to_string(helper);
  state["helper-start"] = std::to_string(ullStart);
  state["state"] = "waiting";
  dwError = ullStart == 0 ? ERROR_GEN_FAILURE : WriteKeyValues(strPending, state);
  if (dwError != ERROR_SUCCESS) {
    kill(helper, SIGKILL);
    return dwError;
  }
  return ERROR_SUCCESS;
}

DWORD CancelSystemShutdown() {
  std::string strDirectory = PowerDirectory();
  struct stat info;
  if (stat(strDirectory.c_str(), &info) != 0) return ERROR_NO_SHUTDOWN_IN_PROGRESS;
  CPowerLock lock(strDirectory);
  if (!lock.IsHeld()) return ErrnoToWinError(lock.GetErrno());
  std::string strPending = PendingPath(strDirectory);
  CKeyValues state;
  if (!ReadKeyValues(strPending, &state)) return ERROR_NO_SHUTDOWN_IN_PROGRESS;
  if (!IsLive(state)) {
    unlink(strPending.c_str());
    return ERROR_NO_SHUTDOWN_IN_PROGRESS;
  }
  if (Text(state, "state") == "acting") return ERROR_SHUTDOWN_IN_PROGRESS;
  if (unlink(strPending.c_str()) != 0) return ErrnoToWinError(errno);
  StopHelper(state);
  return ERROR_SUCCESS;
}

DWORD QueryPendingShutdown(SHUTDOWN_REQUEST* pRequest) {
  if (pRequest == nullptr) return ERROR_INVALID_PARAMETER;
  CKeyValues state;
  // A plain read: the file is replaced whole, so no lock is needed to see it consistent.
  if (!ReadKeyValues(PendingPath(PowerDirectory()), &state) || !IsLive(state)) {
    return ERROR_NO_SHUTDOWN_IN_PROGRESS;
  }
  pRequest->bRebootAfterShutdown = Text(state, "action") == "reboot" ? TRUE : FALSE;
  pRequest->bForceAppsClosed = Text(state, "force") == "1" ? TRUE : FALSE;
  pRequest->bActing = Text(state, "state") == "acting" ? TRUE : FALSE;
  pRequest->dwTimeout = static_cast<DWORD>(Number(state, "timeout"));
  pRequest->llDeadline = static_cast<long long>(Number(state, "deadline"));
  pRequest->dwOwnerProcessId = static_cast<DWORD>(Number(state, "owner-pid"));
  pRequest->dwHelperProcessId = static_cast<DWORD>(Number(state, "helper-pid"));
  pRequest->strMessage = Utf8ToCp932(Unescape(Text(state, "message")));
  return ERROR_SUCCESS;
}

BOOL SetProcessPrivilege(const char* lpPrivilegeName, BOOL /*bEnable*/) {
  // Nothing here is guarded by a per-process privilege switch: whether the
  // configured command may act is the system's business when it runs.
  return lpPrivilegeName != nullptr ? TRUE : FALSE;
}

}  // namespace kx
