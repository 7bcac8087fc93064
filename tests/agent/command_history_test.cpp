#include <gtest/gtest.h>

#include <string>

#include "CommandHistory.h"

namespace {

TEST(CommandHistoryTest, EmptyHistoryNeitherMovesNorCrashesAfterReset) {
  CommandHistory history;
  EXPECT_FALSE(history.Previous());
  EXPECT_FALSE(history.Next());
  history.Reset();
  EXPECT_FALSE(history.Previous());
  EXPECT_FALSE(history.Next());
}

TEST(CommandHistoryTest, PreviousWalksBackToOldestAndNextReturnsToNewest) {
  CommandHistory history;
  history.Add("show date");
  history.Add("show version");
  history.Add("logoff");

  ASSERT_TRUE(history.Previous());
  EXPECT_STREQ("logoff", history.Current());
  ASSERT_TRUE(history.Previous());
  EXPECT_STREQ("show version", history.Current());
  ASSERT_TRUE(history.Previous());
  EXPECT_STREQ("show date", history.Current());
  EXPECT_FALSE(history.Previous());
  EXPECT_STREQ("show date", history.Current());

  ASSERT_TRUE(history.Next());
  EXPECT_STREQ("show version", history.Current());
  ASSERT_TRUE(history.Next());
  EXPECT_STREQ("logoff", history.Current());
  EXPECT_FALSE(history.Next());
}

TEST(CommandHistoryTest, NextIsRefusedWhenNotBrowsingAndAddEndsBrowsing) {
  CommandHistory history;
  history.Add("a");
  history.Add("b");
  EXPECT_FALSE(history.Next());
  ASSERT_TRUE(history.Previous());
  history.Add("c");
  EXPECT_FALSE(history.Next());
  ASSERT_TRUE(history.Previous());
  EXPECT_STREQ("c", history.Current());
}

TEST(CommandHistoryTest, ResetRestartsBrowsingAtNewest) {
  CommandHistory history;
  history.Add("a");
  history.Add("b");
  ASSERT_TRUE(history.Previous());
  ASSERT_TRUE(history.Previous());
  history.Reset();
  ASSERT_TRUE(history.Previous());
  EXPECT_STREQ("b", history.Current());
}

TEST(CommandHistoryTest, HundredAndFirstLineReplacesTheOldest) {
  CommandHistory history;
  for (int i = 1; i <= 101; ++i) history.Add(("line " + std::to_string(i)).c_str());

  int nSteps = 0;
  std::string strLast;
  while (history.Previous()) {
    strLast = history.Current();
    ++nSteps;
  }
  EXPECT_EQ(100, nSteps);
  EXPECT_EQ("line 2", strLast);
}

TEST(CommandHistoryTest, WrapsRepeatedlyKeepingTheLastHundred) {
  CommandHistory history;
  for (int i = 1; i <= 350; ++i) history.Add(("line " + std::to_string(i)).c_str());
  ASSERT_TRUE(history.Previous());
  EXPECT_STREQ("line 350", history.Current());
  int nSteps = 1;
  std::string strLast;
  while (history.Previous()) {
    strLast = history.Current();
    ++nSteps;
  }
  EXPECT_EQ(100, nSteps);
  EXPECT_EQ("line 251", strLast);
}

}  // namespace
