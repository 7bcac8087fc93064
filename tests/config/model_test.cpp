// The in-memory model: defaults, the modified flag, ID allocation, plug-in
// removal and the account records.

#include <functional>
#include <filesystem>
#include <vector>

#include "ConfigTestSupport.h"

namespace {

std::vector<int> PluginIDs(const CKxAgentConfigManager& manager) {
  std::vector<int> vec;
  for (const CKxAgentPluginEntry* pEntry : *manager.GetPluginList()) vec.push_back(pEntry->GetPluginID());
  return vec;
}

class ModelTest : public ConfigDirTest {};

TEST_F(ModelTest, FreshManagerHasTheDefaults) {
  CKxAgentConfigManager manager(BaseDir().c_str());

  ASSERT_EQ(1u, manager.GetPluginList()->size());
  const CKxAgentPluginEntry* pBuiltIn = manager.GetPluginList()->front();
  EXPECT_EQ(0, pBuiltIn->GetPluginID());
  EXPECT_EQ(1, pBuiltIn->GetType());
  EXPECT_STREQ("Built-in", pBuiltIn->GetTypeName());
  EXPECT_STREQ("", pBuiltIn->GetLibrary());
  EXPECT_TRUE(manager.GetLogonAccountList()->empty());
  EXPECT_TRUE(manager.GetCommandList()->empty());
  EXPECT_EQ(FALSE, manager.IsModified());

  EXPECT_EQ(8ul, manager.GetMaxComPort());
  EXPECT_EQ(1ul, manager.GetComPort());
  EXPECT_EQ(9600ul, manager.GetComSpeed());
  EXPECT_STREQ("Shift_JIS", manager.GetOutputEncoding());
  EXPECT_EQ(180ul, manager.GetLogonTimeout());
  EXPECT_EQ(TRUE, manager.IsEventLogNotification());
  EXPECT_EQ(TRUE, manager.IsHiddenExecutionImproperCommand());
  EXPECT_EQ(FALSE, manager.IsCPUMonitoring());
  EXPECT_EQ(FALSE, manager.IsScriptPluginSupport());
  EXPECT_EQ(SysConfigPath(), manager.GetSystemConfigPath());
  EXPECT_EQ(CommandConfigPath(), manager.GetCommandConfigPath());
  EXPECT_EQ(BaseDir() + "plugins/", manager.GetPluginDir());

  const CKxAgentLogSetting* pLog = manager.GetLogSetting();
  const std::string strLogDir = std::filesystem::current_path().string() + "/log";
  EXPECT_EQ(strLogDir, pLog->GetLogFileDir());
  EXPECT_EQ(strLogDir + "/info.log", pLog->GetInfoLogFilePath());
  EXPECT_EQ(10485760L, pLog->GetLogFileMaxSize());
  EXPECT_EQ(FALSE, pLog->IsLogEnabled() | pLog->IsInfoLogEnabled() | pLog->IsWarningLogEnabled() |
                       pLog->IsErrorLogEnabled() | pLog->IsDebugLogEnabled());
}

TEST_F(ModelTest, ModifiedFlagFollowsChangesAndHandOuts) {
  struct Case {
    const char* lpWhat;
    std::function<void(CKxAgentConfigManager&)> fnAction;
    BOOL bModified;
  };
  const Case cases[] = {
      {"com port to its current value", [](auto& m) { m.SetComPort(1); }, FALSE},
      {"com port changed", [](auto& m) { m.SetComPort(2); }, TRUE},
      {"max com port same", [](auto& m) { m.SetMaxComPort(8); }, FALSE},
      {"speed same", [](auto& m) { m.SetComSpeed(9600); }, FALSE},
      {"timeout same", [](auto& m) { m.SetLogonTimeout(180); }, FALSE},
      {"encoding same", [](auto& m) { m.SetOutputEncoding("Shift_JIS"); }, FALSE},
      {"encoding differs in case", [](auto& m) { m.SetOutputEncoding("shift_jis"); }, TRUE},
      {"notification same", [](auto& m) { m.SetEventLogNotification(TRUE); }, FALSE},
      {"BOOL 2 over 1", [](auto& m) { m.SetEventLogNotification(2); }, TRUE},
      {"hidden same", [](auto& m) { m.SetHiddenExecutionImproperCommand(TRUE); }, FALSE},
      {"cpu same", [](auto& m) { m.SetCPUMonitoring(FALSE); }, FALSE},
      {"script support changed", [](auto& m) { m.SetScriptPluginSupport(TRUE); }, TRUE},
      {"log setting fetched", [](auto& m) { m.GetLogSetting(); }, TRUE},
      {"built-in entry fetched", [](auto& m) { m.GetPluginEntry(0); }, TRUE},
      {"unknown plug-in looked up", [](auto& m) { m.GetPluginEntry(10000); }, FALSE},
      {"unknown account by ID", [](auto& m) { m.GetLogonAccount(1); }, FALSE},
      {"unknown account by name", [](auto& m) { m.GetLogonAccount("admin", ""); }, FALSE},
      {"unknown account removed", [](auto& m) { m.RemoveLogonAccount(1); }, FALSE},
      {"unknown plug-in removed", [](auto& m) { m.RemovePlugin(10000); }, FALSE},
      {"directories set", [](auto& m) { m.SetConfigDir("/x/"); m.SetPluginDir("/y/"); }, FALSE},
      {"account added", [](auto& m) { m.AddLogonAccount("a", "", TRUE, FALSE); }, TRUE},
      {"plug-in added", [](auto& m) { m.AddPlugin("p.js", 3); }, TRUE},
  };
  for (const Case& c : cases) {
    CKxAgentConfigManager manager(BaseDir().c_str());
    c.fnAction(manager);
    EXPECT_EQ(c.bModified, manager.IsModified()) << c.lpWhat;
  }
}

TEST_F(ModelTest, LookupsThatFindARecordMarkModified) {
  CKxAgentConfigManager manager(BaseDir().c_str());
  CKxAgentLogonAccount* pAccount = manager.AddLogonAccount("admin", "", TRUE, FALSE);
  ASSERT_EQ(TRUE, manager.SaveSystemConfig());
  ASSERT_EQ(FALSE, manager.IsModified());

  EXPECT_EQ(pAccount, manager.GetLogonAccount("admin", ""));
  EXPECT_EQ(TRUE, manager.IsModified());
  ASSERT_EQ(TRUE, manager.SaveSystemConfig());
  EXPECT_EQ(pAccount, manager.GetLogonAccount(pAccount->GetAccountID()));
  EXPECT_EQ(TRUE, manager.IsModified());
  // A failed removal leaves a set flag set.
  EXPECT_EQ(FALSE, manager.RemoveLogonAccount(99));
  EXPECT_EQ(TRUE, manager.IsModified());
}

TEST_F(ModelTest, AccountIDsGoOneAboveTheLargest) {
  WriteSysConfig(
      "<logon-account><account id=\"1\"/><account id=\"5\"/><account id=\"2\"/></logon-account>");
  CKxAgentConfigManager fresh(BaseDir().c_str());
  EXPECT_EQ(1, fresh.AddLogonAccount("first", "", TRUE, FALSE)->GetAccountID());

  CKxAgentConfigManager manager(BaseDir().c_str());
  manager.LoadConfig();

  EXPECT_EQ(6, manager.AddLogonAccount("x", "", TRUE, FALSE)->GetAccountID());
  EXPECT_EQ(TRUE, manager.RemoveLogonAccount(6));
  EXPECT_EQ(6, manager.AddLogonAccount("y", "", TRUE, FALSE)->GetAccountID());
}

TEST_F(ModelTest, PluginIDsStepByTenThousandAboveTheLargest) {
  CKxAgentConfigManager fresh(BaseDir().c_str());
  EXPECT_EQ(10000, fresh.AddPlugin("a.dll", 4)->GetPluginID());

  WriteSysConfig(
      "<plugin-entry><plugin plugin-id=\"10000\" library=\"a.dll\" type=\"4\"/>"
      "<plugin plugin-id=\"30000\" library=\"b.js\" type=\"3\"/></plugin-entry>");
  CKxAgentConfigManager manager(BaseDir().c_str());
  manager.LoadConfig();
  EXPECT_EQ(40000, manager.AddPlugin("c.vbs", 2)->GetPluginID());
  EXPECT_EQ((std::vector<int>{0, 10000, 30000, 40000}), PluginIDs(manager));
}

TEST_F(ModelTest, PluginIDsNearTheIntLimitTakeTheLowestFreeBlock) {
  WriteSysConfig(
      "<plugin-entry><plugin plugin-id=\"10000\" library=\"a.dll\" type=\"4\"/>"
      "<plugin plugin-id=\"2147480000\" library=\"b.js\" type=\"3\"/></plugin-entry>"
      "<logon-account><account id=\"2147483647\"/></logon-account>");
  CKxAgentConfigManager manager(BaseDir().c_str());
  manager.LoadConfig();
  EXPECT_EQ(20000, manager.AddPlugin("c.vbs", 2)->GetPluginID());
  EXPECT_EQ(1, manager.AddLogonAccount("b", "", TRUE, FALSE)->GetAccountID());
}

TEST_F(ModelTest, RemovePluginTakesItsCommandBlockFromEveryAccount) {
  struct Case {
    int nRemoved;
    std::vector<int> vecLeft;
  };
  const Case cases[] = {{20000, {3, 10000, 10004}}, {10000, {3, 20001, 29999}}};
  for (const Case& c : cases) {
    CKxAgentConfigManager manager(BaseDir().c_str());
    manager.AddPlugin("a.dll", 4);
    manager.AddPlugin("b.js", 3);
    CKxAgentLogonAccount* pFirst = manager.AddLogonAccount("one", "", TRUE, FALSE);
    CKxAgentLogonAccount* pSecond = manager.AddLogonAccount("two", "", TRUE, FALSE);
    for (int nID : {3, 10000, 10004, 20001, 29999}) {
      pFirst->AddAllowCommandID(nID);
      pSecond->AddAllowCommandID(nID);
    }
    EXPECT_EQ(TRUE, manager.RemovePlugin(c.nRemoved));
    EXPECT_EQ(c.vecLeft, *pFirst->GetAllowCommandIDList()) << c.nRemoved;
    EXPECT_EQ(c.vecLeft, *pSecond->GetAllowCommandIDList()) << c.nRemoved;
    EXPECT_EQ(nullptr, manager.GetPluginEntry(c.nRemoved));
    EXPECT_EQ(2u, manager.GetPluginList()->size());
  }
}

TEST_F(ModelTest, AccountsKeepADomainOnlyAsDomainAccountsAndMatchExactly) {
  CKxAgentConfigManager manager(BaseDir().c_str());
  CKxAgentLogonAccount* pLocal = manager.AddLogonAccount("admin", "CORP", TRUE, FALSE);
  CKxAgentLogonAccount* pDomain = manager.AddLogonAccount("admin", "CORP", FALSE, TRUE);

  EXPECT_STREQ("", pLocal->GetDomainName());
  EXPECT_STREQ("CORP", pDomain->GetDomainName());
  EXPECT_EQ(pLocal, manager.GetLogonAccount("admin", ""));
  EXPECT_EQ(pDomain, manager.GetLogonAccount("admin", "CORP"));
  EXPECT_EQ(nullptr, manager.GetLogonAccount("Admin", ""));
  EXPECT_EQ(nullptr, manager.GetLogonAccount("admin", "corp"));
}

TEST_F(ModelTest, AllowedCommandListHasNoDuplicates) {
  CKxAgentLogonAccount account(1, "op", "", TRUE, FALSE);
  for (int nID : {0, 3, 10002, 3}) account.AddAllowCommandID(nID);

  EXPECT_EQ((std::vector<int>{0, 3, 10002}), *account.GetAllowCommandIDList());
  for (int nID : {0, 3, 10002}) EXPECT_EQ(TRUE, account.IsAllowedCommand(nID)) << nID;
  for (int nID : {1, 2, 10000, 10001, 20002}) EXPECT_EQ(FALSE, account.IsAllowedCommand(nID)) << nID;
  EXPECT_EQ(FALSE, account.RemoveAllowCommandID(7));
  EXPECT_EQ(TRUE, account.RemoveAllowCommandID(3));
  EXPECT_EQ((std::vector<int>{0, 10002}), *account.GetAllowCommandIDList());
}

TEST_F(ModelTest, TypeNamesAndLogPaths) {
  const std::pair<int, const char*> names[] = {
      {1, "Built-in"}, {2, "VBScript"}, {3, "JScript"}, {4, "Win32 DLL"}, {0, "Unknown?"}, {5, "Unknown?"}};
  for (const auto& name : names) {
    EXPECT_STREQ(name.second, CKxAgentPluginEntry(1, "x", name.first).GetTypeName());
    EXPECT_STREQ(name.second, CKxAgentCommand(name.first, 1, "", "", -1).GetTypeName());
  }

  CKxAgentLogSetting setting;
  setting.SetLogFileDir("/var/log/kx");
  EXPECT_STREQ("/var/log/kx/info.log", setting.GetInfoLogFilePath());
  EXPECT_STREQ("/var/log/kx/warning.log", setting.GetWarningLogFilePath());
  EXPECT_STREQ("/var/log/kx/error.log", setting.GetErrorLogFilePath());
  EXPECT_STREQ("/var/log/kx/debug.log", setting.GetDebugLogFilePath());
}

}  // namespace
