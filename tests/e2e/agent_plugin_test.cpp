// Plug-ins on the real agent: a DLL and a JScript plug-in configured beside
// broken entries. Their commands are listed after the built-in ones, complete,
// run and obey the account's command IDs; every broken entry leaves its
// load-error entry and the agent serves regardless.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

const std::string kExampleDir = KX_BIN_DIR "/../examples/plugins/";
const std::string kTestPluginDir = KX_BIN_DIR "/../tests/plugins/";

// Script files the test writes for itself; removed with the fixture.
class CScratchDir {
 public:
  CScratchDir() {
    char szTemplate[] = "/tmp/kx_plugin_e2e_XXXXXX";
    const char* lpDir = mkdtemp(szTemplate);
    m_strDir = lpDir != nullptr ? lpDir : "/tmp";
  }
  ~CScratchDir() {
    std::error_code error;
    std::filesystem::remove_all(m_strDir, error);
  }
  std::string Write(const std::string& strName, const std::string& strText) {
    std::string strPath = m_strDir + "/" + strName;
    std::ofstream(strPath, std::ios::binary) << strText;
    return strPath;
  }

 private:
  std::string m_strDir;
};

class PluginAgentTest : public CAgentTest {
 protected:
  void SetUp() override {
    CAgentOptions options = MakeTestOptions();
    options.m_bScriptPluginSupport = TRUE;
    options.m_vecPlugins = {
        {10000, "kxsysinfo.so", 4},
        {20000, "echo.js", 3},
        {30000, "spin.js", 3},
        {40000, "missing.so", 4},
        {50000, "kxtest_no_exports.so", 4},
        {60000, "broken.js", 3},
        {70000, "echo.vbs", 2},
        {80000, "../plugins/kxsysinfo.so", 4},
        {90000, "kxtest_null_slot.so", 4},
    };
    options.m_vecPluginFiles = {
        kExampleDir + "kxsysinfo.so",
        kExampleDir + "echo.js",
        kExampleDir + "echo.vbs",
        kTestPluginDir + "kxtest_no_exports.so",
        kTestPluginDir + "kxtest_null_slot.so",
        m_scratch.Write("spin.js",
                        "function GetCommandLineDef() { return 'spin'; }\n"
                        "function Run() { while (true) {} }\n"),
        m_scratch.Write("broken.js", "function GetCommandLineDef() { return 'broken'; \n"),
    };
    // alice: every built-in command and the plug-ins' commands, and 90001, the ID of
    // a command without an object: left unregistered, it cannot shadow any command.
    // dave keeps {0, 1, 5}.
    options.m_vecAccounts[0].m_vecCommandIDs.insert(options.m_vecAccounts[0].m_vecCommandIDs.end(),
                                                    {10000, 10001, 20000, 30000, 90001});
    StartAgent(options);
  }

  CScratchDir m_scratch;
};

TEST_F(PluginAgentTest, PluginCommandsAreListedCompletedAndRun) {
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(m_pAgent->Send("?"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string("?\r\n") + kBuiltInListing +
                                             " show uptime\n"
                                             " show loadavg [MINUTES:all]\n"
                                             " echo {TEXT} [TIMES:3]\n"
                                             " spin\n" +
                                             Prompt()));

  ASSERT_TRUE(m_pAgent->Send("show up\t"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "show up" + std::string(7, '\x08') + "show uptime "));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n"));
  EXPECT_TRUE(ReceivesMatching(*m_pAgent, Prompt(),
                               "Up \\d+ day\\(s\\), \\d\\d:\\d\\d:\\d\\d\n" + RegexLiteral(Prompt())));

  TypeCommand("show loadavg 5");
  EXPECT_TRUE(ReceivesMatching(*m_pAgent, Prompt(),
                               "Load average \\(5 min\\): \\d+\\.\\d\\d\n" + RegexLiteral(Prompt())));

  // JScript gets the first value and the number 1: the text comes back once.
  TypeCommand("echo hi 2");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "hi\n" + Prompt()));

  // A run that never ends is cut off, reported, and the next line is served.
  TypeCommand("spin");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "[Error] Script Error!!\n" + Prompt(), 3 * kDefaultTimeoutMs));
  TypeCommand("echo again");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "again\n" + Prompt()));

  std::string strErrors = m_pAgent->ReadLogFile("error.log");
  for (const char* lpEntry :
       {"[initialize] Plug-in DLL load error. (file=missing.so)\r\n",
        "[initialize] Plug-in DLL load error. (file=kxtest_no_exports.so)\r\n",
        "[initialize] Plug-in script load error. (file=broken.js)\r\n",
        "[initialize] Plug-in script load error. (file=echo.vbs)\r\n",
        "[initialize] Plug-in DLL load error. (file=../plugins/kxsysinfo.so)\r\n"}) {
    EXPECT_NE(std::string::npos, strErrors.find(lpEntry)) << lpEntry << "\n" << strErrors;
  }
}

TEST_F(PluginAgentTest, AnAccountWithoutThePluginIDsNeitherSeesNorRunsTheirCommands) {
  LogOn(kDave, kDavePassword);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(m_pAgent->Send("show ?"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "show ?\r\n show version\n show date\n" + Prompt(kDave) + "show "));
  ASSERT_TRUE(m_pAgent->Send("uptime\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "uptime\r\n"));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "[Error] 'show uptime' command not found.\n" + Prompt(kDave)));
  TypeCommand("echo hi");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "[Error] 'echo hi' command not found.\n" + Prompt(kDave)));
}

}  // namespace
}  // namespace e2e
}  // namespace kx
