// Reading sysconfig.xml: the value rules, the records, and what a missing or
// broken file leaves behind.

#include <filesystem>
#include <functional>
#include <vector>

#include "ConfigTestSupport.h"
#include "KxAgentConfigManager/ConfigFileCheck.h"
#include "platform/error_codes.h"

namespace {

class SysConfigLoadTest : public ConfigDirTest {
 protected:
  // Loads the body into a fresh manager and returns what was printed.
  std::string Load(CKxAgentConfigManager& manager) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(TRUE, manager.LoadConfig());
    return ::testing::internal::GetCapturedStdout();
  }
};

TEST_F(SysConfigLoadTest, EmptyRootKeepsEveryDefault) {
  WriteSysConfig("");
  CKxAgentConfigManager manager(BaseDir().c_str());
  EXPECT_EQ("", Load(manager));
  char szProblem[64] = "stale";
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), KxAgentCheckConfigFile(SysConfigPath().c_str(), szProblem, 64));
  EXPECT_STREQ("", szProblem);

  EXPECT_EQ(FALSE, manager.IsModified());
  EXPECT_EQ(8ul, manager.GetMaxComPort());
  EXPECT_EQ(1ul, manager.GetComPort());
  EXPECT_EQ(9600ul, manager.GetComSpeed());
  EXPECT_STREQ("Shift_JIS", manager.GetOutputEncoding());
  EXPECT_EQ(TRUE, manager.IsEventLogNotification());
  EXPECT_EQ(1u, manager.GetPluginList()->size());
  EXPECT_TRUE(manager.GetLogonAccountList()->empty());
}

TEST_F(SysConfigLoadTest, ScalarValueRules) {
  using M = CKxAgentConfigManager;
  struct Case {
    const char* lpBody;
    std::function<unsigned long(M&)> fnRead;
    unsigned long dwExpected;
  };
  const Case cases[] = {
      {"<comport><port>3</port></comport>", [](M& m) { return m.GetComPort(); }, 3},
      {"<comport><port>3</port></comport>", [](M& m) { return m.GetComSpeed(); }, 0},
      {"<comport><speed>115200</speed><port>2</port></comport>", [](M& m) { return m.GetComSpeed(); }, 115200},
      {"<system></system>", [](M& m) { return m.GetMaxComPort(); }, 0},
      {"<system><maxcomport>16</maxcomport></system>", [](M& m) { return m.GetMaxComPort(); }, 16},
      {"<logon-timeout> \t42abc</logon-timeout>", [](M& m) { return m.GetLogonTimeout(); }, 42},
      {"<logon-timeout>abc</logon-timeout>", [](M& m) { return m.GetLogonTimeout(); }, 0},
      {"<logon-timeout>-1</logon-timeout>", [](M& m) { return m.GetLogonTimeout(); }, 4294967295ul},
      {"<logon-timeout>99999999999</logon-timeout>", [](M& m) { return m.GetLogonTimeout(); }, 4294967295ul},
      {"<logon-timeout>5</logon-timeout><logon-timeout>7</logon-timeout>",
       [](M& m) { return m.GetLogonTimeout(); }, 7},
      {"<eventlog-notification>on</eventlog-notification>", [](M& m) { return m.IsEventLogNotification(); }, 1},
      {"<eventlog-notification>On</eventlog-notification>", [](M& m) { return m.IsEventLogNotification(); }, 0},
      {"<eventlog-notification> on</eventlog-notification>", [](M& m) { return m.IsEventLogNotification(); }, 0},
      {"<execution-improper-command>hidden</execution-improper-command>",
       [](M& m) { return m.IsHiddenExecutionImproperCommand(); }, 1},
      {"<execution-improper-command>visible</execution-improper-command>",
       [](M& m) { return m.IsHiddenExecutionImproperCommand(); }, 0},
      {"<execution-improper-command>Hidden</execution-improper-command>",
       [](M& m) { return m.IsHiddenExecutionImproperCommand(); }, 0},
      {"<cpu-monitoring>on</cpu-monitoring>", [](M& m) { return m.IsCPUMonitoring(); }, 1},
      {"<script-plugin-support>yes</script-plugin-support>", [](M& m) { return m.IsScriptPluginSupport(); }, 0},
      {"<script-plugin-support><![CDATA[on]]></script-plugin-support>",
       [](M& m) { return m.IsScriptPluginSupport(); }, 1},
      {"<unknown><logon-timeout>9</logon-timeout></unknown>", [](M& m) { return m.GetLogonTimeout(); }, 180},
  };
  for (const Case& c : cases) {
    WriteSysConfig(c.lpBody);
    CKxAgentConfigManager manager(BaseDir().c_str());
    EXPECT_EQ("", Load(manager)) << c.lpBody;
    EXPECT_EQ(c.dwExpected, c.fnRead(manager)) << c.lpBody;
    EXPECT_EQ(FALSE, manager.IsModified()) << c.lpBody;
  }
}

TEST_F(SysConfigLoadTest, LogSettingReadsKnownSeveritiesAndKeepsMissingAttributes) {
  WriteSysConfig(
      "<output-encoding>EUC-JP</output-encoding>"
      "<log-setting logdir=\"/srv/kx/log\" logfile-limit=\"yes\" logfilemaxsize=\"2048\" logging=\"yes\">"
      "<log severity=\"INFO\" logging=\"yes\"/><log severity=\"WARN\" logging=\"no\"/>"
      "<log severity=\"ERROR\" logging=\"yes\"/><log severity=\"debug\" logging=\"yes\"/>"
      "<log severity=\"TRACE\" logging=\"yes\"/><log logging=\"yes\"/></log-setting>");
  CKxAgentConfigManager manager(BaseDir().c_str());
  Load(manager);
  const CKxAgentLogSetting* pLog = manager.GetLogSetting();
  EXPECT_STREQ("EUC-JP", manager.GetOutputEncoding());
  EXPECT_STREQ("/srv/kx/log", pLog->GetLogFileDir());
  EXPECT_STREQ("/srv/kx/log/warning.log", pLog->GetWarningLogFilePath());
  EXPECT_EQ(TRUE, pLog->IsLogFileLimit());
  EXPECT_EQ(2048L, pLog->GetLogFileMaxSize());
  EXPECT_EQ(TRUE, pLog->IsLogEnabled());
  EXPECT_EQ(TRUE, pLog->IsInfoLogEnabled());
  EXPECT_EQ(FALSE, pLog->IsWarningLogEnabled());
  EXPECT_EQ(TRUE, pLog->IsErrorLogEnabled());
  EXPECT_EQ(FALSE, pLog->IsDebugLogEnabled());

  // A second element without attributes changes nothing.
  WriteSysConfig("<log-setting/>");
  Load(manager);
  EXPECT_STREQ("/srv/kx/log", pLog->GetLogFileDir());
  EXPECT_EQ(2048L, pLog->GetLogFileMaxSize());
  EXPECT_EQ(TRUE, pLog->IsLogFileLimit());
}

TEST_F(SysConfigLoadTest, AccountsAndPluginsAreAppendedInFileOrder) {
  WriteSysConfig(
      "<plugin-entry><plugin plugin-id=\"10000\" library=\"a.dll\" type=\"4\"/>"
      "<plugin library=\"noid.js\" type=\"3\"/></plugin-entry>"
      "<logon-account>"
      "<account id=\"3\" logon=\"yes\" domain=\"no\"><account-name>op</account-name>"
      "<domain-name>CORP</domain-name><allow-commands><command id=\"4\"/><command id=\"1\"/>"
      "<command id=\"4\"/><group><command id=\"10002\"/></group></allow-commands></account>"
      "<account id=\"7\" logon=\"Yes\" domain=\"yes\"><account-name>adm</account-name>"
      "<domain-name>CORP</domain-name></account>"
      "<account><account-name>noid</account-name></account>"
      "</logon-account>");
  CKxAgentConfigManager manager(BaseDir().c_str());
  std::string strOutput = Load(manager);

  const auto& plugins = *manager.GetPluginList();
  ASSERT_EQ(2u, plugins.size());
  EXPECT_EQ(0, plugins[0]->GetPluginID());
  EXPECT_EQ(10000, plugins[1]->GetPluginID());
  EXPECT_STREQ("a.dll", plugins[1]->GetLibrary());
  EXPECT_STREQ("Win32 DLL", plugins[1]->GetTypeName());
  EXPECT_NE(std::string::npos, strOutput.find("without a plugin-id"));

  const auto& accounts = *manager.GetLogonAccountList();
  ASSERT_EQ(3u, accounts.size());
  EXPECT_EQ(3, accounts[0]->GetAccountID());
  EXPECT_STREQ("op", accounts[0]->GetAccountName());
  EXPECT_STREQ("", accounts[0]->GetDomainName());
  EXPECT_EQ(TRUE, accounts[0]->IsLogonAllowed());
  EXPECT_EQ((std::vector<int>{4, 1, 10002}), *accounts[0]->GetAllowCommandIDList());
  EXPECT_STREQ("CORP", accounts[1]->GetDomainName());
  EXPECT_EQ(FALSE, accounts[1]->IsLogonAllowed());
  EXPECT_TRUE(accounts[1]->GetAllowCommandIDList()->empty());
  // No ID in the file: a fresh one above every ID in use, and no permissions.
  EXPECT_STREQ("noid", accounts[2]->GetAccountName());
  EXPECT_EQ(8, accounts[2]->GetAccountID());
  EXPECT_EQ(FALSE, accounts[2]->IsLogonAllowed());
  EXPECT_EQ(FALSE, manager.IsModified());
}

// The loader prints what it met and keeps the model; the check gives the
// programs which file and why, printing nothing.
TEST_F(SysConfigLoadTest, UnreadableFilesLeaveTheModelAsItWas) {
  struct Case {
    const char* lpWhat;
    bool bPresent;
    std::string strContents;
    DWORD dwCheck;
    std::string strReason;  // after the path, a prefix
  };
  const Case cases[] = {
      {"missing file", false, "", ERROR_FILE_NOT_FOUND, ": The system cannot find the file specified."},
      {"truncated", true, "<?xml version=\"1.0\"?><system-config><comport><port>4</port></comport><logon-",
       ERROR_INVALID_DATA, ": line 1, column "},
      {"mismatched tags", true, "<system-config><logon-timeout>5</logon-timeout>\n<a></b></system-config>",
       ERROR_INVALID_DATA, ": line 2, column "},
      {"empty file", true, "", ERROR_INVALID_DATA, ": line 1, column "},
      {"binary garbage", true, std::string("\x00\xff\xfe\x81\x40<<>>&&\x1a", 12), ERROR_INVALID_DATA, ": line 1"},
      {"config path is a directory", false, "", ERROR_ACCESS_DENIED, ": Access is denied."},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(SysConfigPath());
    if (c.bPresent) WriteWholeFile(SysConfigPath(), c.strContents);
    if (c.lpWhat == std::string("config path is a directory")) std::filesystem::create_directory(SysConfigPath());
    CKxAgentConfigManager manager(BaseDir().c_str());
    manager.SetComSpeed(19200);
    std::string strOutput = Load(manager);

    EXPECT_EQ(0u, strOutput.rfind("\nFatal Error at file: ", 0)) << c.lpWhat << ": " << strOutput;
    EXPECT_NE(std::string::npos, strOutput.find("\n  Line=")) << c.lpWhat;
    EXPECT_NE(std::string::npos, strOutput.find("\n  Message: ")) << c.lpWhat;
    EXPECT_EQ(19200ul, manager.GetComSpeed()) << c.lpWhat;
    EXPECT_EQ(1ul, manager.GetComPort()) << c.lpWhat;
    EXPECT_EQ(180ul, manager.GetLogonTimeout()) << c.lpWhat;
    EXPECT_EQ(FALSE, manager.IsModified()) << c.lpWhat;

    char szProblem[512] = "stale";
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(c.dwCheck, KxAgentCheckConfigFile(SysConfigPath().c_str(), szProblem, sizeof(szProblem))) << c.lpWhat;
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout()) << c.lpWhat;
    EXPECT_EQ(0u, std::string(szProblem).rfind(SysConfigPath() + c.strReason, 0)) << c.lpWhat << ": " << szProblem;
  }
  // A short buffer gets the start of the text, terminated.
  char szShort[8];
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), KxAgentCheckConfigFile(SysConfigPath().c_str(), szShort, 8));
  EXPECT_EQ(SysConfigPath().substr(0, 7), szShort);
}

TEST_F(SysConfigLoadTest, ExternalEntitiesAreNotFetched) {
  WriteWholeFile(SysConfigPath(),
                 "<!DOCTYPE s [<!ENTITY x SYSTEM \"file:///etc/hostname\">]><system-config>"
                 "<output-encoding>[&x;]</output-encoding></system-config>");
  CKxAgentConfigManager manager(BaseDir().c_str());
  Load(manager);
  EXPECT_STREQ("Shift_JIS", manager.GetOutputEncoding());
}

TEST_F(SysConfigLoadTest, ParseProblemReportNamesFileLineAndColumn) {
  WriteWholeFile(SysConfigPath(), "<system-config>\n<a></b>\n</system-config>\n");
  CKxAgentConfigManager manager(BaseDir().c_str());
  std::string strOutput = Load(manager);
  EXPECT_EQ(0u, strOutput.rfind("\nFatal Error at file: " + SysConfigPath() + "\n  Line=2, Column=", 0))
      << strOutput;
  EXPECT_EQ('\n', strOutput.back());
}

}  // namespace
