// Script plug-ins: loading, the information record, Run's arguments per language,
// what a run writes, and the fresh host of every run.
#include <gtest/gtest.h>

#include <string>

#include "KxAgentPluginManager/WSHPlugin.h"
#include "tests/support/RecordingWriter.h"

namespace {

const char kEchoProbe[] =
    "function GetCommandLineDef() { return 'echo {TEXT} [TIMES:3]'; }\n"
    "function Run(a, b) { return typeof a + ':' + a + ',' + typeof b + ':' + b; }\n";

// Runs command 0 of a plug-in loaded from lpScript with the values bound to
// TEXT and TIMES, through a fresh host as the agent does; what it wrote.
std::string RunScript(CWSHPlugin& plugin, const char* lpLanguage,
                      const std::vector<const char*>& vecValues, int* pnResult = nullptr) {
  CKxAgentCommandArgument argument;
  const char* const kNames[] = {"TEXT", "TIMES"};
  for (size_t i = 0; i < vecValues.size(); ++i) argument.Add(kNames[i], vecValues[i]);
  CRecordingWriter writer;
  CWSHCommandRunner runner;
  int nResult = runner.RunScriptCommand(&plugin, lpLanguage, 0, writer, argument);
  if (pnResult != nullptr) *pnResult = nResult;
  return writer.m_strBytes;
}

TEST(ScriptPluginTest, RunGetsTheArgumentsOfItsLanguageAndItsResultIsWrittenAsALine) {
  // The VBScript shape is checked through a JScript engine: the plug-in decides the
  // shape, the engine only carries it.
  const char kShapeProbe[] =
      "function GetCommandLineDef() { return 'echo {TEXT} [TIMES:3]'; }\n"
      "function Run(a, n) { return (a === undefined ? 'undefined' : a.join('|')) + ';' + n; }\n";
  struct {
    bool bVBScriptShape;
    const char* lpScript;
    std::vector<const char*> vecValues;
    const char* lpExpected;
  } const kCases[] = {
      {false, kEchoProbe, {"hi", "2"}, "string:hi,number:1\n"},
      {false, kEchoProbe, {}, "undefined:undefined,undefined:undefined\n"},
      {true, kShapeProbe, {"hi", "3"}, "hi|3;2\n"},
      {true, kShapeProbe, {}, "undefined;0\n"},
      {false, "function GetCommandLineDef() { return 'n'; } function Run() { return 42; }", {}, "42\n"},
      {false, "function GetCommandLineDef() { return 'n'; } function Run() { return null; }", {},
       "[Error] Script Error!!\n"},
      {false, "function GetCommandLineDef() { return 'n'; } function Run() { throw 1; }", {},
       "[Error] Script Error!!\n"},
      {false, "function GetCommandLineDef() { return 'n'; }", {}, "[Error] Script Error!!\n"},
  };
  for (const auto& c : kCases) {
    CWSHManager host("JScript");
    CJSPlugin js(&host);
    CVBSPlugin vbs(&host);
    CWSHPlugin& plugin = c.bVBScriptShape ? static_cast<CWSHPlugin&>(vbs) : js;
    ASSERT_EQ(1, plugin.SetScriptText(c.lpScript)) << c.lpScript;
    int nResult = -1;
    EXPECT_EQ(c.lpExpected, RunScript(plugin, "JScript", c.vecValues, &nResult)) << c.lpScript;
    EXPECT_EQ(c.lpExpected[1] == 'E' ? 0 : 1, nResult) << c.lpScript;
  }
}

TEST(ScriptPluginTest, EveryRunStartsFromAFreshlyParsedScript) {
  CWSHManager host("JScript");
  CJSPlugin plugin(&host);
  ASSERT_EQ(1, plugin.SetScriptText("var runs = 0;\n"
                                    "function GetCommandLineDef() { return 'count'; }\n"
                                    "function Run() { runs++; return runs; }\n"));
  EXPECT_EQ("1\n", RunScript(plugin, "JScript", {}));
  EXPECT_EQ("1\n", RunScript(plugin, "JScript", {}));
  // The start-up host is back in place and never ran the script.
  EXPECT_EQ(&host, plugin.SetWSHManager(&host));
  kx::CScriptValue result;
  ASSERT_EQ(1, host.InvokeFunction("Run", nullptr, 0, &result));
  EXPECT_EQ("1", result.m_strText);
}

TEST(ScriptPluginTest, BuildsItsInformationRecordOnceWithEmptyFieldsForMissingFunctions) {
  CWSHManager host("JScript");
  CJSPlugin plugin(&host);
  ASSERT_EQ(1, plugin.SetScriptText("function GetCommandLineDef() { return 'x {A}'; }\n"
                                    "function GetPluginDescription() { return 'd'; }\n"
                                    "function GetPluginMajorVersion() { return '3'; }\n"
                                    "function GetPluginMinorVersion() { return 70000; }\n"));
  EXPECT_EQ(1, plugin.GetCommandCount());
  EXPECT_STREQ("x {A}", plugin.GetCommandLineDefinition(0));
  EXPECT_EQ(nullptr, plugin.GetCommandLineDefinition(1));
  CKxAgentPluginInfo* pInfo = plugin.GetPluginVersionInfo();
  ASSERT_NE(nullptr, pInfo);
  EXPECT_STREQ("", pInfo->GetName());
  EXPECT_STREQ("d", pInfo->GetDescription());
  EXPECT_STREQ("", pInfo->GetCopyright());
  EXPECT_EQ(3, pInfo->GetMajorVersion());
  EXPECT_EQ(0, pInfo->GetMinorVersion());
  EXPECT_STREQ("JScript", pInfo->GetType());
  EXPECT_EQ(pInfo, plugin.GetPluginVersionInfo());
}

TEST(ScriptPluginTest, RefusesScriptsThatCannotServeACommand) {
  struct {
    const char* lpLanguage;
    const char* lpFile;  // under the sample directory; null: lpScript is set directly
    const char* lpScript;
  } const kCases[] = {
      {"JScript", nullptr, "function GetCommandLineDef() { return 'x'; "},         // syntax error
      {"JScript", nullptr, "function Run() { return 1; }"},                        // no definition
      {"JScript", nullptr, "function GetCommandLineDef() { return {}; }"},         // not a text
      {"JScript", "missing.js", nullptr},
      {"VBScript", "echo.vbs", nullptr},  // no VBScript engine on this system
  };
  for (const auto& c : kCases) {
    CWSHManager host(c.lpLanguage);
    CJSPlugin js(&host);
    CVBSPlugin vbs(&host);
    CWSHPlugin& plugin = std::string(c.lpLanguage) == "VBScript" ? static_cast<CWSHPlugin&>(vbs) : js;
    int nLoaded = c.lpFile != nullptr
                      ? plugin.LoadPluginScript((std::string(KX_EXAMPLE_PLUGIN_DIR "/") + c.lpFile).c_str())
                      : plugin.SetScriptText(c.lpScript);
    EXPECT_EQ(0, nLoaded) << (c.lpFile != nullptr ? c.lpFile : c.lpScript);
    EXPECT_EQ(nullptr, plugin.GetCommandLineDefinition(0));
  }
  CJSPlugin hostless(nullptr);
  EXPECT_EQ(0, hostless.LoadPluginScript(KX_EXAMPLE_PLUGIN_DIR "/echo.js"));
}

TEST(ScriptPluginTest, TheJScriptSampleEchoesItsText) {
  CWSHManager host("JScript");
  CJSPlugin plugin(&host);
  ASSERT_EQ(1, plugin.LoadPluginScript(KX_EXAMPLE_PLUGIN_DIR "/echo.js"));
  EXPECT_STREQ("echo {TEXT} [TIMES:3]", plugin.GetCommandLineDefinition(0));
  EXPECT_STREQ("Echo (JScript)", plugin.GetPluginVersionInfo()->GetName());
  EXPECT_EQ("hi\n", RunScript(plugin, "JScript", {"hi", "2"}));
  EXPECT_EQ("\n", RunScript(plugin, "JScript", {}));
}

}  // namespace
