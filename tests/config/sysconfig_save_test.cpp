// Writing sysconfig.xml: the round trip, the bytes of the file, and failures
// that must leave the previous file alone.

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <vector>

#include "ConfigTestSupport.h"

namespace {

const char kKanriCp932[] = "\x8a\xc7\x97\x9d";  // "管理" in code page 932

class SysConfigSaveTest : public ConfigDirTest {
 protected:
  // A manager with every setting away from its default.
  void FillModel(CKxAgentConfigManager& manager) {
    manager.SetMaxComPort(16);
    manager.SetComPort(3);
    manager.SetComSpeed(115200);
    manager.SetOutputEncoding("EUC-JP");
    manager.SetLogonTimeout(4294967295ul);
    manager.SetEventLogNotification(FALSE);
    manager.SetHiddenExecutionImproperCommand(FALSE);
    manager.SetCPUMonitoring(TRUE);
    manager.SetScriptPluginSupport(TRUE);
    CKxAgentLogSetting* pLog = manager.GetLogSetting();
    pLog->SetLogFileDir("/srv/kx & <log>");
    pLog->SetLogFileLimit(TRUE);
    pLog->SetLogFileMaxSize(-5);
    pLog->SetLogEnabled(TRUE);
    pLog->SetWarningLogEnabled(TRUE);
    pLog->SetDebugLogEnabled(TRUE);
    manager.AddPlugin("sample.dll", 4);
    manager.AddPlugin("\"quoted\".js", 3);
    CKxAgentLogonAccount* pLocal = manager.AddLogonAccount(kKanriCp932, "IGNORED", TRUE, FALSE);
    for (int nID : {16, 0, 10001}) pLocal->AddAllowCommandID(nID);
    manager.AddLogonAccount("ops", "CORP", FALSE, TRUE)->AddAllowCommandID(20000);
  }
};

void ExpectSameModel(CKxAgentConfigManager& a, CKxAgentConfigManager& b) {
  EXPECT_EQ(a.GetMaxComPort(), b.GetMaxComPort());
  EXPECT_EQ(a.GetComPort(), b.GetComPort());
  EXPECT_EQ(a.GetComSpeed(), b.GetComSpeed());
  EXPECT_STREQ(a.GetOutputEncoding(), b.GetOutputEncoding());
  EXPECT_EQ(a.GetLogonTimeout(), b.GetLogonTimeout());
  EXPECT_EQ(a.IsEventLogNotification(), b.IsEventLogNotification());
  EXPECT_EQ(a.IsHiddenExecutionImproperCommand(), b.IsHiddenExecutionImproperCommand());
  EXPECT_EQ(a.IsCPUMonitoring(), b.IsCPUMonitoring());
  EXPECT_EQ(a.IsScriptPluginSupport(), b.IsScriptPluginSupport());

  const CKxAgentLogSetting* pLogA = a.GetLogSetting();
  const CKxAgentLogSetting* pLogB = b.GetLogSetting();
  EXPECT_STREQ(pLogA->GetLogFileDir(), pLogB->GetLogFileDir());
  EXPECT_STREQ(pLogA->GetDebugLogFilePath(), pLogB->GetDebugLogFilePath());
  EXPECT_EQ(pLogA->IsLogFileLimit(), pLogB->IsLogFileLimit());
  EXPECT_EQ(pLogA->GetLogFileMaxSize(), pLogB->GetLogFileMaxSize());
  EXPECT_EQ(pLogA->IsLogEnabled(), pLogB->IsLogEnabled());
  EXPECT_EQ(pLogA->IsInfoLogEnabled(), pLogB->IsInfoLogEnabled());
  EXPECT_EQ(pLogA->IsWarningLogEnabled(), pLogB->IsWarningLogEnabled());
  EXPECT_EQ(pLogA->IsErrorLogEnabled(), pLogB->IsErrorLogEnabled());
  EXPECT_EQ(pLogA->IsDebugLogEnabled(), pLogB->IsDebugLogEnabled());

  const auto& pluginsA = *a.GetPluginList();
  const auto& pluginsB = *b.GetPluginList();
  ASSERT_EQ(pluginsA.size(), pluginsB.size());
  for (size_t i = 0; i < pluginsA.size(); ++i) {
    EXPECT_EQ(pluginsA[i]->GetPluginID(), pluginsB[i]->GetPluginID());
    EXPECT_EQ(pluginsA[i]->GetType(), pluginsB[i]->GetType());
    EXPECT_STREQ(pluginsA[i]->GetLibrary(), pluginsB[i]->GetLibrary());
  }
  const auto& accountsA = *a.GetLogonAccountList();
  const auto& accountsB = *b.GetLogonAccountList();
  ASSERT_EQ(accountsA.size(), accountsB.size());
  for (size_t i = 0; i < accountsA.size(); ++i) {
    EXPECT_EQ(accountsA[i]->GetAccountID(), accountsB[i]->GetAccountID());
    EXPECT_STREQ(accountsA[i]->GetAccountName(), accountsB[i]->GetAccountName());
    EXPECT_STREQ(accountsA[i]->GetDomainName(), accountsB[i]->GetDomainName());
    EXPECT_EQ(accountsA[i]->IsLogonAllowed(), accountsB[i]->IsLogonAllowed());
    EXPECT_EQ(accountsA[i]->IsDomainAccount(), accountsB[i]->IsDomainAccount());
    EXPECT_EQ(*accountsA[i]->GetAllowCommandIDList(), *accountsB[i]->GetAllowCommandIDList());
  }
}

TEST_F(SysConfigSaveTest, SavedModelLoadsBackEqual) {
  CKxAgentConfigManager original(BaseDir().c_str());
  FillModel(original);
  ASSERT_EQ(TRUE, original.SaveSystemConfig());
  EXPECT_EQ(FALSE, original.IsModified());

  CKxAgentConfigManager loaded(BaseDir().c_str());
  loaded.LoadConfig();
  EXPECT_EQ(FALSE, loaded.IsModified());
  ExpectSameModel(original, loaded);
  EXPECT_STREQ(kKanriCp932, loaded.GetLogonAccountList()->front()->GetAccountName());

  // Saving the loaded model again neither adds a built-in entry nor changes a byte.
  const std::string strFirst = ReadWholeFile(SysConfigPath());
  ASSERT_EQ(TRUE, loaded.SaveSystemConfig());
  EXPECT_EQ(strFirst, ReadWholeFile(SysConfigPath()));
  EXPECT_EQ(3u, loaded.GetPluginList()->size());
}

TEST_F(SysConfigSaveTest, FileIsShiftJisWithCrLfLines) {
  CKxAgentConfigManager manager(BaseDir().c_str());
  FillModel(manager);
  ASSERT_EQ(TRUE, manager.SaveSystemConfig());
  const std::string strFile = ReadWholeFile(SysConfigPath());

  EXPECT_EQ(0u, strFile.rfind("<?xml version=\"1.0\" encoding=\"Shift_JIS\"", 0)) << strFile;
  EXPECT_NE(std::string::npos, strFile.find(std::string("<account-name>") + kKanriCp932 + "</account-name>\r\n"));
  EXPECT_NE(std::string::npos, strFile.find("\r\n  <comport>\r\n    <port>3</port>\r\n"));
  EXPECT_NE(std::string::npos,
            strFile.find("<log-setting logdir=\"/srv/kx &amp; &lt;log>\" logfile-limit=\"yes\" "
                         "logfilemaxsize=\"-5\" logging=\"yes\">"));
  EXPECT_NE(std::string::npos, strFile.find("<logon-timeout>-1</logon-timeout>"));
  EXPECT_NE(std::string::npos, strFile.find("library=\"&quot;quoted&quot;.js\""));
  size_t nLines = 0;
  for (size_t i = 0; i < strFile.size(); ++i) {
    if (strFile[i] != '\n') continue;
    ++nLines;
    ASSERT_TRUE(i > 0 && strFile[i - 1] == '\r') << "bare LF at byte " << i;
  }
  EXPECT_GT(nLines, 20u);
  EXPECT_EQ("\r\n", strFile.substr(strFile.size() - 2));
}

TEST_F(SysConfigSaveTest, FreshManagerWritesEmptyListsAndNoBuiltInEntry) {
  CKxAgentConfigManager manager(BaseDir().c_str());
  ASSERT_EQ(TRUE, manager.SaveSystemConfig());
  const std::string strFile = ReadWholeFile(SysConfigPath());
  EXPECT_NE(std::string::npos, strFile.find("<plugin-entry/>")) << strFile;
  EXPECT_NE(std::string::npos, strFile.find("<logon-account/>"));
  EXPECT_EQ(std::string::npos, strFile.find("<plugin "));

  CKxAgentConfigManager loaded(BaseDir().c_str());
  loaded.LoadConfig();
  ExpectSameModel(manager, loaded);
}

TEST_F(SysConfigSaveTest, TextXmlCannotCarryIsReplacedNotRefused) {
  CKxAgentConfigManager manager(BaseDir().c_str());
  manager.AddLogonAccount("a\x01" "b\x1f" "c\tz", "", TRUE, FALSE);
  manager.SetOutputEncoding("x\xff");  // not code page 932
  ASSERT_EQ(TRUE, manager.SaveSystemConfig());

  CKxAgentConfigManager loaded(BaseDir().c_str());
  loaded.LoadConfig();
  ASSERT_EQ(1u, loaded.GetLogonAccountList()->size());
  EXPECT_STREQ("a?b?c\tz", loaded.GetLogonAccountList()->front()->GetAccountName());
  EXPECT_EQ('x', loaded.GetOutputEncoding()[0]);
}

TEST_F(SysConfigSaveTest, UnwritableTargetReturnsFalseAndKeepsTheOldFile) {
  const std::string strOld = "<system-config><comport><port>2</port></comport></system-config>";
  WriteWholeFile(SysConfigPath(), strOld);
  WriteWholeFile(BaseDir() + "plain-file", "x");
  const std::string dirs[] = {BaseDir() + "missing/", BaseDir() + "plain-file/"};
  for (const std::string& strDir : dirs) {
    CKxAgentConfigManager manager(BaseDir().c_str());
    manager.SetConfigDir(strDir.c_str());
    manager.SetComPort(5);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(FALSE, manager.SaveSystemConfig()) << strDir;
    EXPECT_NE(std::string::npos, ::testing::internal::GetCapturedStdout().find("Error during saving"));
    EXPECT_EQ(TRUE, manager.IsModified()) << strDir;
  }
  EXPECT_EQ(strOld, ReadWholeFile(SysConfigPath()));
  EXPECT_EQ((std::vector<std::string>{"sysconfig.xml"}),
            [&] {
              std::vector<std::string> names;
              for (const auto& entry : std::filesystem::directory_iterator(ConfigDir()))
                names.push_back(entry.path().filename().string());
              return names;
            }());
}

TEST_F(SysConfigSaveTest, WriteThatFailsMidwayKeepsTheOldFileWhole) {
  const std::string strOld(4096, ' ');
  WriteWholeFile(SysConfigPath(), "<system-config/>" + strOld);
  CKxAgentConfigManager manager(BaseDir().c_str());
  FillModel(manager);

  // A file-size limit below the document's size makes the write fail part-way,
  // as a full disk would (even for root).
  rlimit saved{};
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  rlimit small = saved;
  small.rlim_cur = 256;
  sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  ::testing::internal::CaptureStdout();
  BOOL bSaved = manager.SaveSystemConfig();
  ::testing::internal::GetCapturedStdout();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(FALSE, bSaved);
  EXPECT_EQ("<system-config/>" + strOld, ReadWholeFile(SysConfigPath()));
  EXPECT_FALSE(FileExists(SysConfigPath() + ".tmp"));
  EXPECT_EQ(TRUE, manager.IsModified());
}

}  // namespace
