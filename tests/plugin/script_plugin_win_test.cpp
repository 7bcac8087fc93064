// Plug-ins on Windows: the samples run through the system's own engines and
// loader. VBScript exists only here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KxAgentPluginManager/DLLPlugin.h"
#include "KxAgentPluginManager/WSHPlugin.h"
#include "platform/script_engine.h"
#include "tests/support/RecordingWriter.h"

namespace {

std::string RunCommand(CKxAgentPlugin& plugin, const char* lpLanguage, int nIndex,
                       const std::vector<std::pair<const char*, const char*>>& vecValues) {
  CKxAgentCommandArgument argument;
  for (const auto& value : vecValues) argument.Add(value.first, value.second);
  CRecordingWriter writer;
  if (lpLanguage == nullptr) {
    plugin.Execute(nIndex, writer, argument);
  } else {
    CWSHCommandRunner runner;
    runner.RunScriptCommand(&plugin, lpLanguage, nIndex, writer, argument);
  }
  return writer.m_strBytes;
}

// A VBScript plug-in gets every bound value in one array and their count; with
// nothing bound, Empty and 0.
TEST(WindowsScriptPlugins, VBScriptRunGetsAnArrayAndTheCount) {
  const char kShapeProbe[] =
      "Function GetCommandLineDef()\n  GetCommandLineDef = \"echo {TEXT} [TIMES:3]\"\nEnd Function\n"
      "Function Run(args, count)\n"
      "  Dim i\n"
      "  If IsEmpty(args) Then\n    Run = \"Empty;\" & count\n    Exit Function\n  End If\n"
      "  For i = 0 To UBound(args)\n    Run = Run & args(i) & \"|\"\n  Next\n"
      "  Run = Run & UBound(args) & \";\" & count\n"
      "End Function\n";
  const struct {
    std::vector<std::pair<const char*, const char*>> vecValues;
    const char* lpExpected;
  } kCases[] = {
      {{{"TEXT", "hi"}, {"TIMES", "3"}}, "hi|3|1;2\n"},
      {{}, "Empty;0\n"},
  };
  for (const auto& c : kCases) {
    CWSHManager host("VBScript");
    CVBSPlugin plugin(&host);
    ASSERT_EQ(1, plugin.SetScriptText(kShapeProbe));
    EXPECT_EQ(c.lpExpected, RunCommand(plugin, "VBScript", 0, c.vecValues));
  }
}

TEST(WindowsScriptPlugins, TheScriptSamplesEchoThroughTheSystemEngines) {
  const struct {
    const char* lpLanguage;
    const char* lpFile;
    std::vector<std::pair<const char*, const char*>> vecValues;
    const char* lpExpected;
  } kCases[] = {
      {"VBScript", "echo.vbs", {{"TEXT", "hi"}, {"TIMES", "3"}}, "hi hi hi\n"},
      {"VBScript", "echo.vbs", {{"TEXT", "hi"}}, "hi\n"},
      {"JScript", "echo.js", {{"TEXT", "hi"}, {"TIMES", "3"}}, "hi\n"},
  };
  for (const auto& c : kCases) {
    CWSHManager host(c.lpLanguage);
    CJSPlugin js(&host);
    CVBSPlugin vbs(&host);
    CWSHPlugin& plugin = std::string(c.lpLanguage) == "VBScript" ? static_cast<CWSHPlugin&>(vbs) : js;
    ASSERT_EQ(1, plugin.LoadPluginScript((std::string(KX_EXAMPLE_PLUGIN_DIR "/") + c.lpFile).c_str())) << c.lpFile;
    EXPECT_STREQ("echo {TEXT} [TIMES:3]", plugin.GetCommandLineDefinition(0));
    EXPECT_EQ(c.lpExpected, RunCommand(plugin, c.lpLanguage, 0, c.vecValues)) << c.lpFile;
  }
}

TEST(WindowsDllPlugins, TheSampleDllLoadsThroughTheSystemLoader) {
  CDLLPlugin plugin;
  ASSERT_EQ(1, plugin.LoadPluginLibrary(KX_EXAMPLE_PLUGIN_DIR "/kxsysinfo.dll"));
  ASSERT_EQ(2, plugin.GetCommandCount());
  EXPECT_STREQ("show uptime", plugin.GetCommandLineDefinition(0));
  EXPECT_EQ("[Error] MINUTES is 1, 5, 15 or all.\n", RunCommand(plugin, nullptr, 1, {{"MINUTES", "7"}}));
  CDLLPlugin missing;
  EXPECT_EQ(0, missing.LoadPluginLibrary(KX_EXAMPLE_PLUGIN_DIR "/missing.dll"));
}

// A script that never returns fails its call within the limit, whether the
// engine honours the interrupt (Windows) or is abandoned to it (Wine).
TEST(WindowsScriptPlugins, AnEndlessScriptFailsItsCallInBoundedTime) {
  kx::CScriptEngine engine("JScript");
  ASSERT_TRUE(engine.IsCreated());
  engine.SetCallTimeLimit(200);
  ASSERT_TRUE(engine.ParseScript("function f() { for (;;) {} }"));
  EXPECT_FALSE(engine.InvokeFunction("f", nullptr, 0, nullptr));
}

}  // namespace
