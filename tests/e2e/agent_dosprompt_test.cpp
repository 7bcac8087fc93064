// The command-interpreter pass-through on the real agent: the shell's answers,
// the line editor in front of it, Ctrl-C, the session time-out, the child's
// last output and what it leaves behind.
#include <dirent.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

const char kErase[] = "\x08 \x08";
const char kUp[] = "\x1b[A";
const char kDown[] = "\x1b[B";
// Long enough for a loaded machine, far shorter than the commands it must cut.
const int kShellAnswerMs = 5000;

// Each process's command line (arguments joined by blanks) and parent, from /proc.
struct CProcessEntry {
  int nPid;
  int nParent;
  std::string strCommandLine;
};

std::vector<CProcessEntry> ListProcesses() {
  std::vector<CProcessEntry> processes;
  DIR* pDir = opendir("/proc");
  if (pDir == nullptr) return processes;
  while (struct dirent* pEntry = readdir(pDir)) {
    int nPid = std::atoi(pEntry->d_name);
    if (nPid <= 0) continue;
    std::string strBase = std::string("/proc/") + pEntry->d_name;
    std::ifstream stat(strBase + "/stat");
    std::string strStat((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t nClose = strStat.rfind(')');
    if (nClose == std::string::npos) continue;
    std::istringstream fields(strStat.substr(nClose + 1));
    std::string strState;
    int nParent = 0;
    fields >> strState >> nParent;
    std::ifstream cmdline(strBase + "/cmdline");
    std::string strCommand((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    for (char& c : strCommand) {
      if (c == '\0') c = ' ';
    }
    processes.push_back({nPid, nParent, strCommand});
  }
  closedir(pDir);
  return processes;
}

class DosPromptTest : public CAgentTest {
 protected:
  void SetUp() override {
    StartAgent();
    if (!HasFatalFailure()) LogOn();
  }

  // Opens the pass-through and waits until the shell answers; its prompt is
  // switched off so that every later byte is known, and the test's PAM stand-in,
  // preloaded into the agent, is kept out of the commands it runs.
  void OpenShell() {
    TypeCommand("dosprompt");
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(m_pAgent->Send("PS1=; unset LD_PRELOAD; echo kx$((6*7))\r"));
    // A login shell can take seconds to start on a busy machine; a cursor key
    // on the empty line (no echo) keeps a short session time-out from running
    // out meanwhile.
    std::string strReceived;
    for (int nWaitedMs = 0; strReceived.find("kx42\r\n") == std::string::npos; nWaitedMs += 250) {
      ASSERT_LT(nWaitedMs, kDefaultTimeoutMs) << m_pAgent->Describe();
      ASSERT_TRUE(m_pAgent->Send("\x06"));
      strReceived += m_pAgent->ReadUntil("kx42\r\n", 250).m_strBytes;
    }
  }

  // Sends a line and reads its echo; the shell's answer is what follows.
  void TypeLine(const std::string& strLine) { TypeCommand(strLine); }

  ::testing::AssertionResult ShellAnswers(const std::string& strLine, const std::string& strAnswer,
                                          int nTimeoutMs = kDefaultTimeoutMs) {
    TypeLine(strLine);
    if (HasFatalFailure()) return ::testing::AssertionFailure() << "no echo of " << strLine;
    return ReceivesExactly(*m_pAgent, strAnswer, nTimeoutMs);
  }

  // Processes the agent started that are still there, and those whose command
  // line holds the marker.
  std::vector<std::string> Leftovers(const std::string& strMarker) {
    std::vector<std::string> leftovers;
    for (const CProcessEntry& process : ListProcesses()) {
      if (process.nParent == m_pAgent->GetPid() ||
          process.strCommandLine.find(strMarker) != std::string::npos) {
        leftovers.push_back(std::to_string(process.nPid) + " " + process.strCommandLine);
      }
    }
    return leftovers;
  }
};

TEST_F(DosPromptTest, ShellAnswersLinesAndExitReturnsToTheAgent) {
  OpenShell();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(ShellAnswers("echo hello", "hello\r\n"));
  TypeLine("ls /; echo kx-end");
  CReadResult listing = m_pAgent->ReadUntil("kx-end\r\n");
  ASSERT_TRUE(listing.m_bFound) << m_pAgent->Describe();
  for (const char* lpEntry : {"etc", "usr", "proc"}) {
    EXPECT_NE(std::string::npos, listing.m_strBytes.find(lpEntry)) << EscapeBytes(listing.m_strBytes);
  }
  TypeLine("exit");
  ASSERT_TRUE(m_pAgent->ReadUntil(Prompt()).m_bFound) << m_pAgent->Describe();
  // The session has its terminal back.
  TypeCommand("foo");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "[Error] 'foo' command not found.\n" + Prompt()));
}

TEST_F(DosPromptTest, LineEditorKeepsItsLimitAndItsOwnHistory) {
  OpenShell();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(m_pAgent->Send(std::string(300, 'x')));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(255, 'x')));
  ASSERT_TRUE(m_pAgent->Send("\x15"));  // not printable: ignored, the line stays
  for (int i = 0; i < 255; ++i) ASSERT_TRUE(m_pAgent->Send("\x7f"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, Repeat(std::string(kErase) + " " + kErase, 255)));

  ASSERT_TRUE(ShellAnswers("echo one", "one\r\n"));
  ASSERT_TRUE(ShellAnswers("echo two", "two\r\n"));
  // The line that opened the shell is the oldest.
  const std::string strFirst = "PS1=; unset LD_PRELOAD; echo kx$((6*7))";
  const std::string strErase8 = Repeat(kErase, 8);
  ASSERT_TRUE(ReceivesEchoes(*m_pAgent, {
                                            {kUp, "echo two"},
                                            {kUp, strErase8 + "echo one"},
                                            {kUp, strErase8 + strFirst},
                                            {kUp, ""},  // already at the oldest line
                                            {kDown, Repeat(kErase, static_cast<int>(strFirst.size())) + "echo one"},
                                            {kDown, strErase8 + "echo two"},
                                            {kDown, strErase8},  // past the newest: emptied
                                            {kUp, "echo two"},
                                        }));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\ntwo\r\n"));
}

TEST_F(DosPromptTest, CtrlCInterruptsTheCommandAndSparesShellAndAgent) {
  OpenShell();
  ASSERT_FALSE(HasFatalFailure());
  TypeLine("sleep 100");
  ASSERT_FALSE(HasFatalFailure());
  m_pAgent->ReadFor(300);
  ASSERT_TRUE(m_pAgent->Send("\x03"));
  TypeLine("echo kx$((2+3))");
  ASSERT_TRUE(m_pAgent->ReadUntil("kx5\r\n", kShellAnswerMs).m_bFound) << m_pAgent->Describe();
  TypeLine("exit");
  ASSERT_TRUE(m_pAgent->ReadUntil(Prompt()).m_bFound) << m_pAgent->Describe();
  TypeCommand("foo");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "[Error] 'foo' command not found.\n" + Prompt()));
}

TEST_F(DosPromptTest, SessionTimeoutEndsTheShellAndEverythingItStarted) {
  TypeCommand("set timeout 2");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, Prompt()));
  OpenShell();
  ASSERT_FALSE(HasFatalFailure());
  TypeLine("sleep 1237 & sleep 1238");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(m_pAgent->ReadUntil("\r\nLogon Session Timeout...\n", 3 * kDefaultTimeoutMs).m_bFound)
      << m_pAgent->Describe();
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + LogonScreen()));
  EXPECT_EQ(std::vector<std::string>(), Leftovers("sleep 123"));
  // The terminal belongs to the session again.
  LogOn();
}

TEST_F(DosPromptTest, BackgroundJobsDoNotKeepThePassThroughOpen) {
  OpenShell();
  ASSERT_FALSE(HasFatalFailure());
  TypeLine("sleep 1239 &");
  ASSERT_FALSE(HasFatalFailure());
  TypeLine("exit");
  ASSERT_TRUE(m_pAgent->ReadUntil(Prompt(), kShellAnswerMs).m_bFound) << m_pAgent->Describe();
  EXPECT_EQ(std::vector<std::string>(), Leftovers("sleep 1239"));
}

TEST_F(DosPromptTest, EverythingAChildPrintsBeforeItEndsReachesTheTerminal) {
  OpenShell();
  ASSERT_FALSE(HasFatalFailure());
  // More than a mebibyte, then the child is gone at once.
  const int nLast = 150000;
  std::string strExpected;
  for (int i = 1; i <= nLast; ++i) strExpected += std::to_string(i) + "\r\n";
  ASSERT_GT(strExpected.size(), 1024u * 1024u);
  TypeLine("exec seq 1 " + std::to_string(nLast));
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, strExpected + Prompt(), 6 * kDefaultTimeoutMs));
}

}  // namespace
}  // namespace e2e
}  // namespace kx
