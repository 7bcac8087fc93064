#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>
#include <sys/prctl.h>
#include <cstring>

#include "platform/error_codes.h"
#include "platform/processes.h"
#include "platform/sync.h"
#include "tests/support/TestChild.h"
#include "tests/support/WaitUntil.h"

namespace {

bool FindEntry(DWORD dwProcessId, kx::PROCESSENTRY* pEntry) {
  std::vector<kx::PROCESSENTRY> entries;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetProcessSnapshot(&entries));
  for (const kx::PROCESSENTRY& entry : entries) {
    if (entry.th32ProcessID == dwProcessId) {
      *pEntry = entry;
      return true;
    }
  }
  return false;
}

TEST(ProcessSnapshotTest, ListsThisProcessWithItsThreadsInIdOrder) {
  // The worker stays until the snapshots are taken, however slow the machine.
  std::atomic<bool> bDone(false);
  std::thread worker([&bDone] {
    while (!bDone.load()) kx::Sleep(10);
  });
  std::vector<kx::PROCESSENTRY> entries;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetProcessSnapshot(&entries));
  EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(),
                             [](const kx::PROCESSENTRY& a, const kx::PROCESSENTRY& b) {
                               return a.th32ProcessID < b.th32ProcessID;
                             }));
  kx::PROCESSENTRY self;
  ASSERT_TRUE(FindEntry(static_cast<DWORD>(getpid()), &self));
  EXPECT_GE(self.cntThreads, 2u);
  EXPECT_STREQ("platform_tests", self.szExeFile);
  bDone = true;
  worker.join();
}

// The kernel cuts task names at 15 bytes; the snapshot gives the whole name.
TEST(ProcessSnapshotTest, ImageNameLongerThanTheKernelKeepsItWhole) {
  std::string strDir = ::testing::TempDir() + "kxproc" + std::to_string(getpid());
  std::string strProgram = strDir + "/a_rather_long_program_name";
  ASSERT_EQ(0, std::system(("mkdir -p " + strDir + " && cp /bin/sh " + strProgram).c_str()));
  {
    // The shell's own child keeps no output open: the test's output ends with the test.
    CTestChild child("sleep 5 >/dev/null 2>&1 & wait", strProgram.c_str());
    kx::PROCESSENTRY entry = {};
    // Until the exec the child still carries the test's name.
    EXPECT_TRUE(WaitUntil([&] {
      return FindEntry(child.Id(), &entry) && std::string(entry.szExeFile) == "a_rather_long_program_name";
    })) << entry.szExeFile;
  }
  std::system(("rm -rf " + strDir).c_str());
}

TEST(OpenProcessTest, IdZeroAndVanishedProcessAreInvalidParameters) {
  kx::HPROCESS hProcess = nullptr;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), kx::OpenProcess(0, &hProcess));
  EXPECT_EQ(nullptr, hProcess);
  // An id above the signal range would address process groups; never opened.
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), kx::OpenProcess(0xFFFFFFFFu, &hProcess));
  CTestChild child("exit 0");
  DWORD dwGone = child.Id();
  child.Reap();
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), kx::OpenProcess(dwGone, &hProcess));
}

TEST(OpenProcessTest, ReadsTimesAndMemoryOfABusyChild) {
  // Touches about 40 MB, then spins.
  CTestChild child("x=$(head -c 40000000 /dev/zero | tr '\\0' a); while :; do :; done");
  kx::HPROCESS hProcess = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenProcess(child.Id(), &hProcess));
  // On a loaded machine the child may need far longer than usual to fill its
  // memory and spend CPU time: poll, bounded, instead of sleeping a fixed time.
  std::uint64_t qwKernel = 0, qwUser = 0;
  kx::PROCESS_MEMORY_COUNTERS counters;
  for (int i = 0; i < 300; ++i) {
    kx::Sleep(100);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetProcessTimes(hProcess, &qwKernel, &qwUser));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetProcessMemoryCounters(hProcess, &counters));
    if (qwKernel + qwUser > 200u && counters.WorkingSetSize > (30u << 20)) break;
  }
  EXPECT_GT(qwKernel + qwUser, 200u);
  EXPECT_GT(counters.WorkingSetSize, 30u << 20);
  EXPECT_GE(counters.PeakWorkingSetSize, counters.WorkingSetSize);
  char szName[260];
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetProcessImageName(hProcess, szName, sizeof(szName)));
  EXPECT_STREQ("sh", szName);
  kx::CloseProcess(hProcess);
}

TEST(TerminateProcessTest, KillsTheChildAndThenReportsItGone) {
  CTestChild child("exec sleep 30");
  kx::HPROCESS hProcess = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenProcess(child.Id(), &hProcess));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::TerminateProcess(hProcess, 255));
  int nStatus = child.Reap();
  EXPECT_TRUE(WIFSIGNALED(nStatus));
  EXPECT_EQ(SIGKILL, WTERMSIG(nStatus));
  // The handle stays bound to the ended process, whatever reuses its id.
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), kx::TerminateProcess(hProcess, 255));
  std::uint64_t qwKernel, qwUser;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), kx::GetProcessTimes(hProcess, &qwKernel, &qwUser));
  kx::CloseProcess(hProcess);
}

TEST(ProcessCpuQueryTest, BusyChildUpToOneProcessorIdleChildNearZero) {
  CTestChild busy("while :; do :; done");
  CTestChild idle("exec sleep 30");
  kx::CProcessCpuQuery query;
  ASSERT_TRUE(query.Open());
  ASSERT_TRUE(query.Collect());
  EXPECT_EQ(-1, query.GetLongValue(busy.Id()));  // one collection is not a rate yet
  // The sample lasts until the loop has worked, however loaded the machine.
  std::uint64_t qwStart = TestCpuMilliseconds(busy.Id());
  ASSERT_TRUE(WaitUntil([&] { return TestCpuMilliseconds(busy.Id()) >= qwStart + 200; }));
  ASSERT_TRUE(query.Collect());
  LONG lBusy = query.GetLongValue(busy.Id());
  // At most one processor for one thread.
  EXPECT_GE(lBusy, 1);
  EXPECT_LE(lBusy, 110);
  EXPECT_LE(query.GetLongValue(idle.Id()), 2);
  EXPECT_EQ(-1, query.GetLongValue(0));
  std::unordered_map<DWORD, int> values;
  query.GetAllValues(&values);
  EXPECT_EQ(1u, values.count(busy.Id()));
  EXPECT_EQ(1u, values.count(static_cast<DWORD>(getpid())));
  query.Close();
  EXPECT_EQ(-1, query.GetLongValue(busy.Id()));
}

// Any user may name a task with control characters; an image name as the
// process table hands it out never holds one, so a row of show process stays
// one line on the terminal.
TEST(ProcessNameTest, ControlCharactersInATaskNameDoNotReachTheImageName) {
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
