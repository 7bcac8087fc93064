// Argument list, information record and built-in command table.
#include <gtest/gtest.h>

#include <string>

#include "KxAgentPluginManager/BuiltInCommand.h"
#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "tests/support/RecordingWriter.h"

namespace {


TEST(CommandArgumentTest, LooksUpNamesExactlyAndCaseSensitively) {
  CKxAgentCommandArgument argument;
  ASSERT_EQ(1, argument.Add("LOGNAME", "system"));
  ASSERT_EQ(1, argument.Add("LINE", "10"));
  ASSERT_NE(nullptr, argument.GetValue("LINE"));
  EXPECT_STREQ("10", argument.GetValue("LINE"));
  EXPECT_EQ(nullptr, argument.GetValue("line"));
  EXPECT_EQ(nullptr, argument.GetValue("LIN"));
  EXPECT_EQ(nullptr, argument.GetValue("LINES"));
  EXPECT_EQ(nullptr, argument.GetValue(static_cast<const char*>(nullptr)));
}

TEST(CommandArgumentTest, IndexLookupsOutsideTheListAreNull) {
  CKxAgentCommandArgument argument;
  EXPECT_EQ(nullptr, argument.GetValue(0));
  argument.Add("A", "1");
  argument.Add("B", "2");
  EXPECT_STREQ("1", argument.GetValue(0));
  EXPECT_STREQ("2", argument.GetValue(1));
  EXPECT_STREQ("B", argument.GetName(1));
  EXPECT_EQ(nullptr, argument.GetValue(-1));
  EXPECT_EQ(nullptr, argument.GetValue(argument.GetCount()));
  EXPECT_EQ(nullptr, argument.GetName(2));
}

TEST(CommandArgumentTest, SetValueReplacesOrAppends) {
  CKxAgentCommandArgument argument;
  argument.Add("PID", "1");
  EXPECT_EQ(1, argument.SetValue("PID", "123456789012345678901234567890"));
  EXPECT_STREQ("123456789012345678901234567890", argument.GetValue("PID"));
  EXPECT_EQ(1, argument.GetCount());

  EXPECT_EQ(1, argument.SetValue("NEW", "x"));
  EXPECT_EQ(2, argument.GetCount());
  EXPECT_STREQ("x", argument.GetValue(1));
}

TEST(CommandArgumentTest, SetValueFromItsOwnStoredValue) {
  CKxAgentCommandArgument argument;
  argument.Add("A", "keep me");
  EXPECT_EQ(1, argument.SetValue("A", argument.GetValue("A")));
  EXPECT_STREQ("keep me", argument.GetValue("A"));
}

TEST(CommandArgumentTest, FirstPairWinsOnDuplicateNames) {
  CKxAgentCommandArgument argument;
  argument.Add("X", "first");
  argument.Add("X", "second");
  EXPECT_EQ(2, argument.GetCount());
  EXPECT_STREQ("first", argument.GetValue("X"));
  argument.SetValue("X", "changed");
  EXPECT_STREQ("changed", argument.GetValue(0));
  EXPECT_STREQ("second", argument.GetValue(1));
}

TEST(CommandArgumentTest, RefusesAnEleventhPair) {
  CKxAgentCommandArgument argument;
  for (int i = 0; i < 10; ++i) {
    std::string strName = "N" + std::to_string(i);
    ASSERT_EQ(1, argument.Add(strName.c_str(), "v"));
  }
  EXPECT_EQ(0, argument.Add("N10", "v"));
  EXPECT_EQ(0, argument.SetValue("N10", "v"));
  EXPECT_EQ(10, argument.GetCount());
  EXPECT_EQ(nullptr, argument.GetValue("N10"));
  EXPECT_EQ(1, argument.SetValue("N9", "still settable"));
  EXPECT_STREQ("still settable", argument.GetValue(9));
}

TEST(CommandArgumentTest, NullTextsAreStoredAsEmpty) {
  CKxAgentCommandArgument argument;
  EXPECT_EQ(1, argument.Add(nullptr, nullptr));
  EXPECT_STREQ("", argument.GetValue(""));
  EXPECT_EQ(1, argument.SetValue("", nullptr));
  EXPECT_STREQ("", argument.GetValue(0));
}

TEST(PluginInfoTest, CutsLongTextsAtTheirLimits) {
  const std::string strName(300, 'n');
  const std::string strDescription(1200, 'd');
  const std::string strCopyright(300, 'c');
  CKxAgentPluginInfo info(strName.c_str(), strDescription.c_str(), strCopyright.c_str(), 2, 5, 1);
  EXPECT_EQ(std::string(249, 'n'), info.GetName());
  EXPECT_EQ(std::string(999, 'd'), info.GetDescription());
  EXPECT_EQ(std::string(249, 'c'), info.GetCopyright());
  CKxAgentPluginInfo empty(nullptr, nullptr, nullptr, 0, 0, 0);
  EXPECT_STREQ("", empty.GetName());
  EXPECT_EQ(2, info.GetMajorVersion());
  EXPECT_EQ(5, info.GetMinorVersion());
}

TEST(PluginInfoTest, NamesTheTypeCodes) {
  const struct {
    int nType;
    const char* lpText;
  } kCases[] = {{0, "Unknown"},  {1, "Win32 DLL"}, {2, "JScript"},
                {3, "VBScript"}, {4, "Unknown"},   {-1, "Unknown"}};
  for (const auto& c : kCases) {
    CKxAgentPluginInfo info("n", "d", "c", 1, 0, c.nType);
    EXPECT_STREQ(c.lpText, info.GetType()) << c.nType;
  }
}

int g_nHandlerCalls = 0;
int RecordingHandler(CWriter& writer, CKxAgentCommandArgument& argument) {
  ++g_nHandlerCalls;
  writer.WriteLine(argument.GetValue("PID"));
  return 42;
}

TEST(BuiltInCommandTest, ServesItsDefinitionTable) {
  CBuiltInCommand builtIn;
  EXPECT_EQ(0, builtIn.GetPluginType());
  EXPECT_EQ(17, builtIn.GetCommandCount());
  EXPECT_STREQ("show version", builtIn.GetCommandLineDefinition(0));
  EXPECT_STREQ("kill {PID}", builtIn.GetCommandLineDefinition(13));
  EXPECT_STREQ("stop service {SERVICE_NAME}", builtIn.GetCommandLineDefinition(16));
  EXPECT_EQ(nullptr, builtIn.GetCommandLineDefinition(17));
  EXPECT_EQ(nullptr, builtIn.GetCommandLineDefinition(-1));
}

TEST(BuiltInCommandTest, RunsOnlyAttachedHandlers) {
  CBuiltInCommand builtIn;
  CRecordingWriter writer;
  CKxAgentCommandArgument argument;
  argument.Add("PID", "77");
  g_nHandlerCalls = 0;

  EXPECT_EQ(0, builtIn.Execute(13, writer, argument));
  EXPECT_EQ("", writer.m_strBytes);

  EXPECT_EQ(0, builtIn.SetCommandFunc(17, RecordingHandler));
  EXPECT_EQ(0, builtIn.SetCommandFunc(-1, RecordingHandler));
  EXPECT_EQ(1, builtIn.SetCommandFunc(13, RecordingHandler));
  EXPECT_EQ(17, builtIn.GetCommandCount());
  EXPECT_EQ(42, builtIn.Execute(13, writer, argument));
  EXPECT_EQ("77\n", writer.m_strBytes);
  EXPECT_EQ(0, builtIn.Execute(17, writer, argument));
  EXPECT_EQ(0, builtIn.Execute(-1, writer, argument));
  EXPECT_EQ(1, g_nHandlerCalls);

  EXPECT_EQ(1, builtIn.SetCommandFunc(13, nullptr));
  EXPECT_EQ(0, builtIn.Execute(13, writer, argument));
  builtIn.OnTimeout(13);
  builtIn.OnTimeout(1000);
}

TEST(BuiltInCommandTest, InfoRecordIsCodePage932) {
  CBuiltInCommand builtIn;
  CKxAgentPluginInfo* pInfo = builtIn.GetPluginVersionInfo();
  ASSERT_NE(nullptr, pInfo);
  // 標準コマンド in code page 932.
  EXPECT_STREQ("\x95\x57\x8f\x80\x83\x52\x83\x7d\x83\x93\x83\x68", pInfo->GetName());
  // "... が提供する": が is 82 AA in code page 932.
  EXPECT_EQ(0, std::string(pInfo->GetDescription()).rfind("Kestrix Agent for Windows \x82\xaa", 0));
  EXPECT_STRNE("", pInfo->GetCopyright());
  EXPECT_EQ(1, pInfo->GetMajorVersion());
  EXPECT_EQ(1, pInfo->GetMinorVersion());
  EXPECT_STREQ("Unknown", pInfo->GetType());
}

}  // namespace
