// Reading the command catalogue command.xml.

#include "ConfigTestSupport.h"

namespace {

class CommandConfigTest : public ConfigDirTest {};

const char kCatalogue[] =
    "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n"
    "<catalogue>\r\n"
    "  <commandset type=\"1\" library=\"\">\r\n"
    "    <command id=\"0\"><command-line-def>show date</command-line-def>"
    "<plugin-command-id>5</plugin-command-id></command>\r\n"
    "    <command id=\"1\"><command-line-def>show version</command-line-def></command>\r\n"
    "    <nested><command id=\"99\"><command-line-def>hidden</command-line-def></command></nested>\r\n"
    "  </commandset>\r\n"
    "  <group>\r\n"
    "    <commandset type=\"4\" library=\"sample.dll\">\r\n"
    "      <command id=\"10000\"><command-line-def>echo {TEXT}</command-line-def>"
    "<plugin-command-id>-2</plugin-command-id></command>\r\n"
    "      <command id=\"10001\"></command>\r\n"
    "      <command><command-line-def>no id</command-line-def></command>\r\n"
    "    </commandset>\r\n"
    "  </group>\r\n"
    "</catalogue>\r\n";

TEST_F(CommandConfigTest, ReadsDirectCommandsOfEverySet) {
  WriteWholeFile(CommandConfigPath(), kCatalogue);
  CTestableConfigManager manager(BaseDir().c_str());
  EXPECT_EQ(TRUE, manager.LoadCommandConfig());
  EXPECT_EQ(FALSE, manager.IsModified());

  struct Expected {
    int nID;
    int nType;
    const char* lpDefinition;
    int nPluginCommandID;
    const char* lpLibrary;
  };
  const Expected expected[] = {
      {0, 1, "show date", -1, ""},
      {1, 1, "show version", -1, ""},
      {10000, 4, "echo {TEXT}", -2, "sample.dll"},
      {10001, 4, "", 0, "sample.dll"},
  };
  const auto& commands = *manager.GetCommandList();
  ASSERT_EQ(std::size(expected), commands.size());
  for (size_t i = 0; i < commands.size(); ++i) {
    EXPECT_EQ(expected[i].nID, commands[i]->GetCommandID()) << i;
    EXPECT_EQ(expected[i].nType, commands[i]->GetType()) << i;
    EXPECT_STREQ(expected[i].lpDefinition, commands[i]->GetCommandDefinition()) << i;
    EXPECT_EQ(expected[i].nPluginCommandID, commands[i]->GetPluginCommandID()) << i;
    EXPECT_STREQ(expected[i].lpLibrary, commands[i]->GetPluginLibraryName()) << i;
  }
}

TEST_F(CommandConfigTest, LoadingTwiceAppendsTwiceAndLoadConfigDoesNotRead) {
  WriteWholeFile(CommandConfigPath(), kCatalogue);
  WriteSysConfig("");
  CTestableConfigManager manager(BaseDir().c_str());
  manager.LoadConfig();
  EXPECT_TRUE(manager.GetCommandList()->empty());

  manager.SetComPort(9);
  manager.LoadCommandConfig();
  manager.LoadCommandConfig();
  ASSERT_EQ(8u, manager.GetCommandList()->size());
  EXPECT_EQ(0, (*manager.GetCommandList())[4]->GetCommandID());
  EXPECT_EQ(TRUE, manager.IsModified());
}

TEST_F(CommandConfigTest, BrokenOrMissingCatalogueAddsNothing) {
  CTestableConfigManager manager(BaseDir().c_str());
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(TRUE, manager.LoadCommandConfig());
  WriteWholeFile(CommandConfigPath(), std::string(kCatalogue, sizeof(kCatalogue) / 2));
  EXPECT_EQ(TRUE, manager.LoadCommandConfig());
  std::string strOutput = ::testing::internal::GetCapturedStdout();

  EXPECT_TRUE(manager.GetCommandList()->empty());
  EXPECT_EQ(0u, strOutput.rfind("\nFatal Error at file: ", 0)) << strOutput;
  EXPECT_NE(std::string::npos, strOutput.find("\nFatal Error at file: ", 1)) << strOutput;
}

}  // namespace
