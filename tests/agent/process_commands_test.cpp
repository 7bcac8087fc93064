#include <gtest/gtest.h>

#include "fake_agent_context.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/Writer.h"
#include "commands/SystemCommands.h"
#include "fake_agent_log.h"
#include "platform/error_codes.h"
#include "platform/processes.h"
#include "tests/support/ManualClock.h"
#include "tests/support/RecordingWriter.h"
#include "tests/support/TestChild.h"
#include "tests/support/WaitUntil.h"

namespace {

const char* const kHeader =
    "   PID Process Name                   CPU(%) Process Time   Memory(KB)  Threads\n"
    "------ ------------------------------ ------ -------------- ----------- -------\n";

// The columns of a row: pid, name, cpu, time, memory, threads.
struct CRow {
  unsigned nPid = 0;
  std::string strName;
  int nCpu = -1;
  std::string strTime;
  unsigned long nMemory = 0;
  unsigned nThreads = 0;
};

// Parses a row from both ends: names may hold blanks or exceed their column.
bool ParseRow(const std::string& strLine, CRow* pRow) {
  std::istringstream in(strLine);
  std::vector<std::string> tokens;
  for (std::string strToken; in >> strToken;) tokens.push_back(strToken);
  if (tokens.size() < 6) return false;
  std::size_t n = tokens.size();
  pRow->nPid = static_cast<unsigned>(std::strtoul(tokens[0].c_str(), nullptr, 10));
  pRow->strName = tokens[1];
  for (std::size_t i = 2; i + 4 < n; ++i) pRow->strName += " " + tokens[i];
  pRow->nCpu = std::atoi(tokens[n - 4].c_str());
  pRow->strTime = tokens[n - 3];
  pRow->nMemory = std::strtoul(tokens[n - 2].c_str(), nullptr, 10);
  pRow->nThreads = static_cast<unsigned>(std::strtoul(tokens[n - 1].c_str(), nullptr, 10));
  return true;
}

bool FindRow(const std::vector<std::string>& lines, pid_t pid, CRow* pRow) {
  for (const std::string& strLine : lines) {
    CRow row;
    if (ParseRow(strLine, &row) && row.nPid == static_cast<unsigned>(pid)) {
      *pRow = row;
      return true;
    }
  }
  return false;
}

struct CTimeCase {
  DWORD dwMilliseconds;
  const char* lpExpected;
};

TEST(FormatProcessLineTest, ColumnsAndTimeSplit) {
  const CTimeCase cases[] = {
      {3725000, "  4242 notepad.exe                        12        1:02:05        2048       3"},
      {3725999, "  4242 notepad.exe                        12        1:02:05        2048       3"},
      {0, "  4242 notepad.exe                        12        0:00:00        2048       3"},
      {999, "  4242 notepad.exe                        12        0:00:00        2048       3"},
      {360000000, "  4242 notepad.exe                        12      100:00:00        2048       3"},
  };
  for (const CTimeCase& c : cases) {
    ProcessInfo info;
    std::memset(&info, 0, sizeof(info));
    info.dwProcessId = 4242;
    std::strcpy(info.szName, "notepad.exe");
    info.dwProcessTime = c.dwMilliseconds;
    info.nCPUPercent = 12;
    info.dwThreads = 3;
    info.memory.WorkingSetSize = 2048 * 1024 + 1023;  // KB truncated
    EXPECT_EQ(c.lpExpected, FormatProcessLine(info)) << c.dwMilliseconds;
  }
  ProcessInfo info;
  std::memset(&info, 0, sizeof(info));
  info.dwProcessId = 7;
  std::strcpy(info.szName, "a_name_that_is_longer_than_thirty_characters.exe");
  // Long names are not cut: they push the row to the right.
  EXPECT_EQ(
      "     7 a_name_that_is_longer_than_thirty_characters.exe      0        0:00:00           0       0",
      FormatProcessLine(info));
}


// A clock whose sleep lasts, in real time, until a busy process has had a
// share of processor time, however loaded the machine: what is measured over
// the sleep is then the process's own work, never a short straw of the load.
class CBusyPacedClock : public CManualClock {
 public:
  explicit CBusyPacedClock(pid_t pidBusy) : m_pidBusy(pidBusy), m_dwSleptMs(0) {}
  void Sleep(DWORD dwMilliseconds) override {
    m_dwSleptMs += dwMilliseconds;
    std::uint64_t qwStart = TestCpuMilliseconds(m_pidBusy);
    WaitUntil([&] { return TestCpuMilliseconds(m_pidBusy) >= qwStart + kBusyMs; });
    Advance(dwMilliseconds);
  }
  static const std::uint64_t kBusyMs = 200;
  pid_t m_pidBusy;
  DWORD m_dwSleptMs;
};

TEST(ShowProcessesTest, WithoutMonitoringEveryCpuCellIsZeroAndRealChildrenAreListed) {
  CTestChild sleeper("exec sleep 30");
  usleep(100000);
  CManualClock clock;
  clock.SetSleepAdvances(true);
  CRecordingWriter writer;
  EXPECT_EQ(1, ShowProcesses(writer, 0, 1000, clock));
  // No sample, so no wait.
  EXPECT_EQ(0u, clock.GetTickCount());
  EXPECT_EQ(0u, writer.m_strBytes.find(kHeader));
  ASSERT_GT(writer.m_vecLines.size(), 3u);
  for (std::size_t i = 2; i < writer.m_vecLines.size(); ++i) {
    CRow row;
    ASSERT_TRUE(ParseRow(writer.m_vecLines[i], &row)) << writer.m_vecLines[i];
    EXPECT_EQ(0, row.nCpu) << writer.m_vecLines[i];
  }
  CRow row;
  ASSERT_TRUE(FindRow(writer.m_vecLines, sleeper.Id(), &row));
  EXPECT_EQ("sleep", row.strName);
  EXPECT_EQ("0:00:00", row.strTime);
  EXPECT_GT(row.nMemory, 0u);
  EXPECT_EQ(1u, row.nThreads);
  ASSERT_TRUE(FindRow(writer.m_vecLines, getpid(), &row));
  EXPECT_EQ("agent_tests", row.strName);
}

TEST(ShowProcessesTest, MonitoringSamplesEveryProcessInOnePass) {
  CTestChild busy("while :; do :; done");
  CTestChild sleeper("exec sleep 30");
  CBusyPacedClock clock(busy.Id());
  CRecordingWriter writer;
  EXPECT_EQ(1, ShowProcesses(writer, 1, 1500, clock));
  // One sample of the interval asked for, on the clock given.
  EXPECT_EQ(1500u, clock.m_dwSleptMs);
  CRow busyRow, sleeperRow;
  ASSERT_TRUE(FindRow(writer.m_vecLines, busy.Id(), &busyRow));
  ASSERT_TRUE(FindRow(writer.m_vecLines, sleeper.Id(), &sleeperRow));
  // The loop worked through the sample; one thread has at most one processor.
  EXPECT_GE(busyRow.nCpu, 1);
  EXPECT_LE(busyRow.nCpu, 101);
  EXPECT_LT(sleeperRow.nCpu, busyRow.nCpu);
  EXPECT_EQ("sh", busyRow.strName);
  EXPECT_EQ(1u, busyRow.nThreads);
}

// The handler samples, when the agent monitors, for a second of the agent's clock.
TEST(CmdShowProcessTest, SamplesOnTheAgentsClockOnlyWhenMonitoring) {
  const struct {
    int nMonitoring;
    DWORD dwWaitedMs;
  } cases[] = {{0, 0}, {1, 1000}};
  CTestAgentLog log;
  log.Install<CKxAgentLog>();
  for (const auto& c : cases) {
    CManualClock clock;
    clock.SetSleepAdvances(true);
    CFakeAgentContext context(clock);
    context.m_nCPUMonitoring = c.nMonitoring;
    CKxAgentCommandArgument argument;
    CRecordingWriter writer;
    EXPECT_EQ(1, CmdShowProcess(context, writer, argument));
    EXPECT_EQ(c.dwWaitedMs, clock.GetTickCount()) << c.nMonitoring;
    EXPECT_EQ(0u, writer.m_strBytes.find(kHeader));
  }
  EXPECT_NE(std::string::npos, log.Read("info.log").find("[Command Execute] show process"));
}

TEST(ProcessListTest, CallbackReturningZeroStopsTheWalk) {
  CProcessList list;
  int nCalls = 0;
  EXPECT_EQ(1, list.EnumerateProcesses(
                   [](const ProcessInfo&, void* lpContext) {
                     ++*static_cast<int*>(lpContext);
                     return 0;
                   },
                   &nCalls));
  EXPECT_EQ(1, nCalls);
}

TEST(CmdKillTest, KillsARealChildAndLogsTheCommand) {
  CFakeAgentContext context;
  CTestAgentLog log;
  log.Install<CKxAgentLog>();
  CTestChild child("exec sleep 30");
  usleep(100000);  // past the exec, so the name is the program's
  std::string strPid = std::to_string(child.Id());
  CKxAgentCommandArgument argument;
  argument.Add("PID", strPid.c_str());
  CRecordingWriter writer;
  EXPECT_EQ(1, CmdKill(context, writer, argument));
  EXPECT_EQ("Process (" + strPid + ") 'sleep' terminated.\n", writer.m_strBytes);
  int nStatus = child.Reap();
  EXPECT_TRUE(WIFSIGNALED(nStatus));
  EXPECT_NE(std::string::npos, log.Read("info.log").find("[Command Execute] kill " + strPid));
}

TEST(CmdKillTest, UnparsableOrZeroOrVanishedIdGivesTheParameterError) {
  CFakeAgentContext context;
  const char* ids[] = {"0", "abc", "", "4294967295", "99999999999"};
  for (const char* lpId : ids) {
    CKxAgentCommandArgument argument;
    argument.Add("PID", lpId);
    CRecordingWriter writer;
    EXPECT_EQ(1, CmdKill(context, writer, argument));
    EXPECT_EQ("[Error] (0x00000057) The parameter is incorrect.\n", writer.m_strBytes) << lpId;
  }
}

}  // namespace
