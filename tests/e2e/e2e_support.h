// GoogleTest helpers over the agent harness: byte-exact expectations with escaped
// diagnostics, and a fixture that starts the agent with the usual test accounts.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "agent_harness.h"
#include "tests/support/BuiltInListing.h"
#include "tests/support/EventLogRecords.h"

namespace kx {
namespace e2e {

// Test accounts. alice may run every built-in command; dave only show version,
// show date and logoff; carol is listed but may not log on; bob has a password
// but is not listed.
extern const char kAlice[];
extern const char kAlicePassword[];
extern const char kDave[];
extern const char kDavePassword[];
extern const char kCarol[];
extern const char kCarolPassword[];
extern const char kBob[];
extern const char kBobPassword[];

// Options for the agent of this build with the four test accounts.
CAgentOptions MakeTestOptions();

// Runs a shell command and returns its standard output; *pnStatus gets its exit
// status (-1 when it did not exit normally).
std::string RunShellCommand(const std::string& strCommand, int* pnStatus = nullptr);

// Runs Wine's server with one switch for the prefix; its output is not read (a
// server left running keeps what it inherited open).
void RunWineServer(const std::string& strPrefix, const char* lpSwitch);

// Installs the Windows agent of `options` as a service in its Wine prefix (the
// program run once with "/service"). The prefix's server is made persistent
// first: Wine's service manager stops every service once no ordinary program
// of the prefix is left. *ppAgent serves by the service afterwards.
::testing::AssertionResult InstallWineAgentService(CAgentOptions options, std::unique_ptr<CAgentHarness>* ppAgent);

// Succeeds when exactly strExpected arrives next (nothing before it).
::testing::AssertionResult ReceivesExactly(CAgentHarness& agent, const std::string& strExpected,
                                           int nTimeoutMs = kDefaultTimeoutMs);

// Reads up to and including strEnd and succeeds when all of it matches the
// regular expression (ECMAScript, whole text). The bytes read go to *pstrBytes.
::testing::AssertionResult ReceivesMatching(CAgentHarness& agent, const std::string& strEnd,
                                            const std::string& strPattern,
                                            std::string* pstrBytes = nullptr,
                                            int nTimeoutMs = kDefaultTimeoutMs);

// One key sent and the echo it must bring.
struct CKeyEcho {
  std::string strKey;
  std::string strEcho;
};

// Sends each key in turn and expects exactly its echo. A step that must send
// nothing has an empty echo; the exact bytes of the next step prove it silent.
::testing::AssertionResult ReceivesEchoes(CAgentHarness& agent, const std::vector<CKeyEcho>& steps);

// Every record of an event log ("Application", ...) in the agent's system state
// directory, oldest first.
std::vector<CEventRecord> ReadEventLog(const CAgentHarness& agent, const char* lpLogName);

// Escapes regular-expression metacharacters so that a text matches itself.
std::string RegexLiteral(const std::string& strText);

// The text nCount times over.
std::string Repeat(const std::string& strText, int nCount);

// Starts an agent, opens its logon screen and, through LogOn, a session.
class CAgentTest : public ::testing::Test {
 protected:
  void TearDown() override;
  // Starts the agent with the options and reads the first logon screen. Fatal
  // failures are reported through gtest; check HasFatalFailure() after it.
  void StartAgent(const CAgentOptions& options = MakeTestOptions());
  // Logs on from the user-name state and checks the exact bytes.
  void LogOn(const std::string& strUser = kAlice, const std::string& strPassword = kAlicePassword);
  // Types a command line with its line end and checks the echo and the CR LF.
  void TypeCommand(const std::string& strLine);
  std::string Prompt(const std::string& strUser = kAlice) const { return m_pAgent->GetPrompt(strUser); }
  const std::string& LogonScreen() const { return m_pAgent->GetLogonScreen(); }

  std::unique_ptr<CAgentHarness> m_pAgent;
};

}  // namespace e2e
}  // namespace kx
