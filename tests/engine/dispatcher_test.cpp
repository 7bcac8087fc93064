// The dispatcher over the built-in set: finding, permission, binding, errors,
// listing and completion, checked as the bytes the writer receives.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "KxAgentPluginManager/BuiltInCommand.h"
#include "engine/CommandDispatcher.h"
#include "engine_fakes.h"
#include "tests/support/BuiltInListing.h"

namespace {

// Every built-in handler records (index, bound arguments) and returns 100 + index.
std::vector<std::pair<int, std::string>> g_vecRuns;

template <int N>
int RecordingHandler(CWriter& writer, CKxAgentCommandArgument& argument) {
  g_vecRuns.emplace_back(N, DescribeArguments(argument));
  writer.Write("ran");
  return 100 + N;
}

template <int... N>
void AttachHandlers(CBuiltInCommand& builtIn, std::integer_sequence<int, N...>) {
  (builtIn.SetCommandFunc(N, RecordingHandler<N>), ...);
}

const char kShowListing[] =
    " show version\n"
    " show date\n"
    " show diskinfo [OPTION:hdd]\n"
    " show eventlog {application|security|system} [LINE:10]\n"
    " show process\n"
    " show service [NAME_DISPLAY_OPTION:full]\n";

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() : m_dispatcher(&m_context, &m_writer) {
    g_vecRuns.clear();
    AttachHandlers(m_builtIn, std::make_integer_sequence<int, 17>());
    for (int i = 0; i < m_builtIn.GetCommandCount(); ++i) {
      m_context.m_setAllowed.insert(i);
      m_dispatcher.Register(i, m_builtIn.GetCommandLineDefinition(i), &m_builtIn, i);
    }
  }

  // Dispatches a line and returns what was written.
  std::string Run(const std::string& strLine, int* pResult = nullptr) {
    m_writer.m_strBytes.clear();
    int nResult = m_dispatcher.Dispatch(strLine);
    if (pResult != nullptr) *pResult = nResult;
    return m_writer.m_strBytes;
  }

  std::string List(const std::string& strPrefix) {
    m_writer.m_strBytes.clear();
    m_dispatcher.ListCommands(strPrefix);
    return m_writer.m_strBytes;
  }

  CRecordingWriter m_writer;
  CFakeContext m_context;
  CBuiltInCommand m_builtIn;
  CommandDispatcher m_dispatcher;
};

TEST_F(DispatcherTest, EmptyPrefixListsEveryCommandInOrder) {
  EXPECT_EQ(kBuiltInListing, List(""));
}

TEST_F(DispatcherTest, RunsTheOneMatchingCommand) {
  int nResult = 0;
  EXPECT_EQ("ran", Run("show date", &nResult));
  EXPECT_EQ(101, nResult);
  EXPECT_EQ("ran", Run("show date now", &nResult));
  EXPECT_EQ("ran", Run("sho ver", &nResult));
  EXPECT_EQ(100, nResult);
  ASSERT_EQ(3u, g_vecRuns.size());
  EXPECT_EQ(1, g_vecRuns[0].first);
  EXPECT_EQ(1, g_vecRuns[1].first);
  EXPECT_EQ(0, g_vecRuns[2].first);
}

TEST_F(DispatcherTest, BindsTypedValuesChoicesAndDefaults) {
  const struct {
    const char* lpLine;
    int nIndex;
    const char* lpArguments;
  } kCases[] = {
      {"show eventlog sec 20", 10, "LOGNAME=security LINE=20"},
      {"show eventlog system", 10, "LOGNAME=system LINE=10"},
      {"sho e app 5 extra", 10, "LOGNAME=application LINE=5"},
      {"set enc e", 2, "ENCODING=eucjp"},
      {"set eventlog-notification of", 11, "SWITCH=off"},
      {"reboot 30", 7, "DELAY=30"},
      {"reboot", 7, "DELAY=180"},
      {"kill \"12 34\"", 13, "PID=12 34"},
      {"start service 'my svc'", 15, "SERVICE_NAME=my svc"},
  };
  for (const auto& c : kCases) {
    g_vecRuns.clear();
    EXPECT_EQ("ran", Run(c.lpLine)) << c.lpLine;
    ASSERT_EQ(1u, g_vecRuns.size()) << c.lpLine;
    EXPECT_EQ(c.nIndex, g_vecRuns[0].first) << c.lpLine;
    EXPECT_EQ(c.lpArguments, g_vecRuns[0].second) << c.lpLine;
  }
}

TEST_F(DispatcherTest, WritesTheErrorLineForEachFailure) {
  const struct {
    const char* lpLine;
    const char* lpOutput;
  } kCases[] = {
      {"s d", " show date\n shutdown [DELAY:180]\n show diskinfo [OPTION:hdd]\n"},
      {"show eventlog s",
       "[Error] invalid arguments.\n show eventlog {application|security|system} [LINE:10]\n"},
      {"kill", "[Error] invalid arguments.\n kill {PID}\n"},
      {"set encoding", "[Error] invalid arguments.\n set encoding {sjis|eucjp}\n"},
      {"foo", "[Error] 'foo' command not found.\n"},
      {" \t foo bar \t ", "[Error] 'foo bar' command not found.\n"},
      {"SHOW DATE", "[Error] 'SHOW DATE' command not found.\n"},
      {"show dates", "[Error] 'show dates' command not found.\n"},
      {"show \"date", "[Error] Unterminated quoted string.\n"},
      {"'", "[Error] Unterminated quoted string.\n"},
      {"     ", kBuiltInListing},
  };
  for (const auto& c : kCases) {
    int nResult = -5;
    EXPECT_EQ(c.lpOutput, Run(c.lpLine, &nResult)) << c.lpLine;
    EXPECT_EQ(0, nResult) << c.lpLine;
  }
  EXPECT_TRUE(g_vecRuns.empty());
}

TEST_F(DispatcherTest, QuestionMarkListsTheRestOfTheLine) {
  int nResult = 0;
  EXPECT_EQ(kShowListing, Run("show?", &nResult));
  EXPECT_EQ(1, nResult);
  EXPECT_EQ(kBuiltInListing, Run("?", &nResult));
  EXPECT_EQ(1, nResult);
  EXPECT_EQ("", Run("foo?", &nResult));
  EXPECT_EQ(1, nResult);
  EXPECT_TRUE(g_vecRuns.empty());
}

TEST_F(DispatcherTest, HiddenExecutionHidesDisallowedCommands) {
  m_context.m_setAllowed.erase(7);
  m_context.m_bHidden = true;
  EXPECT_EQ("[Error] 'reboot' command not found.\n", Run("reboot"));
  std::string strWithoutReboot = kBuiltInListing;
  strWithoutReboot.erase(strWithoutReboot.find(" reboot [DELAY:180]\n"), 20);
  EXPECT_EQ(strWithoutReboot, List(""));
  EXPECT_EQ("", List("reb"));
  EXPECT_EQ("", m_dispatcher.CompleteLine("reb"));

  m_context.m_bHidden = false;
  EXPECT_EQ("[Error] Permission denied.\n", Run("reboot"));
  EXPECT_EQ("[Error] Permission denied.\n", Run("reboot x y"));
  EXPECT_EQ(kBuiltInListing, List(""));
  EXPECT_EQ(" reboot [DELAY:180]\n", List("reb"));
  EXPECT_EQ("reboot", m_dispatcher.CompleteLine("reb"));
  EXPECT_TRUE(g_vecRuns.empty());
}

TEST_F(DispatcherTest, HiddenCommandsDoNotMakeALineAmbiguous) {
  m_context.m_setAllowed.erase(6);  // shutdown
  m_context.m_setAllowed.erase(9);  // show diskinfo
  m_context.m_bHidden = true;
  EXPECT_EQ("ran", Run("s d"));
  ASSERT_EQ(1u, g_vecRuns.size());
  EXPECT_EQ(1, g_vecRuns[0].first);
  EXPECT_EQ("show date", m_dispatcher.CompleteLine("s d"));
}

TEST_F(DispatcherTest, NobodyLoggedOnMayRunNothing) {
  m_context.m_bLoggedOn = false;
  EXPECT_EQ("[Error] Permission denied.\n", Run("show date"));
  m_context.m_bHidden = true;
  EXPECT_EQ("[Error] 'show date' command not found.\n", Run("show date"));
  EXPECT_EQ("", List(""));
  EXPECT_TRUE(g_vecRuns.empty());
}

TEST_F(DispatcherTest, FindCommandReportsEachCode) {
  const struct {
    const char* lpLine;
    int nCode;
    int nID;  // -1: no entry
  } kCases[] = {
      {"show date", 0, 1},  {"kill", 1, 13}, {"foo", 2, -1},
      {"\"", 3, -1},        {"s d", -1, -1}, {"", -1, -1},
  };
  for (const auto& c : kCases) {
    CommandEntry* pEntry = reinterpret_cast<CommandEntry*>(1);
    EXPECT_EQ(c.nCode, m_dispatcher.FindCommand(c.lpLine, &pEntry)) << c.lpLine;
    EXPECT_EQ(c.nID, pEntry != nullptr ? pEntry->GetID() : -1) << c.lpLine;
  }
  m_context.m_setAllowed.erase(1);
  CommandEntry* pEntry = nullptr;
  EXPECT_EQ(9, m_dispatcher.FindCommand("show date", &pEntry));
  ASSERT_NE(nullptr, pEntry);
  EXPECT_EQ(1, pEntry->GetID());
}

TEST_F(DispatcherTest, CompletesAsFarAsTheCandidatesAgree) {
  const struct {
    const char* lpLine;
    const char* lpCompleted;
  } kCases[] = {
      {"show ver", "show version"},
      {"sho d", "show d"},
      {"sh d", "sh d"},
      {"set enc e", "set encoding e"},
      {"sh", "sh"},
      {"sho", "show"},
      {"st", "st"},
      {"sta se x", "start service x"},
      {"show eventlog s", "show eventlog s"},
      {"show eventlog", "show eventlog"},
      {"kil", "kill"},
      {"", ""},
      {"   ", ""},
      {"foo", ""},
      {"show \"d", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.lpCompleted, m_dispatcher.CompleteLine(c.lpLine)) << c.lpLine;
  }
  EXPECT_EQ("", m_writer.m_strBytes);
}

TEST_F(DispatcherTest, UnparsableDefinitionIsACandidateForEveryLine) {
  CFakePlugin plugin(CKxAgentPlugin::TYPE_DLL);
  m_dispatcher.Register(10000, "odd 'quote", &plugin, 0);
  m_context.m_setAllowed.insert(10000);

  // A line that selects a built-in command becomes ambiguous...
  EXPECT_EQ(" show date\n \n", Run("show date"));
  // ...and one that selects nothing else runs it.
  int nResult = 0;
  EXPECT_EQ("fake ran\n", Run("foo bar", &nResult));
  EXPECT_EQ(1000, nResult);
  ASSERT_EQ(1u, plugin.m_vecRuns.size());
  EXPECT_EQ(std::string(kBuiltInListing) + " \n", List(""));
  EXPECT_EQ("foo bar", m_dispatcher.CompleteLine("foo bar"));
}

TEST_F(DispatcherTest, ScriptCommandsRunThroughTheRunner) {
  CFakePlugin jscript(CKxAgentPlugin::TYPE_JSCRIPT);
  CFakePlugin vbscript(CKxAgentPlugin::TYPE_VBSCRIPT);
  CFakePlugin unknown(7);
  m_dispatcher.Register(10000, "js {A}", &jscript, 0);
  m_dispatcher.Register(20001, "vbs [B:x]", &vbscript, 1);
  m_dispatcher.Register(30000, "odd", &unknown, 0);
  m_context.m_setAllowed.insert({10000, 20001, 30000});

  // Without a runner nothing runs.
  EXPECT_EQ("", Run("js 1"));
  EXPECT_TRUE(jscript.m_vecRuns.empty());

  CFakeScriptRunner runner;
  m_dispatcher.SetScriptCommandRunner(&runner);
  int nResult = 0;
  EXPECT_EQ("fake ran\n", Run("js 1", &nResult));
  EXPECT_EQ(1000, nResult);
  EXPECT_EQ("fake ran\n", Run("vbs", &nResult));
  EXPECT_EQ(1001, nResult);
  EXPECT_EQ("", Run("odd", &nResult));
  EXPECT_EQ(0, nResult);
  EXPECT_EQ((std::vector<std::string>{"JScript", "VBScript"}), runner.m_vecLanguages);
  ASSERT_EQ(1u, vbscript.m_vecRuns.size());
  EXPECT_EQ("B=x", vbscript.m_vecRuns[0].second);
  EXPECT_TRUE(unknown.m_vecRuns.empty());
}

TEST(CommandEntryTest, MatchReportsWhichElementRefused) {
  CFakePlugin plugin(CKxAgentPlugin::TYPE_DLL);
  CommandEntry entry(10, "show eventlog {LOGNAME:application|security|system} [LINE:10]", &plugin, 10);
  const struct {
    const char* lpLine;
    int nMatch;
  } kCases[] = {
      {"show eventlog app", 0}, {"s e sy 5 more", 0}, {"show eventlog", 1},
      {"show eventlog s", 1},   {"show eventlog x", 1}, {"", 1},
      {"show events", 2},       {"Show", 2},           {"showx", 2},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.nMatch, entry.Match(c.lpLine)) << c.lpLine;

  // A choice that is a leading part of another never selects on its own.
  CommandEntry overlap(11, "pick {X:ab|abc}", &plugin, 11);
  EXPECT_EQ(1, overlap.Match("pick ab"));
  EXPECT_EQ(0, overlap.Match("pick abc"));
}

TEST(CommandEntryTest, ExecuteRunsOnlyAFullMatchAndRebindsEveryTime) {
  CFakePlugin plugin(CKxAgentPlugin::TYPE_DLL);
  CRecordingWriter writer;
  CommandEntry entry(10002, "do {A} [B:def]", &plugin, 2);
  EXPECT_EQ(0, entry.Execute(writer, "do"));
  EXPECT_EQ(1002, entry.Execute(writer, "do 1 2"));
  EXPECT_EQ(1002, entry.Execute(writer, "do 3"));
  ASSERT_EQ(2u, plugin.m_vecRuns.size());
  EXPECT_EQ("A=1 B=2", plugin.m_vecRuns[0].second);
  EXPECT_EQ("A=3 B=def", plugin.m_vecRuns[1].second);
  EXPECT_EQ(2, plugin.m_vecRuns[1].first);

  CommandEntry orphan(1, "x", nullptr, 0);
  EXPECT_EQ(0, orphan.Execute(writer, "x"));
}

TEST(CommandEntryTest, CompleteWordsWritesOutKeywordsOnly) {
  CommandEntry entry(10, "show eventlog {LOGNAME:application|security|system} [LINE:10]", nullptr, 10);
  EXPECT_EQ("show eventlog sec 20", entry.CompleteWords("sh ev sec 20", 0));
  EXPECT_EQ("show eventlog", entry.CompleteWords("sh ev sec 20", 2));
  EXPECT_EQ("show", entry.CompleteWords("sh ev sec 20", 1));
  EXPECT_EQ("show eventlog sec 20 x", entry.CompleteWords("sh  ev sec 20 x", 99));
  EXPECT_EQ("", entry.CompleteWords("", 0));
}

}  // namespace
