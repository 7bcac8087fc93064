// Starting a service process: the command line is split into words (or given to
// the shell when it uses shell syntax) and run in a session of its own by a
// double fork, so the service outlives the caller and never becomes its zombie.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/posix_error.h"
#include "platform/services_store_posix.h"
#include "platform/system_root.h"

extern char** environ;

namespace kx {
namespace service_store {
namespace {

// Splits a command line into words with the shell's quoting (blanks separate,
// "..." and '...' group, backslash escapes). *pbNeedsShell is set when the line
// uses anything the shell itself must run: operators, redirections,
// expansions or a leading variable assignment.
void SplitCommandLine(const std::string& strLine, std::vector<std::string>* pWords, bool* pbNeedsShell) {
  pWords->clear();
  *pbNeedsShell = false;
  std::string strWord;
  bool bInWord = false;
  char cQuote = 0;
  for (std::size_t i = 0; i < strLine.size(); ++i) {
    char c = strLine[i];
    if (cQuote == '\'') {
      if (c == '\'')
        cQuote = 0;
      else
        strWord += c;
      continue;
    }
    if (cQuote == '"') {
      if (c == '"') {
        cQuote = 0;
      } else if (c == '\\' && i + 1 < strLine.size() && std::strchr("\"\\$`", strLine[i + 1])) {
        strWord += strLine[++i];
      } else {
        if (c == '$' || c == '`') *pbNeedsShell = true;
        strWord += c;
      }
      continue;
    }
    if (c == ' ' || c == '\t') {
      if (bInWord) pWords->push_back(strWord);
      strWord.clear();
      bInWord = false;
      continue;
    }
    bInWord = true;
    if (c == '"' || c == '\'') {
      cQuote = c;
    } else if (c == '\\' && i + 1 < strLine.size()) {
      strWord += strLine[++i];
    } else {
      if (std::strchr(";&|<>()`$*?[]{}~#\n", c)) *pbNeedsShell = true;
      if (c == '=' && pWords->empty()) *pbNeedsShell = true;
      strWord += c;
    }
  }
  if (cQuote != 0) *pbNeedsShell = true;  // let the shell report the broken quoting
  if (bInWord) pWords->push_back(strWord);
}

bool IsExecutableFile(const std::string& strPath) {
  struct stat info;
  return stat(strPath.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(strPath.c_str(), X_OK) == 0;
}

// The program file a word names, searched along PATH when it has no '/'.
DWORD ResolveProgram(const std::string& strWord, std::string* pstrPath) {
  if (strWord.find('/') != std::string::npos) {
    if (access(strWord.c_str(), F_OK) != 0) return ERROR_FILE_NOT_FOUND;
    if (!IsExecutableFile(strWord)) return ERROR_ACCESS_DENIED;
    *pstrPath = strWord;
    return ERROR_SUCCESS;
  }
  const char* lpPath = std::getenv("PATH");
  std::string strList = lpPath ? lpPath : "/usr/local/bin:/usr/bin:/bin";
  std::size_t nStart = 0;
  while (nStart <= strList.size()) {
    std::size_t nEnd = strList.find(':', nStart);
    if (nEnd == std::string::npos) nEnd = strList.size();
    std::string strDirectory = strList.substr(nStart, nEnd - nStart);
    std::string strCandidate = (strDirectory.empty() ? "." : strDirectory) + "/" + strWord;
    if (IsExecutableFile(strCandidate)) {
      *pstrPath = strCandidate;
      return ERROR_SUCCESS;
    }
    nStart = nEnd + 1;
  }
  return ERROR_FILE_NOT_FOUND;
}

bool ReadAll(int fd, void* lpBuffer, std::size_t nSize) {
  char* p = static_cast<char*>(lpBuffer);
  std::size_t nDone = 0;
  while (nDone < nSize) {
    ssize_t n = read(fd, p + nDone, nSize - nDone);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    nDone += static_cast<std::size_t>(n);
  }
  return true;
}

void WriteInt(int fd, int nValue) {
  ssize_t n;
  do {
    n = write(fd, &nValue, sizeof(nValue));
  } while (n < 0 && errno == EINTR);
}

// Everything below runs in the forked children, where only async-signal-safe
// calls are allowed: all memory was prepared by the parent.
[[noreturn]] void RunService(const char* lpPath, char* const* argv, char* const* envp, int fdInput,
                             int fdOutput, int fdStatus, int nMaxFd) {
  // Its own process group, so that a stop can reach every process it starts.
  setpgid(0, 0);
  sigset_t empty;
  sigemptyset(&empty);
  sigprocmask(SIG_SETMASK, &empty, nullptr);
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof(dfl));
  dfl.sa_handler = SIG_DFL;
  const int signals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGUSR1, SIGUSR2};
  for (int nSignal : signals) sigaction(nSignal, &dfl, nullptr);
  dup2(fdInput, 0);
  dup2(fdOutput, 1);
  dup2(fdOutput, 2);
  if (chdir("/") != 0) {
    // The root directory always exists; nothing to do if it somehow does not.
  }
  // The status pipe moves to descriptor 3 (still closed by exec) so that
  // everything above it can be closed in one go.
  if (fdStatus != 3) {
    if (dup3(fdStatus, 3, O_CLOEXEC) < 0) _exit(126);
    fdStatus = 3;
  }
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 4u, ~0u, 0u) != 0)
#endif
  {
    for (int fd = 4; fd < nMaxFd; ++fd) close(fd);
  }
  execve(lpPath, argv, envp);
  WriteInt(fdStatus, errno);
  _exit(127);
}

}  // namespace

DWORD LaunchDetached(const CLaunch& launch, DWORD* pdwProcessId) {
  *pdwProcessId = 0;
  std::vector<std::string> words;
  bool bNeedsShell = false;
  SplitCommandLine(launch.strCommandLine, &words, &bNeedsShell);
  if (words.empty()) return ERROR_FILE_NOT_FOUND;
  std::string strProgram;
  if (bNeedsShell) {
    strProgram = "/bin/sh";
    words = {"sh", "-c", launch.strCommandLine};
  } else {
    DWORD dwError = ResolveProgram(words[0], &strProgram);
    if (dwError != ERROR_SUCCESS) return dwError;
  }

  std::vector<char*> argv;
  for (std::string& strWord : words) argv.push_back(&strWord[0]);
  argv.push_back(nullptr);
  std::vector<std::string> environment;
  for (char** p = environ; p && *p; ++p) {
    if (std::strncmp(*p, "KX_SERVICE_NAME=", 16) != 0 && std::strncmp(*p, "KX_SYSTEM_ROOT=", 15) != 0) {
      environment.push_back(*p);
    }
  }
  environment.push_back("KX_SERVICE_NAME=" + launch.strServiceName);
  environment.push_back("KX_SYSTEM_ROOT=" + GetSystemRoot());
  std::vector<char*> envp;
  for (std::string& strEntry : environment) envp.push_back(&strEntry[0]);
  envp.push_back(nullptr);

  struct rlimit limit;
  int nMaxFd = 1024;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    nMaxFd = static_cast<int>(limit.rlim_cur < 65536 ? limit.rlim_cur : 65536);
  }

  int fdInput = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int fdOutput = open(launch.strOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fdOutput < 0) fdOutput = open("/dev/null", O_WRONLY | O_CLOEXEC);
  int pidPipe[2] = {-1, -1};
  int statusPipe[2] = {-1, -1};
  if (fdInput < 0 || fdOutput < 0 || pipe2(pidPipe, O_CLOEXEC) != 0 || pipe2(statusPipe, O_CLOEXEC) != 0) {
    int nError = errno;
    for (int fd : {fdInput, fdOutput, pidPipe[0], pidPipe[1], statusPipe[0], statusPipe[1]}) {
      if (fd >= 0) close(fd);
    }
    return ErrnoToWinError(nError);
  }

  pid_t intermediate = fork();
  if (intermediate == 0) {
    setsid();
    pid_t service = fork();
    if (service == 0) {
      RunService(strProgram.c_str(), argv.data(), envp.data(), fdInput, fdOutput, statusPipe[1], nMaxFd);
    }
    WriteInt(pidPipe[1], service > 0 ? static_cast<int>(service) : -errno);
    _exit(0);
  }
  int nForkError = errno;
  close(fdInput);
  close(fdOutput);
  close(pidPipe[1]);
  close(statusPipe[1]);
  if (intermediate < 0) {
    close(pidPipe[0]);
    close(statusPipe[0]);
    return ErrnoToWinError(nForkError);
  }
  while (waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
  }
  int nProcessId = 0;
  bool bHavePid = ReadAll(pidPipe[0], &nProcessId, sizeof(nProcessId));
  close(pidPipe[0]);
  int nExecError = 0;
  // End of file: the status pipe was closed by a successful exec.
  bool bExecFailed = ReadAll(statusPipe[0], &nExecError, sizeof(nExecError));
  close(statusPipe[0]);
  if (!bHavePid) return ERROR_GEN_FAILURE;
  if (nProcessId <= 0) return ErrnoToWinError(-nProcessId);
  if (bExecFailed) return ErrnoToWinError(nExecError);
  *pdwProcessId = static_cast<DWORD>(nProcessId);
  return ERROR_SUCCESS;
}

}  // namespace service_store
}  // namespace kx
