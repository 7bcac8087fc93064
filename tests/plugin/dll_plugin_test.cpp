// DLL plug-ins: loading and refusing libraries, the command slots, the value
// array, and the binary interface as a library built without our headers sees it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "KxAgentPluginManager/DLLPlugin.h"
#include "tests/support/RecordingWriter.h"

namespace {

std::string TestPlugin(const char* lpName) {
  return std::string(KX_TEST_PLUGIN_DIR) + "/" + lpName + ".so";
}

// Whether the process still has the library mapped (asked without loading it).
bool IsMapped(const std::string& strPath) {
  void* pHandle = dlopen(strPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (pHandle == nullptr) return false;
  dlclose(pHandle);
  return true;
}

struct RefusedLibrary {
  const char* lpPath;  // relative to the test plug-in directory, or absolute
};

class RefusedLibraryTest : public ::testing::TestWithParam<RefusedLibrary> {};

TEST_P(RefusedLibraryTest, IsRefusedFreedAndLeavesNothingLoaded) {
  std::string strPath = GetParam().lpPath[0] == '/' ? GetParam().lpPath : TestPlugin(GetParam().lpPath);
  CDLLPlugin plugin;
  EXPECT_EQ(0, plugin.LoadPluginLibrary(strPath.c_str()));
  EXPECT_STRNE("", GetDLLPluginLoadError());
  EXPECT_EQ(nullptr, plugin.GetPluginVersionInfo());
  EXPECT_EQ(0, plugin.GetCommandCount());
  EXPECT_EQ(nullptr, plugin.GetCommandLineDefinition(0));
  EXPECT_FALSE(IsMapped(strPath));
}

INSTANTIATE_TEST_SUITE_P(Libraries, RefusedLibraryTest,
                         ::testing::Values(RefusedLibrary{"kxtest_no_release"},
                                           RefusedLibrary{"kxtest_no_exports"},
                                           RefusedLibrary{"missing_library"},
                                           RefusedLibrary{"/etc/hostname"}));

TEST(DLLPluginTest, LoadsTheRecordAndBindsValuesByPosition) {
  CDLLPlugin plugin;
  ASSERT_EQ(1, plugin.LoadPluginLibrary(TestPlugin("kxtest_probe").c_str()));
  EXPECT_EQ(CKxAgentPlugin::TYPE_DLL, plugin.GetPluginType());
  CKxAgentPluginInfo* pInfo = plugin.GetPluginVersionInfo();
  ASSERT_NE(nullptr, pInfo);
  EXPECT_STREQ("probe", pInfo->GetName());
  EXPECT_STREQ("a test plug-in", pInfo->GetDescription());
  EXPECT_STREQ("(c) test", pInfo->GetCopyright());
  EXPECT_EQ(2, pInfo->GetMajorVersion());
  EXPECT_EQ(5, pInfo->GetMinorVersion());
  EXPECT_STREQ("Win32 DLL", pInfo->GetType());
  EXPECT_EQ(3, plugin.GetCommandCount());
  EXPECT_STREQ("probe2 [A:a] [B:b] [C:c]", plugin.GetCommandLineDefinition(2));
  EXPECT_EQ(nullptr, plugin.GetCommandLineDefinition(3));
  EXPECT_EQ(nullptr, plugin.GetCommandLineDefinition(-1));

  CKxAgentCommandArgument argument;
  argument.Add("A", "one");
  argument.Add("B", "two");
  CRecordingWriter writer;
  EXPECT_EQ(101, plugin.Execute(1, writer, argument));
  EXPECT_EQ("argc=2 one two - - - - - - - -\n", writer.m_strBytes);

  CRecordingWriter outOfRange;
  EXPECT_EQ(0, plugin.Execute(3, outOfRange, argument));
  EXPECT_EQ("", outOfRange.m_strBytes);
  plugin.OnTimeout(7);  // an index without a command is ignored
  plugin.UnloadPluginLibrary();
  EXPECT_FALSE(IsMapped(TestPlugin("kxtest_probe")));
  EXPECT_EQ(0, plugin.GetCommandCount());
}

TEST(DLLPluginTest, ANullCommandObjectHasNoDefinitionAndDoesNothing) {
  CDLLPlugin plugin;
  ASSERT_EQ(1, plugin.LoadPluginLibrary(TestPlugin("kxtest_null_slot").c_str()));
  EXPECT_EQ(3, plugin.GetCommandCount());
  EXPECT_STREQ("probe0 [A:a] [B:b] [C:c]", plugin.GetCommandLineDefinition(0));
  EXPECT_EQ(nullptr, plugin.GetCommandLineDefinition(1));
  CKxAgentCommandArgument argument;
  CRecordingWriter writer;
  EXPECT_EQ(0, plugin.Execute(1, writer, argument));
  EXPECT_EQ("", writer.m_strBytes);
  EXPECT_EQ(102, plugin.Execute(2, writer, argument));
  EXPECT_EQ("argc=0 - - - - - - - - - -\n", writer.m_strBytes);
  plugin.UnloadPluginLibrary();
}

TEST(DLLPluginTest, ALibraryReportingTwelveCommandsGetsTen) {
  CDLLPlugin plugin;
  ASSERT_EQ(1, plugin.LoadPluginLibrary(TestPlugin("kxtest_twelve").c_str()));
  EXPECT_EQ(10, plugin.GetCommandCount());
  EXPECT_STREQ("probe9 [A:a] [B:b] [C:c]", plugin.GetCommandLineDefinition(9));
  EXPECT_EQ(nullptr, plugin.GetCommandLineDefinition(10));
  EXPECT_EQ(nullptr, plugin.GetCommandLineDefinition(11));
  CKxAgentCommandArgument argument;
  CRecordingWriter writer;
  EXPECT_EQ(0, plugin.Execute(10, writer, argument));
  EXPECT_EQ("", writer.m_strBytes);
  plugin.UnloadPluginLibrary();
}

TEST(DLLPluginTest, ALibraryBuiltFromThePublishedDeclarationsAloneWritesThroughAllThreeOperations) {
  CDLLPlugin plugin;
  ASSERT_EQ(1, plugin.LoadPluginLibrary(TestPlugin("kxtest_abi").c_str()));
  EXPECT_STREQ("abi", plugin.GetPluginVersionInfo()->GetName());
  EXPECT_EQ(1, plugin.GetCommandCount());
  EXPECT_STREQ("greet {NAME}", plugin.GetCommandLineDefinition(0));
  CKxAgentCommandArgument argument;
  argument.Add("NAME", "world");
  CRecordingWriter writer;
  EXPECT_EQ(1, plugin.Execute(0, writer, argument));
  EXPECT_EQ("<hello world>\n", writer.m_strBytes);
  EXPECT_EQ(1u, writer.m_vecLines.size());
  plugin.UnloadPluginLibrary();
}

TEST(DLLPluginTest, TheSampleListsItsCommandsAndAnswersThem) {
  CDLLPlugin plugin;
  ASSERT_EQ(1, plugin.LoadPluginLibrary(KX_EXAMPLE_PLUGIN_DIR "/kxsysinfo.so"));
  ASSERT_EQ(2, plugin.GetCommandCount());
  EXPECT_STREQ("show uptime", plugin.GetCommandLineDefinition(0));
  EXPECT_STREQ("show loadavg [MINUTES:all]", plugin.GetCommandLineDefinition(1));
  struct {
    int nIndex;
    const char* lpValue;  // null: no value bound
    const char* lpPrefix;
  } const kCases[] = {
      {0, nullptr, "Up "},
      {1, "all", "Load average: "},
      {1, "15", "Load average (15 min): "},
      {1, "7", "[Error] MINUTES is 1, 5, 15 or all."},
  };
  for (const auto& c : kCases) {
    CKxAgentCommandArgument argument;
    if (c.lpValue != nullptr) argument.Add("MINUTES", c.lpValue);
    CRecordingWriter writer;
    plugin.Execute(c.nIndex, writer, argument);
    EXPECT_EQ(0u, writer.m_strBytes.rfind(c.lpPrefix, 0)) << writer.m_strBytes;
  }
  plugin.UnloadPluginLibrary();
}

}  // namespace
