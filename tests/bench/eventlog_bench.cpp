// Figures of the event logs: show eventlog application 1000 on a log of a
// million records (wall and CPU time), records written per second through the
// API and by eventcreate (one process per record), and the time from a write
// to the watcher's report (the step before the line goes to the terminal).
// Runs on a temporary system state directory; usage:
//   eventlog_bench [records=1000000] [eventcreate runs=200]
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "EventLogManager.h"
#include "KxAgentPluginManager/Writer.h"
#include "commands/EventLogCommands.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/program_path.h"

extern char** environ;

namespace {

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuMs() {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

class CCountingWriter final : public CWriter {
 public:
  int WriteChar(char) override { return 1; }
  int WriteLine(const char* lpText) override {
    ++m_nLines;
    m_nBytes += std::char_traits<char>::length(lpText) + 1;
    return 1;
  }
  int Write(const char*) override { return 1; }
  long m_nLines = 0;
  long m_nBytes = 0;
};

class CLatencyListener : public CEventLogListener {
 public:
  void OnChangeEventLog(const char*, DWORD dwStart, DWORD dwEnd) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (dwStart <= dwEnd) {
      m_dwLastEnd = dwEnd;
      m_cond.notify_all();
    }
  }
  bool WaitFor(DWORD dwRecord) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cond.wait_for(lock, std::chrono::seconds(10), [&] { return m_dwLastEnd >= dwRecord; });
  }
  std::mutex m_mutex;
  std::condition_variable m_cond;
  DWORD m_dwLastEnd = 0;
};

int RunEventCreate(const std::string& strProgram, const std::vector<std::string>& vecArguments) {
  std::vector<std::string> vecArgs = {strProgram};
  vecArgs.insert(vecArgs.end(), vecArguments.begin(), vecArguments.end());
  std::vector<char*> argv;
  for (std::string& strArg : vecArgs) argv.push_back(&strArg[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int nError = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (nError != 0) return -1;
  int nStatus = 0;
  waitpid(pid, &nStatus, 0);
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  long lRecords = argc > 1 ? std::atol(argv[1]) : 1000000;
  int nSpawns = argc > 2 ? std::atoi(argv[2]) : 200;
  char szTemplate[] = "/tmp/kx-eventlog-bench-XXXXXX";
  if (mkdtemp(szTemplate) == nullptr) return 1;
  setenv("KX_SYSTEM_ROOT", szTemplate, 1);
  std::printf("system state directory: %s\n", szTemplate);

  // Records per second through the API, in this process.
  kx::HEVENTSOURCE hSource = nullptr;
  if (kx::RegisterEventLogSource("BenchSource", &hSource) != ERROR_SUCCESS) return 1;
  const char* strings[2] = {"A benchmark record with a message of ordinary length", "second"};
  double dStart = NowMs();
  for (long i = 0; i < lRecords; ++i) {
    if (kx::ReportEventLogEntry(hSource, EVENTLOG_INFORMATION_TYPE, 0, 1000, 2, strings) != ERROR_SUCCESS) {
      std::fprintf(stderr, "write %ld failed\n", i);
      return 1;
    }
  }
  double dWrite = NowMs() - dStart;
  std::printf("API writes:            %ld records in %.0f ms = %.0f records/s\n", lRecords, dWrite,
              lRecords * 1000.0 / dWrite);

  // show eventlog application 1000 on the full log.
  CEventLogManager manager;
  manager.OpenLogs();
  for (int nRun = 0; nRun < 3; ++nRun) {
    CCountingWriter writer;
    double dWall = NowMs();
    double dCpu = CpuMs();
    ShowEventLog(writer, manager, "application", "1000");
    std::printf("show eventlog 1000:    %ld lines (%ld bytes) of %lu records: %.1f ms wall, %.1f ms CPU\n",
                writer.m_nLines, writer.m_nBytes, static_cast<unsigned long>(manager.GetRecordCount("Application")),
                NowMs() - dWall, CpuMs() - dCpu);
  }

  // eventcreate, one process per record.
  std::string strEventCreate = kx::GetProgramDirectory() + "../bin/eventcreate";
  if (RunEventCreate(strEventCreate, {"/?"}) != 0) strEventCreate = kx::GetProgramDirectory() + "eventcreate";
  dStart = NowMs();
  int nDone = 0;
  for (int i = 0; i < nSpawns; ++i) {
    if (RunEventCreate(strEventCreate, {"/L", "System", "/T", "INFORMATION", "/ID", "1", "/SO", "Spawned", "/D",
                                        "spawned"}) == 0) {
      ++nDone;
    }
  }
  double dSpawn = NowMs() - dStart;
  std::printf("eventcreate processes: %d of %d in %.0f ms = %.0f records/s (%s)\n", nDone, nSpawns, dSpawn,
              nDone * 1000.0 / dSpawn, strEventCreate.c_str());

  // Latency from a write to the watcher's report.
  CLatencyListener listener;
  manager.SetListener(&listener);
  manager.StartWatch();
  std::vector<double> vecLatency;
  kx::HEVENTSOURCE hSystem = nullptr;
  kx::RegisterEventLogSource("Spawned", &hSystem);
  for (int i = 0; i < 50; ++i) {
    DWORD dwNext = manager.GetNewestRecordNumber("System") + 1;
    double dWriteAt = NowMs();
    kx::ReportEventLogEntry(hSystem, EVENTLOG_ERROR_TYPE, 0, 1, 1, strings);
    if (listener.WaitFor(dwNext)) vecLatency.push_back(NowMs() - dWriteAt);
    struct timespec pause = {0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  manager.StopWatch();
  double dSum = 0, dMax = 0;
  for (double d : vecLatency) {
    dSum += d;
    if (d > dMax) dMax = d;
  }
  std::printf("write -> report:       %zu samples, mean %.2f ms, max %.2f ms\n", vecLatency.size(),
              vecLatency.empty() ? 0.0 : dSum / vecLatency.size(), dMax);

  kx::DeregisterEventLogSource(hSystem);
  kx::DeregisterEventLogSource(hSource);
  manager.CloseLogs();
  std::string strCommand = std::string("rm -rf ") + szTemplate;
  if (std::system(strCommand.c_str()) != 0) std::printf("could not remove %s\n", szTemplate);
  return 0;
}
