// The Debian package as an administrator installs it: the agent, its libraries,
// the default configuration, the PAM service and the systemd unit, taken from the
// .deb unpacked below KX_PACKAGE_ROOT (scripts/test-deb.sh does that) and run
// through the harness the way the unit runs it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

namespace fs = std::filesystem;

const char kProgramDir[] = "/usr/lib/kxagent";
const char kUnitPath[] = "/lib/systemd/system/kxagent@.service";
const char kConfigDir[] = "/etc/kxagent";
const char kPamServicePath[] = "/etc/pam.d/kxagent";
const char kPackagedLogDir[] = "logdir=\"/var/log/kxagent\"";
const char kNoAccounts[] = "<logon-account/>";

std::string ReadFile(const std::string& strPath) {
  std::ifstream file(strPath, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The value of the first "strKey=" line of a unit file; empty when there is none.
std::string GetUnitSetting(const std::string& strUnit, const std::string& strKey) {
  std::istringstream lines(strUnit);
  std::string strLine;
  while (std::getline(lines, strLine)) {
    if (strLine.compare(0, strKey.size() + 1, strKey + "=") == 0) return strLine.substr(strKey.size() + 1);
  }
  return std::string();
}

// The packaged sysconfig.xml with one account (alice, every built-in command)
// and the log directory moved to strLogDir; empty when the file lacks either spot.
std::string AdaptPackagedConfig(const std::string& strXml, const std::string& strLogDir) {
  std::string strOut = strXml;
  std::string::size_type posLog = strOut.find(kPackagedLogDir);
  std::string::size_type posAccounts = strOut.find(kNoAccounts);
  if (posLog == std::string::npos || posAccounts == std::string::npos) return std::string();
  std::string strAccount = "<logon-account><account id=\"1\" logon=\"yes\" domain=\"no\"><account-name>" +
                           std::string(kAlice) + "</account-name><domain-name></domain-name><allow-commands>";
  for (int nID : AllBuiltInCommandIDs()) strAccount += "<command id=\"" + std::to_string(nID) + "\"/>";
  strAccount += "</allow-commands></account></logon-account>";
  strOut.replace(posAccounts, std::string(kNoAccounts).size(), strAccount);
  strOut.replace(posLog, std::string(kPackagedLogDir).size(), "logdir=\"" + strLogDir + "\"");
  return strOut;
}

class PackageTest : public CAgentTest {
 protected:
  void SetUp() override {
    const char* lpRoot = std::getenv("KX_PACKAGE_ROOT");
    if (lpRoot == nullptr || lpRoot[0] == '\0') GTEST_SKIP() << "KX_PACKAGE_ROOT names no unpacked package";
    m_strRoot = lpRoot;
    char szLogDir[] = "/tmp/kx-deb-log-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szLogDir));
    m_strLogDir = szLogDir;
  }
  void TearDown() override {
    CAgentTest::TearDown();
    std::error_code error;
    if (!m_strLogDir.empty()) fs::remove_all(m_strLogDir, error);
  }

  std::string m_strRoot;
  std::string m_strLogDir;
};

// The unit's program with the package's libraries, its device variable naming
// the terminal, the packaged defaults and the packaged PAM service over a
// stand-in for the system's account stack: a logon, show version with the
// packaged settings, a refused password, and the log in the configured place.
TEST_F(PackageTest, TheUnitsAgentServesItsDeviceWithThePackagedConfigurationAndPamService) {
  std::string strUnit = ReadFile(m_strRoot + kUnitPath);
  ASSERT_FALSE(strUnit.empty()) << "no unit at " << kUnitPath;
  std::string strProgram = GetUnitSetting(strUnit, "ExecStart");
  ASSERT_EQ(std::string(kProgramDir) + "/KxAgent", strProgram);
  std::string strDevice = GetUnitSetting(strUnit, "Environment");
  ASSERT_EQ(0u, strDevice.find("KX_SERIAL_DEVICE=")) << strDevice;

  std::error_code error;
  EXPECT_EQ(fs::path(kConfigDir), fs::read_symlink(m_strRoot + kProgramDir + "/config", error));
  std::string strConfig =
      AdaptPackagedConfig(ReadFile(m_strRoot + kConfigDir + "/sysconfig.xml"), m_strLogDir);
  ASSERT_FALSE(strConfig.empty()) << "the packaged sysconfig.xml has no log directory or account list to adapt";
  std::string strPamService = ReadFile(m_strRoot + kPamServicePath);
  ASSERT_NE(std::string::npos, strPamService.find("@include common-auth"));

  CAgentOptions options = MakeAgentOptions();
  options.m_strProgram = m_strRoot + strProgram;
  options.m_vecLibraries.push_back("KxAgent.msg");
  options.m_strDeviceEnvironment = strDevice;
  options.m_strSystemConfigXml = strConfig;
  options.m_strPamService = strPamService;
  CAgentAccount alice;
  alice.m_strName = kAlice;
  alice.m_strPassword = kAlicePassword;
  options.m_vecAccounts = {alice};  // its PAM entry; the configuration above lists it
  StartAgent(options);
  ASSERT_FALSE(HasFatalFailure());

  ASSERT_TRUE(m_pAgent->Send(std::string(kAlice) + "\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(kAlice) + "\r\npassword: "));
  ASSERT_TRUE(m_pAgent->Send("Not-" + std::string(kAlicePassword) + "\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent,
                              "\r\nlogon incorrect.\r\n([Error] (0x0000052e) Logon failure: unknown user name "
                              "or bad password.)\n\r\n" + LogonScreen(),
                              2 * kDefaultTimeoutMs));

  LogOn(kAlice, kAlicePassword);
  TypeCommand("show version");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, m_pAgent->GetBanner() + "\n"));
  EXPECT_TRUE(ReceivesMatching(*m_pAgent, Prompt(),
                               "[\\s\\S]*"
                               " -- Logon Timeout         : 180 seconds\n"
                               " -- Eventlog Notification : On\n"
                               "\r\n" +
                                   RegexLiteral(Prompt())));
  EXPECT_NE(std::string::npos, ReadFile(m_strLogDir + "/info.log").find("Command Execute"));
}

}  // namespace
}  // namespace e2e
}  // namespace kx
