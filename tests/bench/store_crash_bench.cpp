// Crash injection at full size, with its figures:
//   store_crash_bench [save runs (1000)] [writers (4)] [records per writer (10000)]
// SaveSystemConfig of a large configuration killed with SIGKILL after 0-20 ms,
// then concurrent event-log writers of which the first is killed half-way.
// Exits 1 when either store shows a fault.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "tests/support/StoreCrashInjection.h"
#include "tests/support/TemporarySystemRoot.h"

int main(int argc, char** argv) {
  int nSaveRuns = argc > 1 ? std::atoi(argv[1]) : 1000;
  int nWriters = argc > 2 ? std::atoi(argv[2]) : 4;
  int nRecords = argc > 3 ? std::atoi(argv[3]) : 10000;
  bool bFault = false;

  CTemporarySystemRoot root;
  if (!root.Enter("/tmp/kx-crash-bench-XXXXXX")) return 2;
  if (std::system(("mkdir -p " + root.GetPath() + "/config").c_str()) != 0) return 2;
  if (!CKxAgentConfigManager::Initialize()) return 2;
  // Kills after 0-20 ms into the save of a large configuration, then kills
  // spread over the whole save of a smaller one (so that some land after the rename).
  const struct {
    int nRuns;
    int nAccounts;
    int nMaxDelayMs;
  } kLoops[] = {{nSaveRuns, 3000, 20}, {nSaveRuns / 4, 300, 0}};
  for (const auto& loop : kLoops) {
    CSaveKillOutcome save = RunSaveKillLoop(root.GetPath() + "/", loop.nRuns, loop.nAccounts, loop.nMaxDelayMs, 1);
    std::printf("SaveSystemConfig of %d accounts (one save %.0f ms) killed after 0-%d ms: %d runs in %.1f s: %d old "
                "document, %d new document, %d other content; %d runs left a temporary file, %d later saves failed; "
                "temporary file at the end: %s\n",
                loop.nAccounts, save.dSaveMs, save.nMaxDelayMs, save.nRuns, save.dSeconds, save.nOldDocument,
                save.nNewDocument, save.nOtherContent, save.nTemporaryLeft, save.nLaterSaveFailed,
                save.bTemporaryAtEnd ? "yes" : "no");
    bFault |= save.nRuns != loop.nRuns || save.nOtherContent != 0 || save.nLaterSaveFailed != 0 ||
              save.bTemporaryAtEnd;
  }
  CKxAgentConfigManager::Terminate();

  CEventLogKillOutcome log = RunEventLogKill(nWriters, nRecords);
  std::printf("Event log, %d writers of %d records, the first writing until it is killed: %lu records (oldest %lu) in %.1f s, "
              "%lu from the killed writer; unreadable %d, foreign %d, out of sequence %d; watcher: reported twice %d, "
              "never reported %d\n",
              nWriters, nRecords, static_cast<unsigned long>(log.dwRecords), static_cast<unsigned long>(log.dwOldest),
              log.dSeconds, static_cast<unsigned long>(log.dwKilledWriterRecords), log.nUnreadable, log.nForeign,
              log.nOutOfSequence, log.nReportedTwice, log.nNeverReported);
  bFault |= log.dwOldest != 1 ||
            log.dwRecords != static_cast<DWORD>(nWriters - 1) * static_cast<DWORD>(nRecords) + log.dwKilledWriterRecords ||
            log.nUnreadable != 0 || log.nForeign != 0 || log.nOutOfSequence != 0 || log.nReportedTwice != 0 ||
            log.nNeverReported != 0;
  std::printf("%s\n", bFault ? "FAULT" : "no fault");
  return bFault ? 1 : 0;
}
