// The Win32 tool's service group against the Windows agent installed as a
// service in the Wine prefix: the agent is installed from the Windows build
// as the Wine agent tests install it, then the tool's Windows test program
// opens the sheet on that installation, starts and stops the service through
// Wine's service manager. Run by scripts/test-windows.sh (KX_WINDOWS_BIN_DIR,
// KX_WINE_PREFIX), not by ctest.
#include <cstdlib>
#include <string>

#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

std::string Environment(const char* lpName) {
  const char* lpValue = std::getenv(lpName);
  return lpValue != nullptr ? lpValue : "";
}

std::string InPrefix(const std::string& strCommand, int* pnStatus = nullptr) {
  return RunShellCommand("env WINEPREFIX='" + Environment("KX_WINE_PREFIX") + "' WINEDEBUG=-all " + strCommand +
                             " 2>&1",
                         pnStatus);
}

class WineCtrlServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Environment("KX_WINDOWS_BIN_DIR").empty() || Environment("KX_WINE_PREFIX").empty()) {
      GTEST_SKIP() << "KX_WINDOWS_BIN_DIR and KX_WINE_PREFIX name the Windows build and its Wine prefix";
    }
    CAgentOptions options = MakeTestOptions();
    options.m_strProgram = Environment("KX_WINDOWS_BIN_DIR") + "/KxAgent.exe";
    options.m_vecLibraries = {"lib"};
    options.m_strWinePrefix = Environment("KX_WINE_PREFIX");
    options.m_strOutputEncoding = "EUC-JP";  // an item of the list: opening and OK change nothing
    ASSERT_TRUE(InstallWineAgentService(options, &m_pAgent));
  }

  void TearDown() override {
    if (m_pAgent) {
      InPrefix("/usr/lib/wine/wine64 '" + Environment("KX_WINDOWS_BIN_DIR") + "/sc.exe' stop KxAgent");
      InPrefix("/usr/lib/wine/wine64 '" + m_pAgent->GetBaseDir() + "/KxAgent.exe' -UnregServer");
      m_pAgent.reset();
    }
    if (!Environment("KX_WINE_PREFIX").empty()) RunWineServer(Environment("KX_WINE_PREFIX"), "-k");
  }

  std::unique_ptr<CAgentHarness> m_pAgent;
};

TEST_F(WineCtrlServiceTest, TheSheetStartsAndStopsTheInstalledAgent) {
  // The installation directory as the tool under Wine names it.
  std::string strBase = "Z:" + m_pAgent->GetBaseDir() + "/";
  for (char& c : strBase) {
    if (c == '/') c = '\\';
  }
  int nStatus = -1;
  std::string strOutput = InPrefix("KX_CTRL_AGENT_BASE='" + strBase + "' /usr/lib/wine/wine64 '" +
                                       Environment("KX_WINDOWS_BIN_DIR") +
                                       "/ctrl_win_tests.exe' --gtest_filter='*ServiceGroup*'",
                                   &nStatus);
  EXPECT_EQ(0, nStatus) << strOutput;
  EXPECT_NE(std::string::npos, strOutput.find("[       OK ] CtrlWinTest.ServiceGroupStartsAndStopsTheInstalledAgent"))
      << strOutput;
  EXPECT_NE(std::string::npos, strOutput.find("[  PASSED  ] 1 test")) << strOutput;
  EXPECT_EQ(std::string::npos, strOutput.find("SKIPPED")) << strOutput;
  EXPECT_TRUE(m_pAgent->WaitForPortConfigured()) << m_pAgent->Describe();
}

}  // namespace
}  // namespace e2e
}  // namespace kx
