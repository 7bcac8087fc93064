#include "tests/support/StoreCrashInjection.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <vector>

#include "EventLogManager.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"

namespace {

std::string ReadBytes(const std::string& strPath) {
  std::ifstream file(strPath, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& strPath) { return access(strPath.c_str(), F_OK) == 0; }

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Builds document nVariant (0 or 1) of nAccounts accounts, each allowed every
// built-in command, and saves it. TRUE when the save succeeded.
BOOL SaveDocument(const std::string& strBaseDir, int nVariant, int nAccounts) {
  CKxAgentConfigManager manager(strBaseDir.c_str());
  manager.SetLogonTimeout(nVariant == 0 ? 600 : 900);
  for (int i = 0; i < nAccounts; ++i) {
    std::string strName = "account-" + std::to_string(i) + (nVariant == 0 ? "-old" : "-new");
    CKxAgentLogonAccount* pAccount = manager.AddLogonAccount(strName.c_str(), "", TRUE, FALSE);
    for (int nID = 0; nID <= 16; ++nID) pAccount->AddAllowCommandID(nID);
  }
  return manager.SaveSystemConfig();
}

void SleepMicroseconds(long lMicroseconds) {
  struct timespec span = {lMicroseconds / 1000000, (lMicroseconds % 1000000) * 1000};
  while (nanosleep(&span, &span) != 0) {
  }
}

}  // namespace

CSaveKillOutcome RunSaveKillLoop(const std::string& strBaseDir, int nRuns, int nAccounts, int nMaxDelayMs,
                                 unsigned int uSeed) {
  CSaveKillOutcome outcome;
  auto start = std::chrono::steady_clock::now();
  const std::string strPath = strBaseDir + "config/sysconfig.xml";
  const std::string strTemporary = strPath + ".tmp";
  std::string documents[2];
  for (int nVariant = 0; nVariant < 2; ++nVariant) {
    auto saveStart = std::chrono::steady_clock::now();
    if (!SaveDocument(strBaseDir, nVariant, nAccounts)) return outcome;
    outcome.dSaveMs = SecondsSince(saveStart) * 1000;
    documents[nVariant] = ReadBytes(strPath);
  }
  outcome.nMaxDelayMs = nMaxDelayMs > 0 ? nMaxDelayMs : static_cast<int>(outcome.dSaveMs * 2.5) + 1;
  std::mt19937 random(uSeed);
  std::uniform_int_distribution<long> delay(0, outcome.nMaxDelayMs * 1000L);
  bool bLastSaveWasKilled = false;
  for (int nRun = 0; nRun < nRuns; ++nRun) {
    std::string strBefore = ReadBytes(strPath);
    int nVariant = strBefore == documents[0] ? 1 : 0;
    pid_t child = fork();
    if (child == 0) {
      // A failed save after a killed one is a fault: say so through the exit code.
      _exit(SaveDocument(strBaseDir, nVariant, nAccounts) ? 0 : 1);
    }
    if (child < 0) break;
    SleepMicroseconds(delay(random));
    kill(child, SIGKILL);
    int nStatus = 0;
    waitpid(child, &nStatus, 0);
    if (WIFEXITED(nStatus) && WEXITSTATUS(nStatus) != 0 && bLastSaveWasKilled) ++outcome.nLaterSaveFailed;
    bLastSaveWasKilled = WIFSIGNALED(nStatus);
    ++outcome.nRuns;
    std::string strAfter = ReadBytes(strPath);
    if (strAfter == strBefore) {
      ++outcome.nOldDocument;
    } else if (strAfter == documents[nVariant]) {
      ++outcome.nNewDocument;
    } else {
      ++outcome.nOtherContent;
    }
    if (Exists(strTemporary)) ++outcome.nTemporaryLeft;
  }
  if (!SaveDocument(strBaseDir, 0, nAccounts)) ++outcome.nLaterSaveFailed;
  outcome.bTemporaryAtEnd = Exists(strTemporary);
  outcome.dSeconds = SecondsSince(start);
  return outcome;
}

namespace {

// Collects every record number the watcher reports.
class CCountingListener : public CEventLogListener {
 public:
  void OnChangeEventLog(const char*, DWORD dwStart, DWORD dwEnd) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (DWORD dwRecord = dwStart; dwRecord <= dwEnd && dwStart <= dwEnd; ++dwRecord) ++m_counts[dwRecord];
    if (dwStart <= dwEnd && dwEnd > m_dwHighest) m_dwHighest = dwEnd;
  }
  DWORD Highest() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dwHighest;
  }
  std::map<DWORD, int> Counts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
  }

 private:
  std::mutex m_mutex;
  std::map<DWORD, int> m_counts;
  DWORD m_dwHighest = 0;
};

// The text writer nWriter gives its nSequence-th record.
std::string RecordText(int nWriter, int nSequence) {
  return "writer " + std::to_string(nWriter) + " record " + std::to_string(nSequence) + " " +
         std::string(static_cast<size_t>(nSequence % 200), static_cast<char>('a' + nWriter % 26));
}

// Waits until the gate's write end is closed, then writes its records.
[[noreturn]] void WriteRecords(int nWriter, int nRecords, int fdGate) {
  char c;
  while (read(fdGate, &c, 1) > 0) {
  }
  std::string strSource = "Writer" + std::to_string(nWriter);
  kx::HEVENTSOURCE hSource = nullptr;
  if (kx::RegisterEventLogSource(strSource.c_str(), &hSource) != ERROR_SUCCESS) _exit(1);
  for (int i = 0; i < nRecords; ++i) {
    std::string strText = RecordText(nWriter, i);
    const char* strings[] = {strText.c_str()};
    if (kx::ReportEventLogEntry(hSource, EVENTLOG_INFORMATION_TYPE, 0, static_cast<DWORD>(nWriter), 1, strings) !=
        ERROR_SUCCESS) {
      _exit(1);
    }
  }
  kx::DeregisterEventLogSource(hSource);
  _exit(0);
}

}  // namespace

CEventLogKillOutcome RunEventLogKill(int nWriters, int nRecordsEach) {
  CEventLogKillOutcome outcome;
  auto start = std::chrono::steady_clock::now();
  for (int nWriter = 0; nWriter < nWriters; ++nWriter) {
    std::string strSource = "Writer" + std::to_string(nWriter);
    kx::InstallEventSource("System", strSource.c_str(), nullptr);
  }
  // The writers are forked before the watcher thread exists, so that none of
  // them can inherit a lock that thread held, and start together once it runs.
  int gate[2];
  if (pipe(gate) != 0) return outcome;
  std::vector<pid_t> writers;
  for (int nWriter = 0; nWriter < nWriters; ++nWriter) {
    pid_t child = fork();
    if (child == 0) {
      close(gate[1]);
      WriteRecords(nWriter, nWriter == 0 ? INT_MAX : nRecordsEach, gate[0]);
    }
    writers.push_back(child);
  }
  close(gate[0]);
  CCountingListener listener;
  CEventLogManager manager;
  manager.SetListener(&listener);
  manager.OpenLogs();
  manager.StartWatch();
  close(gate[1]);
  kx::HEVENTLOG hLog = nullptr;
  kx::OpenEventLogByName("System", &hLog);
  DWORD dwCount = 0;
  while (kx::GetNumberOfEventLogRecords(hLog, &dwCount) == ERROR_SUCCESS &&
         dwCount < static_cast<DWORD>(nRecordsEach) * static_cast<DWORD>(nWriters) / 2) {
    SleepMicroseconds(200);
  }
  kill(writers[0], SIGKILL);
  int nStatus = 0;
  waitpid(writers[0], &nStatus, 0);
  outcome.bKilledPartWay = WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGKILL;
  for (size_t i = 1; i < writers.size(); ++i) waitpid(writers[i], nullptr, 0);

  kx::GetNumberOfEventLogRecords(hLog, &outcome.dwRecords);
  kx::GetOldestEventLogRecord(hLog, &outcome.dwOldest);
  std::vector<int> nextSequence(static_cast<size_t>(nWriters), 0);
  std::vector<char> buffer(300 * 1024);
  for (DWORD dwRecord = 1; dwRecord <= outcome.dwRecords; ++dwRecord) {
    DWORD dwRead = 0;
    DWORD dwNeeded = 0;
    if (kx::ReadEventLogRecord(hLog, dwRecord, buffer.data(), static_cast<DWORD>(buffer.size()), &dwRead,
                               &dwNeeded) != ERROR_SUCCESS) {
      ++outcome.nUnreadable;
      continue;
    }
    const kx::EVENTLOGRECORD* pRecord = reinterpret_cast<const kx::EVENTLOGRECORD*>(buffer.data());
    int nWriter = static_cast<int>(pRecord->EventID);
    std::string strSource = buffer.data() + sizeof(kx::EVENTLOGRECORD);
    if (nWriter < 0 || nWriter >= nWriters || pRecord->NumStrings != 1 ||
        strSource != "Writer" + std::to_string(nWriter)) {
      ++outcome.nForeign;
      continue;
    }
    std::string strText = buffer.data() + pRecord->StringOffset;
    int& nNext = nextSequence[static_cast<size_t>(nWriter)];
    if (strText == RecordText(nWriter, nNext)) {
      ++nNext;
    } else {
      ++outcome.nOutOfSequence;
    }
  }
  outcome.dwKilledWriterRecords = static_cast<DWORD>(nextSequence[0]);
  for (int nWriter = 1; nWriter < nWriters; ++nWriter) {
    if (nextSequence[static_cast<size_t>(nWriter)] != nRecordsEach) ++outcome.nOutOfSequence;
  }

  // Everything written must have been reported once: wait for the watcher to catch up.
  for (int i = 0; i < 200 && listener.Highest() < outcome.dwRecords; ++i) SleepMicroseconds(50000);
  manager.CloseLogs();
  kx::CloseEventLogHandle(hLog);
  std::map<DWORD, int> counts = listener.Counts();
  for (DWORD dwRecord = 1; dwRecord <= outcome.dwRecords; ++dwRecord) {
    auto it = counts.find(dwRecord);
    if (it == counts.end()) {
      ++outcome.nNeverReported;
    } else if (it->second > 1) {
      ++outcome.nReportedTwice;
    }
  }
  for (const auto& count : counts) {
    if (count.first > outcome.dwRecords) ++outcome.nReportedTwice;
  }
  outcome.dSeconds = SecondsSince(start);
  return outcome;
}
