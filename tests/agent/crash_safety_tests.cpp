// The configuration file and the event logs survive a process killed at any
// instant. Its own executable: the tests fork, so no other test's threads may
// be running. Full-size runs: build/tests/store_crash_bench.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "tests/support/StoreCrashInjection.h"
#include "tests/support/TemporarySystemRoot.h"

namespace {

TEST(CrashSafety, SaveKilledAtAnyInstantLeavesTheOldOrTheNewDocument) {
  CTemporarySystemRoot root;
  ASSERT_TRUE(root.Enter("/tmp/kx-savekill-XXXXXX"));
  ASSERT_EQ(0, std::system(("mkdir -p " + root.GetPath() + "/config").c_str()));
  ASSERT_TRUE(CKxAgentConfigManager::Initialize());
  // The delays span a whole save, so that kills land before, in and after its rename.
  CSaveKillOutcome outcome = RunSaveKillLoop(root.GetPath() + "/", 60, 100, 0, 13);
  CKxAgentConfigManager::Terminate();
  EXPECT_EQ(60, outcome.nRuns);
  EXPECT_EQ(0, outcome.nOtherContent);
  EXPECT_EQ(0, outcome.nLaterSaveFailed);
  EXPECT_FALSE(outcome.bTemporaryAtEnd);
  // Both outcomes were reached: the kills did fall into the save.
  EXPECT_GT(outcome.nOldDocument, 0);
  EXPECT_GT(outcome.nNewDocument, 0);
}

TEST(CrashSafety, EventLogWritersOneKilledLeaveWholeRecordsNumberedWithoutGapsReportedOnce) {
  CTemporarySystemRoot root;
  ASSERT_TRUE(root.Enter("/tmp/kx-logkill-XXXXXX"));
  CEventLogKillOutcome outcome = RunEventLogKill(4, 1500);
  EXPECT_EQ(1u, outcome.dwOldest);
  EXPECT_EQ(3u * 1500u + outcome.dwKilledWriterRecords, outcome.dwRecords);
  EXPECT_TRUE(outcome.bKilledPartWay);
  EXPECT_EQ(0, outcome.nUnreadable);
  EXPECT_EQ(0, outcome.nForeign);
  EXPECT_EQ(0, outcome.nOutOfSequence);
  EXPECT_EQ(0, outcome.nReportedTwice);
  EXPECT_EQ(0, outcome.nNeverReported);
}

}  // namespace
