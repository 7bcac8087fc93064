#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/processes.h"

namespace {

// Any user may name a task with control characters; an image name as the
// process table hands it out never holds one, so a row of show process stays
// one line on the terminal.
TEST(ProcessNameReviewTest, ControlCharactersInATaskNameDoNotReachTheImageName) {
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_NAME, "kx\r\nroot#\t\x1b", 0, 0, 0);
    if (write(ready[1], "r", 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  ASSERT_GT(pid, 0);
  char c = 0;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  close(ready[0]);
  close(ready[1]);

  std::vector<kx::PROCESSENTRY> entries;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetProcessSnapshot(&entries));
  std::string strSnapshotName = "<not listed>";
  for (const kx::PROCESSENTRY& entry : entries) {
    if (entry.th32ProcessID == static_cast<DWORD>(pid)) strSnapshotName = entry.szExeFile;
  }
  kx::HPROCESS hProcess = nullptr;
  char szName[260] = "";
  if (kx::OpenProcess(static_cast<DWORD>(pid), &hProcess) == ERROR_SUCCESS) {
    kx::GetProcessImageName(hProcess, szName, sizeof(szName));
    kx::CloseProcess(hProcess);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);

  EXPECT_EQ("kx??root#??", strSnapshotName);
  EXPECT_STREQ("kx??root#??", szName);
}

}  // namespace
