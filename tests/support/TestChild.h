// Child processes for tests: a shell script run in a child that is killed and
// reaped when the test leaves its scope, and the processor time a process has
// used, for tests that must wait for work rather than for the clock. POSIX only.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

#include "platform/error_codes.h"
#include "platform/processes.h"

class CTestChild {
 public:
  // Runs `lpScript` with `lpProgram -c` (argv[0] "sh").
  explicit CTestChild(const char* lpScript, const char* lpProgram = "/bin/sh") {
    m_pid = fork();
    if (m_pid == 0) {
      execl(lpProgram, "sh", "-c", lpScript, static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~CTestChild() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      Reap();
    }
  }
  CTestChild(const CTestChild&) = delete;
  CTestChild& operator=(const CTestChild&) = delete;

  pid_t Id() const { return m_pid; }
  // Waits for the child to end; its wait status.
  int Reap() {
    int nStatus = 0;
    if (m_pid > 0) waitpid(m_pid, &nStatus, 0);
    m_pid = -1;
    return nStatus;
  }

 private:
  pid_t m_pid;
};

// Processor time (kernel and user) of a process in milliseconds; 0 when it
// cannot be read.
inline std::uint64_t TestCpuMilliseconds(pid_t pid) {
  kx::HPROCESS hProcess = nullptr;
  if (kx::OpenProcess(static_cast<DWORD>(pid), &hProcess) != ERROR_SUCCESS) return 0;
  std::uint64_t qwKernelMs = 0, qwUserMs = 0;
  kx::GetProcessTimes(hProcess, &qwKernelMs, &qwUserMs);
  kx::CloseProcess(hProcess);
  return qwKernelMs + qwUserMs;
}
