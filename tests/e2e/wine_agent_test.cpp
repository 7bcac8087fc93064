// The Windows build of the agent, run by Wine on a pseudo-terminal linked as the
// prefix's COM1: one session from the logon screen through the commands that
// have a Windows side. Run by scripts/test-windows.sh, which names the Windows
// build's bin/ in KX_WINDOWS_BIN_DIR and a fresh prefix in KX_WINE_PREFIX; the
// session's bytes go to the file KX_WINE_TRANSCRIPT names, when set.
#include <cstdlib>
#include <fstream>
#include <string>

#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

const char kNotPermitted[] =
    "logon incorrect.\r\n(It does not register with a logon permission list, or not permitted.)\n";

std::string Environment(const char* lpName) {
  const char* lpValue = std::getenv(lpName);
  return lpValue != nullptr ? lpValue : "";
}

class WineAgentTest : public CAgentTest {
 protected:
  void SetUp() override {
    if (Environment("KX_WINDOWS_BIN_DIR").empty() || Environment("KX_WINE_PREFIX").empty()) {
      GTEST_SKIP() << "KX_WINDOWS_BIN_DIR and KX_WINE_PREFIX name the Windows build and its Wine prefix";
    }
    CAgentOptions options = MakeTestOptions();
    options.m_strProgram = Environment("KX_WINDOWS_BIN_DIR") + "/KxAgent.exe";
    options.m_vecLibraries = {"lib"};  // the product's, the XML library's and the compiler's DLLs
    options.m_strWinePrefix = Environment("KX_WINE_PREFIX");
    // Wine links COM<n> to the machine's /dev/ttyS<n-1> whenever its device
    // manager starts; COM2 is left to the test's link on a machine with one.
    options.m_dwComPort = 2;
    StartAgent(options);
  }

  void TearDown() override {
    std::string strPath = Environment("KX_WINE_TRANSCRIPT");
    if (!strPath.empty()) std::ofstream(strPath, std::ios::binary) << m_strTranscript;
    CAgentTest::TearDown();
  }

  // Reads one command's output up to the next prompt into the transcript.
  ::testing::AssertionResult Answers(const std::string& strLine, const std::string& strPattern) {
    m_strTranscript += strLine + "\r\n";
    std::string strBytes;
    ::testing::AssertionResult result =
        ReceivesMatching(*m_pAgent, Prompt(), strPattern + RegexLiteral(Prompt()), &strBytes, 3 * kDefaultTimeoutMs);
    m_strTranscript += strBytes;
    return result;
  }

  std::string m_strTranscript;
};

// Wine's LogonUserA takes any password, so the refusal shown is the
// configuration's: the account is not listed.
TEST_F(WineAgentTest, ServesALogonTheSystemCommandsAndThePassThroughOnCom1) {
  m_strTranscript = LogonScreen();
  ASSERT_TRUE(m_pAgent->Send(std::string(kBob) + "\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(kBob) + "\r\npassword: "));
  ASSERT_TRUE(m_pAgent->Send(std::string(kBobPassword) + "\r"));
  std::string strRefusal = "\r\n" + std::string(kNotPermitted) + "\r\n" + LogonScreen();
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, strRefusal, 3 * kDefaultTimeoutMs));
  m_strTranscript += std::string(kBob) + "\r\npassword: " + strRefusal;

  LogOn(kAlice, kAlicePassword);
  ASSERT_FALSE(HasFatalFailure());
  m_strTranscript += std::string(kAlice) + "\r\npassword: \r\n" + Prompt();

  struct CommandCase {
    const char* lpLine;
    std::string strPattern;
  };
  const CommandCase kCommands[] = {
      {"show version", RegexLiteral(m_pAgent->GetBanner()) + "[\\s\\S]*OS Version      : Windows[\\s\\S]*"},
      {"show date",
       " Local Time : \\d+-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"
       " System Time: \\d+-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n\r\n"},
      // Wine's own processes run in the prefix: its services host among them.
      {"show process", "[\\s\\S]*services\\.exe[\\s\\S]*KxAgent\\.exe[\\s\\S]*|[\\s\\S]*KxAgent\\.exe[\\s\\S]*services\\.exe[\\s\\S]*"},
      {"show service", "[\\s\\S]*RpcSs[\\s\\S]*"},
  };
  for (const CommandCase& command : kCommands) {
    SCOPED_TRACE(command.lpLine);
    TypeCommand(command.lpLine);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(Answers(command.lpLine, command.strPattern));
  }

  // The pass-through to Wine's cmd.exe: a line and its answer, then exit.
  TypeCommand("dosprompt");
  ASSERT_FALSE(HasFatalFailure());
  m_strTranscript += "dosprompt\r\n";
  ASSERT_TRUE(m_pAgent->Send("echo hello\r"));
  CReadResult hello = m_pAgent->ReadUntil("hello\r\n", 3 * kDefaultTimeoutMs);
  m_strTranscript += hello.m_strBytes;
  ASSERT_TRUE(hello.m_bFound) << m_pAgent->Describe();
  ASSERT_TRUE(m_pAgent->Send("exit\r"));
  CReadResult back = m_pAgent->ReadUntil(Prompt(), 3 * kDefaultTimeoutMs);
  m_strTranscript += back.m_strBytes;
  EXPECT_TRUE(back.m_bFound) << m_pAgent->Describe();
}

}  // namespace
}  // namespace e2e
}  // namespace kx
