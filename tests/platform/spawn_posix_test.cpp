// The one routine that starts child programs.
#include "platform/spawn_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/error_codes.h"

namespace {

// Runs /bin/sh -c with the output in a pipe; the text it wrote, once it ends.
struct CRun {
  DWORD dwError = ERROR_GEN_FAILURE;
  std::string strOutput;
  int nStatus = -1;
};

CRun RunShell(const char* lpProgram, const char* lpScript, kx::CSpawnOptions options = kx::CSpawnOptions()) {
  CRun run;
  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) return run;
  std::string strProgram = lpProgram;
  std::string strFlag = "-c";
  std::string strScript = lpScript;
  char* argv[] = {&strProgram[0], &strFlag[0], &strScript[0], nullptr};
  options.lpProgram = strProgram.c_str();
  options.argv = argv;
  options.fdOutput = output[1];
  pid_t pid = 0;
  run.dwError = kx::SpawnProcess(options, &pid);
  close(output[1]);
  char buffer[256];
  ssize_t n;
  while ((n = read(output[0], buffer, sizeof(buffer))) > 0) run.strOutput.append(buffer, static_cast<size_t>(n));
  close(output[0]);
  if (run.dwError == ERROR_SUCCESS && !options.bDetached) waitpid(pid, &run.nStatus, 0);
  return run;
}

TEST(SpawnProcessTest, AProgramThatCannotRunIsReportedAsItsError) {
  struct FailCase {
    const char* lpProgram;
    DWORD dwError;
  };
  const FailCase cases[] = {
      {"/nonexistent/program", ERROR_FILE_NOT_FOUND},
      {"/etc/passwd", ERROR_ACCESS_DENIED},  // a file nobody may run
  };
  for (const FailCase& test : cases) {
    for (bool bDetached : {false, true}) {
      kx::CSpawnOptions options;
      options.bDetached = bDetached;
      EXPECT_EQ(test.dwError, RunShell(test.lpProgram, "", options).dwError) << test.lpProgram << " " << bDetached;
    }
  }
  // Nothing is left to reap after a failure.
  EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
  EXPECT_EQ(ECHILD, errno);
}

// Nothing of the caller reaches the child: no descriptor above standard error,
// no blocked or ignored signal, and it starts where it is told.
TEST(SpawnProcessTest, TheChildStartsClean) {
  int fdLeak = open("/dev/null", O_RDONLY);  // deliberately without close-on-exec
  ASSERT_GE(fdLeak, 3);
  sigset_t block, previous;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &block, &previous);
  struct sigaction ignore = {}, saved = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR2, &ignore, &saved);

  kx::CSpawnOptions options;
  options.lpDirectory = "/";
  CRun run = RunShell("/bin/sh",
                 "ls /proc/self/fd | wc -l; pwd; grep -E '^Sig(Blk|Ign)' /proc/self/status | "
                 "awk '{print $2}' | tr -d 0 | wc -c",
                 options);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  sigaction(SIGUSR2, &saved, nullptr);
  close(fdLeak);

  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), run.dwError);
  // 0, 1, 2 and the one ls opens to read the directory; "/"; two empty masks (two line ends).
  EXPECT_EQ("4\n/\n2\n", run.strOutput);
  EXPECT_TRUE(WIFEXITED(run.nStatus) && WEXITSTATUS(run.nStatus) == 0);
}

TEST(SpawnProcessTest, ADetachedProgramLeavesNoChildAndLeadsNoSession) {
  kx::CSpawnOptions options;
  options.bDetached = true;
  // Fields 5 and 6 of /proc/<pid>/stat: the process group and the session.
  CRun run = RunShell("/bin/sh", "echo $$ $(cut -d' ' -f5,6 /proc/$$/stat)", options);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), run.dwError);
  long lPid = 0, lSession = 0, lGroup = 0;
  ASSERT_EQ(3, std::sscanf(run.strOutput.c_str(), "%ld %ld %ld", &lPid, &lGroup, &lSession)) << run.strOutput;
  EXPECT_EQ(lPid, lGroup);      // a process group of its own
  EXPECT_NE(lPid, lSession);    // in a session it does not lead
  EXPECT_NE(static_cast<long>(getsid(0)), lSession);
  EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
}

}  // namespace
