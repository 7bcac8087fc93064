// The Windows build of the agent, run by Wine on a pseudo-terminal linked as the
// prefix's COM1: one session from the logon screen through the
// commands that have a Windows side, the three kinds of plug-in and the
// pass-through to Wine's cmd.exe. Run by scripts/test-windows.sh, which names the Windows
// build's bin/ in KX_WINDOWS_BIN_DIR and a fresh prefix in KX_WINE_PREFIX (whose
// registry maps COM1 to <prefix>/terminals/com1, where the harness links it); the
// session's bytes go to the file KX_WINE_TRANSCRIPT names, when set.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>

#include "e2e_support.h"
#include "wine_support.h"

namespace kx {
namespace e2e {
namespace {

const char kNotPermitted[] =
    "logon incorrect.\r\n(It does not register with a logon permission list, or not permitted.)\n";

class WineAgentTest : public CAgentTest {
 protected:
  void SetUp() override {
    if (!HasWindowsBuild()) {
      GTEST_SKIP() << "KX_WINDOWS_BIN_DIR and KX_WINE_PREFIX name the Windows build and its Wine prefix";
    }
    CAgentOptions options = MakeWineOptions();
    // The sample DLL at 10000, the sample VBScript at 20000 (run by the
    // system's engine) and a JScript plug-in of the test's own at 30000.
    std::string strExamples = Environment("KX_WINDOWS_BIN_DIR") + "/../examples/plugins/";
    char szScratch[] = "/tmp/kx-wine-scripts-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szScratch));
    m_strScratchDir = szScratch;
    m_strScriptPath = m_strScratchDir + "/shout.js";
    std::ofstream(m_strScriptPath, std::ios::binary)
        << "function GetCommandLineDef() { return 'shout {TEXT}'; }\r\n"
           "function Run(text, count) { return String(text).toUpperCase() + '!' + count; }\r\n";
    // A VBScript command without parameters at 40000 shows what it receives.
    m_strVbsPath = m_strScratchDir + "/bare.vbs";
    std::ofstream(m_strVbsPath, std::ios::binary)
        << "Function GetCommandLineDef()\r\n  GetCommandLineDef = \"bare\"\r\nEnd Function\r\n"
           "Function Run(args, count)\r\n  Run = TypeName(args) & \" \" & count\r\nEnd Function\r\n";
    options.m_bScriptPluginSupport = TRUE;
    options.m_vecPlugins = {
        {10000, "kxsysinfo.dll", 4}, {20000, "echo.vbs", 2}, {30000, "shout.js", 3}, {40000, "bare.vbs", 2}};
    options.m_vecPluginFiles = {strExamples + "kxsysinfo.dll", strExamples + "echo.vbs", m_strScriptPath,
                                m_strVbsPath};
    options.m_vecAccounts[0].m_vecCommandIDs.insert(options.m_vecAccounts[0].m_vecCommandIDs.end(),
                                                    {10000, 10001, 20000, 30000, 40000});
    StartAgent(options);
  }

  void TearDown() override {
    std::string strPath = Environment("KX_WINE_TRANSCRIPT");
    if (!strPath.empty()) std::ofstream(strPath, std::ios::binary) << m_strTranscript;
    if (!m_strScratchDir.empty()) {
      unlink(m_strScriptPath.c_str());
      unlink(m_strVbsPath.c_str());
      rmdir(m_strScratchDir.c_str());
    }
    CAgentTest::TearDown();
  }

  // Sends a line (when not empty) to the pass-through and reads up to `strEnd` into the transcript.
  ::testing::AssertionResult ShellAnswers(const std::string& strLine, const std::string& strEnd,
                                          int nTimeoutMs = 3 * kDefaultTimeoutMs) {
    if (!strLine.empty() && !m_pAgent->Send(strLine + "\r")) {
      return ::testing::AssertionFailure() << "cannot send " << strLine;
    }
    CReadResult result = m_pAgent->ReadUntil(strEnd, nTimeoutMs);
    m_strTranscript += result.m_strBytes;
    if (result.m_bFound) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << EscapeBytes(strEnd) << "\" after " << strLine << "\n"
                                         << m_pAgent->Describe();
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
  std::string m_strScratchDir;
  std::string m_strScriptPath;
  std::string m_strVbsPath;
};

// Wine's LogonUserA takes any password, so the refusal shown is the
// configuration's: the account is not listed.
TEST_F(WineAgentTest, ServesALogonCommandsPlugInsAndThePassThrough) {
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
      // The plug-ins: the DLL sample, VBScript's array of the values and their
      // count (TIMES defaults to 3) or Empty and 0 without parameters,
      // JScript's first value and the number 1.
      {"show uptime", "Up \\d+ day\\(s\\), \\d\\d:\\d\\d:\\d\\d\n"},
      {"echo hi", "hi hi hi\n"},
      {"echo hi 2", "hi hi\n"},
      {"bare", "Empty 0\n"},
      {"shout hi", "HI!1\n"},
      // Wine's drives as its shell names them; a service of Wine's started and
      // stopped; Wine's event log, which keeps no records.
      {"show diskinfo",
       "Drv Volume Label             FSType Total\\(M\\)          Use\\(M\\)         Free\\(M\\)\n"
       "--- -+ -+ -+ -+ -+\n"
       "C:  [^\n]*\\(C:\\) +NTFS +\\d+ +\\d+ \\[ *\\d+%\\] +\\d+ \\[ *\\d+%\\]\n[\\s\\S]*"},
      {"start service Spooler", "Service 'Print Spooler' starting...\nService was started.\n"},
      {"show service", "[\\s\\S]*\nPrint Spooler \\(Spooler\\) +Running  Manual  \n[\\s\\S]*"},
      {"stop service Spooler", "Service 'Print Spooler' stopping...\nService was stopped.\n"},
      {"show eventlog application", "\\[Error\\] No records found.\n"},
  };
  for (const CommandCase& command : kCommands) {
    SCOPED_TRACE(command.lpLine);
    TypeCommand(command.lpLine);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(Answers(command.lpLine, command.strPattern));
  }

  // A Windows program of the prefix, found in the process list and ended.
  FILE* pPing = popen(("exec env WINEPREFIX='" + Environment("KX_WINE_PREFIX") +
                       "' WINEDEBUG=-all timeout 120 /usr/lib/wine/wine64 ping -n 100 127.0.0.1 >/dev/null 2>&1")
                          .c_str(),
                      "r");
  ASSERT_NE(nullptr, pPing);
  std::smatch match;
  std::string strListing;
  const std::regex pingLine("\n *(\\d+) ping\\.exe ");
  for (int i = 0; i < 40 && !std::regex_search(strListing, match, pingLine); ++i) {
    TypeCommand("show process");
    ASSERT_FALSE(HasFatalFailure());
    CReadResult listing = m_pAgent->ReadUntil(Prompt());
    ASSERT_TRUE(listing.m_bFound) << m_pAgent->Describe();
    strListing = listing.m_strBytes;
  }
  ASSERT_TRUE(std::regex_search(strListing, match, pingLine)) << strListing;
  std::string strKill = "kill " + match[1].str();
  TypeCommand(strKill);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(Answers(strKill, RegexLiteral("Process (" + match[1].str() + ") 'ping.exe' terminated.\n")));
  // Ended by the agent, not by the time limit (exit status 124).
  int nPingStatus = pclose(pPing);
  EXPECT_TRUE(WIFEXITED(nPingStatus) && WEXITSTATUS(nPingStatus) != 124) << nPingStatus;

  // A shutdown counts down and is aborted (Wine's calls only report success).
  TypeCommand("shutdown 60");
  ASSERT_FALSE(HasFatalFailure());
  // The first notice and the prompt come from two threads, in either order.
  std::string strNotice = "\r\n[Notice] The system is going DOWN for system halt in 60 seconds!";
  int nOrder = -1;
  CReadResult countdown = m_pAgent->ReadUntilAny({Prompt() + strNotice, strNotice + Prompt()}, &nOrder);
  EXPECT_TRUE(countdown.m_strBytes == Prompt() + strNotice || countdown.m_strBytes == strNotice + Prompt())
      << EscapeBytes(countdown.m_strBytes);
  m_strTranscript += "shutdown 60\r\n" + countdown.m_strBytes;
  TypeCommand("abort");
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(Answers("abort", RegexLiteral("Shutdown canceled.\n")));

  // The pass-through to Wine's cmd.exe. Its answer is awaited before the next
  // line is sent: Wine's cmd.exe drops what follows the first line of a read
  // from a pipe.
  TypeCommand("dosprompt");
  ASSERT_FALSE(HasFatalFailure());
  size_t nPassThrough = m_strTranscript.size();
  m_strTranscript += "dosprompt\r\n";
  ASSERT_TRUE(ShellAnswers("echo hello", "\r\nhello\r\n"));
  ASSERT_TRUE(ShellAnswers("exit", Prompt()));

  // Ctrl-C reaches the running command through the agent's console. Wine's
  // cmd.exe ends with it (Windows' survives), which brings the prompt back
  // long before the two minutes of pings are done (their output is buffered
  // to the end when it goes to a pipe, so none is awaited).
  TypeCommand("dosprompt");
  ASSERT_FALSE(HasFatalFailure());
  m_strTranscript += "dosprompt\r\n";
  ASSERT_TRUE(ShellAnswers("ping -n 120 127.0.0.1", "Microsoft Windows"));
  m_strTranscript += m_pAgent->ReadFor(2000) + "^C";
  ASSERT_TRUE(m_pAgent->Send("\x03"));
  EXPECT_TRUE(ShellAnswers("", Prompt(), kDefaultTimeoutMs));
  std::string strPassThrough = m_strTranscript.substr(nPassThrough);
  EXPECT_EQ(std::string::npos, strPassThrough.find("Ping statistics")) << strPassThrough;
  EXPECT_EQ(std::string::npos, strPassThrough.find("[Error]")) << strPassThrough;

  // A stop request (Ctrl-C for the agent's own console; Wine turns SIGINT
  // into one) ends the program normally.
  CExitStatus status = m_pAgent->Stop(kDefaultTimeoutMs, SIGINT);
  EXPECT_TRUE(status.m_bExited && status.m_nExitCode == 0) << m_pAgent->Describe();
}


// The terminal reads 960 bytes a second, as a 9600 bit/s line carries them:
// 64 KiB of cmd.exe output take more than a minute and every write of the
// agent's port runs into its time-out, yet every byte arrives, in order.
TEST_F(WineAgentTest, ANineThousandSixHundredBaudLineGetsEveryByteOfALongOutput) {
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  TypeCommand("dosprompt");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(ShellAnswers("echo kx-ready", "\r\nkx-ready\r\n"));
  // 1024 lines of 64 bytes: "kx" and five digits, a blank, 54 characters, CR LF.
  const std::string strFiller = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ01";
  std::string strExpected;
  for (int i = 10001; i <= 11024; ++i) strExpected += "kx" + std::to_string(i) + " " + strFiller + "\r\n";
  const std::string strLine = "for /L %i in (10001,1,11024) do @echo kx%i " + strFiller;
  m_pAgent->SetReadRate(960);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(m_pAgent->Send(strLine + "\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, strLine + "\r\n"));
  CReadResult result = m_pAgent->ReadUntil("kx11024 " + strFiller + "\r\n", 300000);
  m_pAgent->SetReadRate(0);
  long long llMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  std::string strDebug = m_pAgent->ReadLogFile("debug.log");
  size_t nShortWrites = 0;
  for (size_t nAt = strDebug.find("bytes in time; the rest follows."); nAt != std::string::npos;
       nAt = strDebug.find("bytes in time; the rest follows.", nAt + 1)) {
    ++nShortWrites;
  }
  std::printf("[ figures  ] 9600 bit/s: %zu bytes expected, %zu received in %lld ms; %zu writes ran into "
              "the port's time-out\n",
              strExpected.size(), result.m_strBytes.size(), llMs, nShortWrites);
  ASSERT_TRUE(result.m_bFound) << m_pAgent->Describe();
  size_t nSame = 0;
  while (nSame < result.m_strBytes.size() && nSame < strExpected.size() &&
         result.m_strBytes[nSame] == strExpected[nSame]) {
    ++nSame;
  }
  EXPECT_EQ(strExpected.size(), result.m_strBytes.size());
  EXPECT_EQ(strExpected.size(), nSame) << "bytes lost or out of order from byte " << nSame;
  EXPECT_EQ("", m_pAgent->ReadLogFile("error.log"));
  ASSERT_TRUE(ShellAnswers("exit", Prompt()));
}


// Installed with /service, the agent is started and stopped by Wine's service
// manager (through the build's sc.exe) and serves COM1 in between. Last in the
// file: while the agent is registered as a service, a plain start of the
// program in this prefix runs the service dispatcher.
class WineServiceTest : public CAgentTest {
 protected:
  void SetUp() override {
    if (!HasWindowsBuild()) GTEST_SKIP() << "no Windows build";
    ASSERT_TRUE(InstallWineAgentService(MakeWineOptions(), &m_pAgent));
  }

  void TearDown() override {
    if (m_pAgent) {
      Sc("stop KxAgent");
      WaitForServiceState("STOPPED");
      RunWine("'" + m_pAgent->GetBaseDir() + "/KxAgent.exe' -UnregServer");
    }
    CAgentTest::TearDown();
    if (HasWindowsBuild()) WineServer("-k");
  }
};

const char kAppIdQuery[] = "reg query 'HKCR\\AppID\\{6F2A41C3-95D8-4B7E-A1C4-3E58D07B92AF}' /v LocalService";

TEST_F(WineServiceTest, StartsServesAndStopsUnderTheServiceManager) {
  // The registration record names the service the program runs as.
  std::string strRecord = RunWine(kAppIdQuery);
  EXPECT_NE(std::string::npos, strRecord.find("KxAgent")) << strRecord;
  std::string strConfig = Sc("qc KxAgent");
  EXPECT_NE(std::string::npos, strConfig.find("AUTO_START")) << strConfig;
  EXPECT_NE(std::string::npos, strConfig.find("Kestrix Agent for Windows")) << strConfig;
  EXPECT_NE(std::string::npos, strConfig.find("KxAgent.exe")) << strConfig;
  EXPECT_EQ("STOPPED", WaitForServiceState("STOPPED"));

  int nStatus = -1;
  std::string strStart = Sc("start KxAgent", &nStatus);
  ASSERT_EQ(0, nStatus) << strStart;
  ASSERT_EQ("RUNNING", WaitForServiceState("RUNNING"));
  ASSERT_TRUE(m_pAgent->WaitForPortConfigured()) << m_pAgent->Describe();
  ASSERT_TRUE(m_pAgent->OpenLogonScreen().m_bFound) << m_pAgent->Describe();
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  TypeCommand("show date");
  EXPECT_TRUE(ReceivesMatching(*m_pAgent, Prompt(), " Local Time : [\\s\\S]*" + RegexLiteral(Prompt())));

  // The stop control answers with stop pending; the service then stops and
  // the port is closed (nothing more on the line).
  std::string strStop = Sc("stop KxAgent");
  EXPECT_NE(std::string::npos, strStop.find("STOP_PENDING")) << strStop;
  EXPECT_EQ("STOPPED", WaitForServiceState("STOPPED")) << m_pAgent->ReadAllLogs();
  EXPECT_EQ("", m_pAgent->ReadFor(500));

  // Unregistered, the record and the service are gone.
  nStatus = -1;
  RunWine("'" + m_pAgent->GetBaseDir() + "/KxAgent.exe' -UnregServer", &nStatus);
  EXPECT_EQ(0, nStatus);
  strRecord = RunWine(kAppIdQuery);
  EXPECT_EQ(std::string::npos, strRecord.find("KxAgent")) << strRecord;
  std::string strQuery = Sc("query KxAgent");
  EXPECT_NE(std::string::npos, strQuery.find("1060")) << strQuery;
}

}  // namespace
}  // namespace e2e
}  // namespace kx
