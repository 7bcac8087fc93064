// The line as it is in the field: a terminal that hangs up in the middle of a
// session, one that ends its lines with CR LF, a flood at the logon screen and
// a terminal that reads slowly.
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Whether a process runs whose whole command line is strCommandLine.
bool IsProcessRunning(const std::string& strCommandLine) {
  int nStatus = -1;
  RunShellCommand("pgrep -fx '" + strCommandLine + "'", &nStatus);
  return nStatus == 0;
}

std::string AgentAccountName() {
  struct passwd* pEntry = getpwuid(geteuid());
  return pEntry != nullptr ? pEntry->pw_name : std::to_string(geteuid());
}

class LineTest : public CAgentTest {
 protected:
  // Opens the pass-through with `strLineEnd` after each line and waits until the
  // shell answers; its prompt is switched off so that every later byte is known.
  void OpenShell(const std::string& strLineEnd) {
    ASSERT_TRUE(m_pAgent->Send("dosprompt" + strLineEnd));
    ASSERT_TRUE(ReceivesExactly(*m_pAgent, "dosprompt\r\n"));
    ASSERT_TRUE(m_pAgent->Send("PS1=; PS2=; echo kx$((6*7))" + strLineEnd));
    ASSERT_TRUE(m_pAgent->ReadUntil("kx42\r\n").m_bFound) << m_pAgent->Describe();
  }
  // A CR terminal logged on and in the pass-through.
  void StartInShell() {
    StartAgent();
    ASSERT_FALSE(HasFatalFailure());
    LogOn();
    ASSERT_FALSE(HasFatalFailure());
    OpenShell("\r");
  }
};

TEST_F(LineTest, AHangUpInsideDosPromptEndsTheSessionAndEverythingItStarted) {
  StartInShell();
  ASSERT_FALSE(HasFatalFailure());
  // One job in the background, one in the foreground: both belong to the session.
  ASSERT_TRUE(m_pAgent->Send("sleep 4242 & sleep 4343\r"));
  for (const char* lpCommand : {"sleep 4242", "sleep 4343"}) {
    Clock::time_point start = Clock::now();
    while (!IsProcessRunning(lpCommand) && MillisecondsSince(start) < kDefaultTimeoutMs) usleep(50000);
    ASSERT_TRUE(IsProcessRunning(lpCommand)) << lpCommand;
  }

  Clock::time_point hangUp = Clock::now();
  m_pAgent->HangUp();
  for (const char* lpCommand : {"sleep 4242", "sleep 4343"}) {
    while (IsProcessRunning(lpCommand) && MillisecondsSince(hangUp) < kDefaultTimeoutMs) usleep(50000);
    EXPECT_FALSE(IsProcessRunning(lpCommand)) << lpCommand << " outlived the hang-up";
  }
  long long llEndedMs = MillisecondsSince(hangUp);

  // The next person at the console finds the logon screen, not the old session.
  ASSERT_TRUE(m_pAgent->Reattach()) << m_pAgent->GetLastError();
  ASSERT_TRUE(m_pAgent->WaitForPortConfigured()) << m_pAgent->Describe();
  CReadResult screen = m_pAgent->OpenLogonScreen();
  ASSERT_TRUE(screen.m_bFound) << EscapeBytes(screen.m_strBytes) << "\n" << m_pAgent->Describe();
  std::printf("[ figures  ] session processes ended %lld ms after the hang-up; logon screen after %lld ms\n",
              llEndedMs, static_cast<long long>(MillisecondsSince(hangUp)));
  EXPECT_NE(m_pAgent->ReadLogFile("info.log").find("user 'alice@(LOCAL)' logged off: the terminal hung up"),
            std::string::npos)
      << m_pAgent->ReadLogFile("info.log");
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  TypeCommand("logoff");
}

TEST_F(LineTest, ACrLfTerminalGetsOneLineEndPerLineEverywhere) {
  StartAgent();
  ASSERT_FALSE(HasFatalFailure());
  // The user name and the password: the LF after each CR submits nothing more.
  ASSERT_TRUE(m_pAgent->Send(std::string(kAlice) + "\r\n"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(kAlice) + "\r\npassword: "));
  ASSERT_TRUE(m_pAgent->Send(std::string(kAlicePassword) + "\r\n"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n\r\n" + Prompt()));

  // A command, then an empty line: each brings exactly one prompt.
  ASSERT_TRUE(m_pAgent->Send("show version\r\n"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "show version\r\n" + m_pAgent->GetBanner() + "\n"));
  ASSERT_TRUE(m_pAgent->ReadUntil(Prompt()).m_bFound) << m_pAgent->Describe();
  ASSERT_TRUE(m_pAgent->Send("\r\n"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + Prompt()));

  // In the pass-through the shell reads one line per line end, and it gets a
  // login environment of the agent's account, not the agent's own.
  OpenShell("\r\n");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(m_pAgent->Send("read a; read b; echo \"[$a][$b]\"\r\none\r\ntwo\r\n"));
  ASSERT_TRUE(m_pAgent->ReadUntil("[one][two]\r\n").m_bFound) << m_pAgent->Describe();
  ASSERT_TRUE(m_pAgent->Send("echo \"[$LD_PRELOAD][$PAM_WRAPPER][$LOGNAME][$TERM]\"\r\n"));
  std::string strEnvironment = "[][][" + AgentAccountName() + "][vt100]\r\n";
  ASSERT_TRUE(m_pAgent->ReadUntil(strEnvironment).m_bFound) << m_pAgent->Describe();
  ASSERT_TRUE(m_pAgent->Send("exit\r\n"));
  ASSERT_TRUE(m_pAgent->ReadUntil("exit\r\n").m_bFound) << m_pAgent->Describe();
  ASSERT_TRUE(m_pAgent->ReadUntil(Prompt()).m_bFound) << m_pAgent->Describe();
  // Nothing follows: the LF after exit's CR gave the session no empty line.
  EXPECT_EQ("", EscapeBytes(m_pAgent->ReadFor(500)));
  ASSERT_TRUE(m_pAgent->Send("logoff\r\n"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "logoff\r\n\r\n" + LogonScreen()));
}

TEST_F(LineTest, AFloodAtTheLogonScreenCostsSecondsAndLittleMemory) {
  StartAgent();
  ASSERT_FALSE(HasFatalFailure());
  CProcessStats before = m_pAgent->GetProcessStats();
  ASSERT_TRUE(before.m_bValid);
  const std::string strFlood = Repeat("x\r", 100 * 1024);  // 200 KB
  ASSERT_TRUE(m_pAgent->Send(strFlood, 3 * kDefaultTimeoutMs)) << m_pAgent->GetLastError();
  Clock::time_point floodEnd = Clock::now();

  // What the agent took of the flood is answered until it falls quiet.
  while (!m_pAgent->ReadFor(1500).empty()) {
    ASSERT_LT(MillisecondsSince(floodEnd), 3 * kDefaultTimeoutMs) << "the flood is still being answered";
  }
  long long llQuietMs = MillisecondsSince(floodEnd) - 1500;
  // A person at the console now: a line end brings the password prompt (when
  // the flood left a name pending) or the logon screen.
  ASSERT_TRUE(m_pAgent->Send("\r"));
  int nWhich = -1;
  CReadResult answer = m_pAgent->ReadUntilAny({"\r\npassword: ", "\r\n" + LogonScreen()}, &nWhich);
  ASSERT_NE(nWhich, -1) << m_pAgent->Describe();
  EXPECT_EQ(nWhich == 0 ? "\r\npassword: " : "\r\n" + LogonScreen(), answer.m_strBytes);
  if (nWhich == 0) {
    ASSERT_TRUE(m_pAgent->Send("\r"));
    ASSERT_TRUE(m_pAgent->ReadUntil("\r\n" + LogonScreen()).m_bFound) << m_pAgent->Describe();
  }
  LogOn();
  ASSERT_FALSE(HasFatalFailure());
  long long llLogonMs = MillisecondsSince(floodEnd);
  CProcessStats end = m_pAgent->GetProcessStats();
  ASSERT_TRUE(end.m_bValid);
  std::printf("[ figures  ] 200 KB flood: quiet %lld ms and logged on %lld ms after it; resident memory "
              "%llu KB before, peak %llu KB\n",
              llQuietMs, llLogonMs, static_cast<unsigned long long>(before.m_ullRssKb),
              static_cast<unsigned long long>(end.m_ullPeakRssKb));
  EXPECT_LT(llLogonMs, 15000);
  EXPECT_LT(end.m_ullPeakRssKb, before.m_ullRssKb + 16 * 1024);
  std::string strWarnings = m_pAgent->ReadLogFile("warning.log");
  EXPECT_NE(strWarnings.find("Input queue full"), std::string::npos) << strWarnings;
  TypeCommand("logoff");
}

TEST_F(LineTest, ASlowTerminalReceivesEveryLineOfDosPromptOutputInOrder) {
  StartInShell();
  ASSERT_FALSE(HasFatalFailure());
  // 58,902 bytes (48,894 of seq output, its line ends made CR LF by the
  // console) read at 3840 bytes a second, a 38400 bit/s line: about 15 s.
  std::string strExpected;
  for (int i = 1; i <= 10000; ++i) strExpected += std::to_string(i) + "\r\n";
  strExpected += "kx-end\r\n";
  m_pAgent->SetReadRate(3840);
  Clock::time_point start = Clock::now();
  ASSERT_TRUE(m_pAgent->Send("seq 1 10000; echo kx-end\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "seq 1 10000; echo kx-end\r\n"));
  CReadResult result = m_pAgent->ReadUntil("kx-end\r\n", 120000);
  m_pAgent->SetReadRate(0);
  ASSERT_TRUE(result.m_bFound) << m_pAgent->Describe();
  std::printf("[ figures  ] slow terminal: %zu bytes of output in %lld ms\n", result.m_strBytes.size(),
              static_cast<long long>(MillisecondsSince(start)));
  size_t nSame = 0;
  while (nSame < result.m_strBytes.size() && nSame < strExpected.size() &&
         result.m_strBytes[nSame] == strExpected[nSame]) {
    ++nSame;
  }
  EXPECT_EQ(strExpected.size(), result.m_strBytes.size());
  EXPECT_EQ(strExpected.size(), nSame) << "lines lost or out of order from byte " << nSame << ": "
                                       << EscapeBytes(result.m_strBytes.substr(nSame, 40));
  EXPECT_EQ("", m_pAgent->ReadLogFile("error.log"));
  ASSERT_TRUE(m_pAgent->Send("exit\r"));
  ASSERT_TRUE(m_pAgent->ReadUntil(Prompt()).m_bFound) << m_pAgent->Describe();
}

}  // namespace
}  // namespace e2e
}  // namespace kx
