// Crash injection for the two stores that must survive a crash at any instant:
// the system configuration file and the event logs. Shared by the tests (small
// counts) and the benchmark (full size).
#pragma once

#include <string>

#include "platform/kx_types.h"

// What killing SaveSystemConfig at random instants came to.
struct CSaveKillOutcome {
  int nRuns = 0;
  int nOldDocument = 0;       // the file was the document before the save
  int nNewDocument = 0;       // the file was the document being saved
  int nOtherContent = 0;      // anything else: a fault
  int nTemporaryLeft = 0;     // runs after which a temporary file remained
  int nLaterSaveFailed = 0;   // saves that failed after a killed one: a fault
  bool bTemporaryAtEnd = true;  // a temporary file after the last, unkilled save: a fault
  int nMaxDelayMs = 0;         // the delays drawn from 0 to this
  double dSaveMs = 0;          // how long one save took, unkilled
  double dSeconds = 0;
};

// nRuns times: a child process saves a configuration of nAccounts accounts
// (alternately one of two documents) to <strBaseDir>config/sysconfig.xml and
// is killed with SIGKILL after a random delay of 0 to nMaxDelayMs
// milliseconds (nMaxDelayMs 0: 2.5 times as long as one save takes, so that
// the kills fall into every phase of the save, the rename included). The XML
// library must be initialised.
CSaveKillOutcome RunSaveKillLoop(const std::string& strBaseDir, int nRuns, int nAccounts, int nMaxDelayMs,
                                 unsigned int uSeed);

// What concurrent event-log writers, one of them killed part-way, came to.
struct CEventLogKillOutcome {
  DWORD dwRecords = 0;          // records in the log afterwards
  DWORD dwOldest = 0;
  DWORD dwKilledWriterRecords = 0;
  bool bKilledPartWay = false;  // the first writer was still writing when it was killed
  int nUnreadable = 0;          // numbers 1..dwRecords that could not be read: a fault
  int nForeign = 0;             // records no writer wrote as they read: a fault
  int nOutOfSequence = 0;       // a writer's records not in the order it wrote them, or one missing: a fault
  int nReportedTwice = 0;       // record numbers the watcher reported more than once: a fault
  int nNeverReported = 0;       // record numbers the watcher never reported: a fault
  double dSeconds = 0;
};

// nWriters processes write to the System log of the current system state
// directory at once: nRecordsEach records each, but the first writes until it
// is killed with SIGKILL, which happens once about half of the others' records
// are in (a writer with a limit could finish before that on a lucky schedule). An event-log manager watches the
// log all the while.
CEventLogKillOutcome RunEventLogKill(int nWriters, int nRecordsEach);
