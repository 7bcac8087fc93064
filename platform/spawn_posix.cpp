#include "platform/spawn_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error_codes.h"
#include "platform/posix_error.h"

extern char** environ;

namespace kx {

namespace {

// What the child writes into the status pipe before it ends.
struct CSpawnStatus {
  int nErrno;
  pid_t pid;  // the detached grandchild; 0 otherwise
};

void WriteStatus(int fd, int nErrno, pid_t pid) {
  CSpawnStatus status = {nErrno, pid};
  ssize_t n;
  do {
    n = write(fd, &status, sizeof(status));
  } while (n < 0 && errno == EINTR);
}

bool ReadStatus(int fd, CSpawnStatus* pStatus) {
  char* p = reinterpret_cast<char*>(pStatus);
  std::size_t nDone = 0;
  while (nDone < sizeof(*pStatus)) {
    ssize_t n = read(fd, p + nDone, sizeof(*pStatus) - nDone);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    nDone += static_cast<std::size_t>(n);
  }
  return true;
}

void WaitForChild(pid_t pid) {
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Everything below runs in the forked child, where only async-signal-safe calls
// are allowed: all memory was prepared by the parent.
[[noreturn]] void Fail(int fdStatus, int nErrno) {
  WriteStatus(fdStatus, nErrno, 0);
  _exit(127);
}

[[noreturn]] void RunChild(const CSpawnOptions& options, char* const* envp, int fdInput, int fdOutput,
                           int fdError, int fdStatus, int nMaxFd) {
  sigset_t empty;
  sigemptyset(&empty);
  sigprocmask(SIG_SETMASK, &empty, nullptr);
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof(dfl));
  dfl.sa_handler = SIG_DFL;
  for (int nSignal = 1; nSignal < NSIG; ++nSignal) {
    if (nSignal != SIGKILL && nSignal != SIGSTOP) sigaction(nSignal, &dfl, nullptr);
  }
  if (options.bNewSession && setsid() < 0) Fail(fdStatus, errno);
  if (options.lpTerminal != nullptr) {
    // Opened without O_NOCTTY by a session leader: it becomes the controlling terminal.
    int fdTerminal = open(options.lpTerminal, O_RDWR);
    if (fdTerminal < 0) Fail(fdStatus, errno);
    fdInput = fdOutput = fdError = fdTerminal;
  }
  // The status pipe first moves out of the way of the standard descriptors.
  if (fdStatus <= 2) {
    int fdMoved = fcntl(fdStatus, F_DUPFD_CLOEXEC, 3);
    if (fdMoved < 0) Fail(fdStatus, errno);
    fdStatus = fdMoved;
  }
  if (dup2(fdInput, 0) < 0 || dup2(fdOutput, 1) < 0 || dup2(fdError, 2) < 0) Fail(fdStatus, errno);
  // Then to descriptor 3 (still closed by the exec), so that everything above
  // it can be closed in one go.
  if (fdStatus != 3) {
    if (dup3(fdStatus, 3, O_CLOEXEC) < 0) Fail(fdStatus, errno);
    fdStatus = 3;
  }
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 4u, ~0u, 0u) != 0)
#endif
  {
    for (int fd = 4; fd < nMaxFd; ++fd) close(fd);
  }
  if (options.lpDirectory != nullptr && chdir(options.lpDirectory) != 0) Fail(fdStatus, errno);
  if (options.bDetached) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild < 0) Fail(fdStatus, errno);
    if (grandchild > 0) {
      // The grandchild inherited the pipe: its exec closes it, or it reports.
      WriteStatus(fdStatus, 0, grandchild);
      _exit(0);
    }
    setpgid(0, 0);
  }
  execve(options.lpProgram, options.argv, envp);
  Fail(fdStatus, errno);
}

}  // namespace

DWORD SpawnProcess(const CSpawnOptions& options, pid_t* pPid) {
  *pPid = 0;
  if (options.lpProgram == nullptr || options.argv == nullptr) return ERROR_INVALID_PARAMETER;
  char* const* envp = options.envp != nullptr ? options.envp : environ;
  struct rlimit limit;
  int nMaxFd = 1024;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    nMaxFd = static_cast<int>(limit.rlim_cur < 65536 ? limit.rlim_cur : 65536);
  }
  int fdNull = -1;
  if (options.lpTerminal == nullptr && (options.fdInput < 0 || options.fdOutput < 0 || options.fdError < 0)) {
    fdNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (fdNull < 0) return ErrnoToWinError(errno);
  }
  int fdInput = options.fdInput >= 0 ? options.fdInput : fdNull;
  int fdOutput = options.fdOutput >= 0 ? options.fdOutput : fdNull;
  int fdError = options.fdError >= 0 ? options.fdError : fdNull;
  int statusPipe[2] = {-1, -1};
  if (pipe2(statusPipe, O_CLOEXEC) != 0) {
    int nError = errno;
    if (fdNull >= 0) close(fdNull);
    return ErrnoToWinError(nError);
  }
  pid_t child = fork();
  if (child == 0) RunChild(options, envp, fdInput, fdOutput, fdError, statusPipe[1], nMaxFd);
  int nForkError = errno;
  close(statusPipe[1]);
  if (fdNull >= 0) close(fdNull);
  if (child < 0) {
    close(statusPipe[0]);
    return ErrnoToWinError(nForkError);
  }

  CSpawnStatus status = {0, 0};
  bool bReported = ReadStatus(statusPipe[0], &status);
  DWORD dwError = ERROR_SUCCESS;
  pid_t started = child;
  if (options.bDetached) {
    // The intermediate reports the grandchild and ends; the grandchild's exec
    // closes the pipe (end of file) or reports its failure.
    WaitForChild(child);
    if (!bReported) {
      dwError = ERROR_GEN_FAILURE;
    } else if (status.nErrno != 0) {
      dwError = ErrnoToWinError(status.nErrno);
    } else {
      started = status.pid;
      CSpawnStatus exec = {0, 0};
      if (ReadStatus(statusPipe[0], &exec)) dwError = ErrnoToWinError(exec.nErrno);
    }
  } else if (bReported) {
    // End of file: the exec closed the pipe. A report: the child failed and ends.
    dwError = ErrnoToWinError(status.nErrno);
    WaitForChild(child);
  }
  close(statusPipe[0]);
  if (dwError != ERROR_SUCCESS) return dwError;
  *pPid = started;
  return ERROR_SUCCESS;
}

}  // namespace kx
