// The Windows installer under Wine's msiexec, in a prefix of its own: installed,
// the agent serves COM1 as the service the package installed; upgraded to a
// later version, an edited sysconfig.xml survives; removed, the service and the
// programs are gone and config\ is kept. Run by scripts/test-windows.sh, which
// names the package in KX_MSI, a later version of it in KX_MSI_NEXT, the
// Windows build's bin/ (for sc.exe) in KX_WINDOWS_BIN_DIR and a fresh prefix in
// KX_WINE_PREFIX; the steps and their answers go to KX_MSI_TRANSCRIPT when set.
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "e2e_support.h"
#include "wine_support.h"

namespace kx {
namespace e2e {
namespace {

const char kInstallDir[] = "/drive_c/Program Files/Kestrix/KxAgent";
const char kInstallDirWindows[] = "C:\\Program Files\\Kestrix\\KxAgent";
const char kEventSourceQuery[] =
    "reg query 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\KxAgent' /v EventMessageFile";

bool Exists(const std::string& strPath) {
  struct stat info;
  return stat(strPath.c_str(), &info) == 0;
}

class WineMsiTest : public CAgentTest {
 protected:
  void SetUp() override {
    if (!HasWindowsBuild() || Environment("KX_MSI").empty() || Environment("KX_MSI_NEXT").empty()) {
      GTEST_SKIP() << "KX_MSI, KX_MSI_NEXT, KX_WINDOWS_BIN_DIR and KX_WINE_PREFIX name the packages, the "
                      "Windows build and a fresh prefix";
    }
    m_strInstallDir = Environment("KX_WINE_PREFIX") + kInstallDir;
    // Wine's service manager stops every service once no ordinary program of
    // the prefix is left, unless its server is persistent.
    WineServer("-k");
    WineServer("-w");
    WineServer("-p");
    // The harness only provides the terminal on COM1 here: its program is a
    // query of the service manager; the service serves the line.
    CAgentOptions options = MakeWineOptions();
    options.m_strProgram = Environment("KX_WINDOWS_BIN_DIR") + "/sc.exe";
    options.m_vecArguments = {"query", "KxAgent"};
    options.m_bWriteSystemConfig = FALSE;
    m_options = options;
    m_pAgent = std::make_unique<CAgentHarness>(options);
    ASSERT_TRUE(m_pAgent->Start()) << m_pAgent->GetLastError();
    m_pAgent->WaitForExit(3 * kDefaultTimeoutMs);
    m_pAgent->SetServedByService();
  }

  void TearDown() override {
    std::string strPath = Environment("KX_MSI_TRANSCRIPT");
    if (!strPath.empty()) std::ofstream(strPath, std::ios::binary) << m_strTranscript;
    CAgentTest::TearDown();
    if (HasWindowsBuild()) WineServer("-k");
  }

  // Runs a command in the prefix and keeps it and its answer in the transcript.
  std::string Step(const std::string& strShown, const std::string& strCommand, int* pnStatus) {
    std::string strOutput = RunWine(strCommand, pnStatus);
    m_strTranscript += "$ " + strShown + "\n" + strOutput + "(exit " + std::to_string(*pnStatus) + ")\n";
    return strOutput;
  }

  std::string Msiexec(const std::string& strSwitch, const std::string& strPackage, int* pnStatus) {
    std::string strName = strPackage.substr(strPackage.rfind('/') + 1);
    return Step("msiexec " + strSwitch + " " + strName + " /qn", "msiexec " + strSwitch + " '" + strPackage + "' /qn",
                pnStatus);
  }

  void Note(const std::string& strText) { m_strTranscript += strText + "\n"; }

  CAgentOptions m_options;
  std::string m_strInstallDir;
  std::string m_strTranscript;
};

TEST_F(WineMsiTest, InstallsServesUpgradesKeepingTheConfigurationAndUninstalls) {
  // Installed: the files, the event source, the service, started.
  int nStatus = -1;
  Msiexec("/i", Environment("KX_MSI"), &nStatus);
  ASSERT_EQ(0, nStatus) << m_strTranscript;
  const char* const kInstalled[] = {"KxAgent.exe",
                                    "KxAgentCtrl.exe",
                                    "libKxAgentConfigManager.dll",
                                    "libKxAgentPluginManager.dll",
                                    "libstdc++-6.dll",
                                    "sc.exe",
                                    "eventcreate.exe",
                                    "config/sysconfig.xml",
                                    "config/command.xml",
                                    "plugins",
                                    "log",
                                    "sdk/include/KxAgentPluginManager/KxAgentDLLPlugin.h",
                                    "sdk/samples/kxsysinfo.dll"};
  for (const char* lpPath : kInstalled) EXPECT_TRUE(Exists(m_strInstallDir + "/" + lpPath)) << lpPath;
  std::string strSource = Step("reg query ...\\EventLog\\Application\\KxAgent", kEventSourceQuery, &nStatus);
  EXPECT_NE(std::string::npos, strSource.find(std::string(kInstallDirWindows) + "\\KxAgent.exe")) << strSource;
  std::string strConfig = Step("sc qc KxAgent", "'" + Environment("KX_WINDOWS_BIN_DIR") + "/sc.exe' qc KxAgent",
                               &nStatus);
  EXPECT_NE(std::string::npos, strConfig.find("AUTO_START")) << strConfig;
  EXPECT_NE(std::string::npos, strConfig.find("Kestrix Agent for Windows")) << strConfig;
  EXPECT_NE(std::string::npos, strConfig.find("KxAgent.exe")) << strConfig;
  EXPECT_EQ("RUNNING", WaitForServiceState("RUNNING"));
  Note("service: RUNNING");

  // The administrator's configuration, in force after a restart of the service.
  std::string strEdited = BuildSystemConfigXml(m_options, std::string(kInstallDirWindows) + "\\log");
  std::ofstream(m_strInstallDir + "/config/sysconfig.xml", std::ios::binary) << strEdited;
  Note("(sysconfig.xml replaced by the test's accounts)");
  Sc("stop KxAgent");
  ASSERT_EQ("STOPPED", WaitForServiceState("STOPPED"));
  Sc("start KxAgent", &nStatus);
  ASSERT_EQ("RUNNING", WaitForServiceState("RUNNING"));
  ASSERT_TRUE(m_pAgent->OpenLogonScreen().m_bFound) << m_pAgent->Describe();
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  TypeCommand("show version");
  ASSERT_FALSE(HasFatalFailure());
  std::string strVersion;
  // Wine reports a Windows 10 by default: a name from the table, never "Unknown".
  EXPECT_TRUE(ReceivesMatching(*m_pAgent, Prompt(),
                               RegexLiteral(m_pAgent->GetBanner()) +
                                   "[\\s\\S]* OS Version      : Windows NT \\d+\\.\\d+\\.\\d+ \\((?!Unknown)Windows "
                                   "[^)]+\\)\n[\\s\\S]*" +
                                   RegexLiteral(Prompt()),
                               &strVersion));
  Note("terminal: logon as " + std::string(kAlice) + ", show version:\n" + strVersion);

  // A port that cannot be opened: the start fails, and the service says why in
  // its exit code (1066, its own code 0x103), so the manager logs the failure.
  CAgentOptions noPort = m_options;
  noPort.m_dwComPort = 99;
  std::ofstream(m_strInstallDir + "/config/sysconfig.xml", std::ios::binary)
      << BuildSystemConfigXml(noPort, std::string(kInstallDirWindows) + "\\log");
  Sc("stop KxAgent");
  ASSERT_EQ("STOPPED", WaitForServiceState("STOPPED"));
  Sc("start KxAgent");
  EXPECT_EQ("1066", WaitForServiceState("1066"));
  Note("port COM99 configured, sc start KxAgent; sc query KxAgent:\n" + Sc("query KxAgent"));
  std::ofstream(m_strInstallDir + "/config/sysconfig.xml", std::ios::binary) << strEdited;

  // A later version replaces this one; the edited configuration stays.
  Msiexec("/i", Environment("KX_MSI_NEXT"), &nStatus);
  ASSERT_EQ(0, nStatus) << m_strTranscript;
  EXPECT_EQ(strEdited, ReadTextFile(m_strInstallDir + "/config/sysconfig.xml"));
  EXPECT_TRUE(Exists(m_strInstallDir + "/KxAgent.exe"));
  EXPECT_EQ("RUNNING", WaitForServiceState("RUNNING"));
  Note("sysconfig.xml after the upgrade: the test's (kept); service: RUNNING");

  // Removed: service, registrations and programs gone; config\ kept.
  Msiexec("/x", Environment("KX_MSI_NEXT"), &nStatus);
  ASSERT_EQ(0, nStatus) << m_strTranscript;
  std::string strQuery = Sc("query KxAgent");
  EXPECT_NE(std::string::npos, strQuery.find("1060")) << strQuery;
  Note("sc query KxAgent: " + strQuery.substr(0, strQuery.find('\n')));
  if (Exists(m_strInstallDir + "/KxAgent.exe")) {
    // The stopped service's process had not ended yet when its files were
    // removed: the installer leaves files in use to the next restart, as
    // Windows does.
    Step("wineboot -r (files in use are removed at the restart)", "wineboot -r", &nStatus);
  }
  EXPECT_FALSE(Exists(m_strInstallDir + "/KxAgent.exe"));
  EXPECT_FALSE(Exists(m_strInstallDir + "/libKxAgentConfigManager.dll"));
  EXPECT_FALSE(Exists(m_strInstallDir + "/KxAgentCtrl.exe"));
  EXPECT_FALSE(Exists(m_strInstallDir + "/sdk"));
  EXPECT_EQ(strEdited, ReadTextFile(m_strInstallDir + "/config/sysconfig.xml"));
  EXPECT_TRUE(Exists(m_strInstallDir + "/config/command.xml"));
  strSource = Step("reg query ...\\EventLog\\Application\\KxAgent", kEventSourceQuery, &nStatus);
  EXPECT_NE(0, nStatus) << strSource;
  Note("left in " + std::string(kInstallDirWindows) + ": " +
       RunShellCommand("cd '" + m_strInstallDir + "' && find . -mindepth 1 | sort | tr '\\n' ' '"));
}

}  // namespace
}  // namespace e2e
}  // namespace kx
