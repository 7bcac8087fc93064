#include "e2e_support.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace kx {
namespace e2e {

const char kAlice[] = "alice";
const char kAlicePassword[] = "Pw-alice-7Q3xK";
const char kDave[] = "dave";
const char kDavePassword[] = "Pw-dave-2M8vR";
const char kCarol[] = "carol";
const char kCarolPassword[] = "Pw-carol-5T1nZ";
const char kBob[] = "bob";
const char kBobPassword[] = "Pw-bob-9J4wL";

CAgentOptions MakeTestOptions() {
  CAgentOptions options = MakeAgentOptions();
  CAgentAccount alice;
  alice.m_strName = kAlice;
  alice.m_strPassword = kAlicePassword;
  alice.m_vecCommandIDs = AllBuiltInCommandIDs();
  CAgentAccount dave;
  dave.m_strName = kDave;
  dave.m_strPassword = kDavePassword;
  dave.m_vecCommandIDs = {0, 1, 5};
  CAgentAccount carol;
  carol.m_strName = kCarol;
  carol.m_strPassword = kCarolPassword;
  carol.m_bLogonAllowed = FALSE;
  carol.m_vecCommandIDs = AllBuiltInCommandIDs();
  options.m_vecAccounts = {alice, dave, carol};
  options.m_vecPamOnlyUsers = {{kBob, kBobPassword}};
  return options;
}

std::vector<CEventRecord> ReadEventLog(const CAgentHarness& agent, const char* lpLogName) {
  setenv("KX_SYSTEM_ROOT", (agent.GetBaseDir() + "/system").c_str(), 1);
  std::vector<CEventRecord> records = ReadEventLogRecords(lpLogName);
  unsetenv("KX_SYSTEM_ROOT");
  return records;
}

std::string RunShellCommand(const std::string& strCommand, int* pnStatus) {
  std::string strOutput;
  if (pnStatus != nullptr) *pnStatus = -1;
  FILE* pPipe = popen(strCommand.c_str(), "r");
  if (pPipe == nullptr) return strOutput;
  char szBuffer[4096];
  size_t nRead;
  while ((nRead = fread(szBuffer, 1, sizeof(szBuffer), pPipe)) > 0) strOutput.append(szBuffer, nRead);
  int nStatus = pclose(pPipe);
  if (pnStatus != nullptr) *pnStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
  return strOutput;
}

void RunWineServer(const std::string& strPrefix, const char* lpSwitch) {
  RunShellCommand("env WINEPREFIX='" + strPrefix + "' /usr/lib/wine/wineserver " + lpSwitch + " >/dev/null 2>&1");
}

::testing::AssertionResult InstallWineAgentService(CAgentOptions options, std::unique_ptr<CAgentHarness>* ppAgent) {
  RunWineServer(options.m_strWinePrefix, "-k");
  RunWineServer(options.m_strWinePrefix, "-w");
  RunWineServer(options.m_strWinePrefix, "-p");
  options.m_vecArguments.push_back("/service");
  *ppAgent = std::make_unique<CAgentHarness>(options);
  if (!(*ppAgent)->Start()) return ::testing::AssertionFailure() << (*ppAgent)->GetLastError();
  CExitStatus status = (*ppAgent)->WaitForExit(3 * kDefaultTimeoutMs);
  if (!status.m_bExited || status.m_nExitCode != 0) return ::testing::AssertionFailure() << (*ppAgent)->Describe();
  (*ppAgent)->SetServedByService();
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ReceivesExactly(CAgentHarness& agent, const std::string& strExpected,
                                           int nTimeoutMs) {
  std::string strFailure;
  if (agent.ExpectExactly(strExpected, &strFailure, nTimeoutMs)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << strFailure;
}

::testing::AssertionResult ReceivesEchoes(CAgentHarness& agent, const std::vector<CKeyEcho>& steps) {
  for (const CKeyEcho& step : steps) {
    if (!agent.Send(step.strKey)) return ::testing::AssertionFailure() << agent.GetLastError();
    if (step.strEcho.empty()) continue;
    ::testing::AssertionResult result = ReceivesExactly(agent, step.strEcho);
    if (!result) return result << "\n  after the key \"" << EscapeBytes(step.strKey) << "\"";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ReceivesMatching(CAgentHarness& agent, const std::string& strEnd,
                                            const std::string& strPattern, std::string* pstrBytes,
                                            int nTimeoutMs) {
  CReadResult result = agent.ReadUntil(strEnd, nTimeoutMs);
  if (pstrBytes != nullptr) *pstrBytes = result.m_strBytes;
  if (!result.m_bFound) {
    return ::testing::AssertionFailure()
           << "did not receive \"" << EscapeBytes(strEnd) << "\"\n  received: \""
           << EscapeBytes(result.m_strBytes) << "\"\n" << agent.Describe();
  }
  if (!std::regex_match(result.m_strBytes, std::regex(strPattern))) {
    return ::testing::AssertionFailure()
           << "bytes do not have the expected shape\n  pattern:  " << EscapeBytes(strPattern)
           << "\n  received: \"" << EscapeBytes(result.m_strBytes) << "\"";
  }
  return ::testing::AssertionSuccess();
}

std::string Repeat(const std::string& strText, int nCount) {
  std::string strOut;
  for (int i = 0; i < nCount; ++i) strOut += strText;
  return strOut;
}

std::string RegexLiteral(const std::string& strText) {
  static const std::string kMetaCharacters = "\\^$.|?*+()[]{}";
  std::string strOut;
  for (char c : strText) {
    if (kMetaCharacters.find(c) != std::string::npos) strOut += '\\';
    strOut += c;
  }
  return strOut;
}

void CAgentTest::TearDown() {
  if (m_pAgent && HasFailure()) {
    std::printf("%s\n", m_pAgent->Describe().c_str());
  }
  m_pAgent.reset();
}

void CAgentTest::StartAgent(const CAgentOptions& options) {
  m_pAgent = std::make_unique<CAgentHarness>(options);
  ASSERT_TRUE(m_pAgent->Start()) << m_pAgent->GetLastError();
  ASSERT_TRUE(m_pAgent->WaitForPortConfigured()) << m_pAgent->GetLastError() << "\n"
                                                 << m_pAgent->Describe();
  CReadResult screen = m_pAgent->OpenLogonScreen();
  ASSERT_TRUE(screen.m_bFound) << "no logon screen of the expected shape\n  received: \""
                               << EscapeBytes(screen.m_strBytes) << "\"\n"
                               << m_pAgent->Describe();
}

void CAgentTest::LogOn(const std::string& strUser, const std::string& strPassword) {
  std::string strFailure;
  ASSERT_TRUE(m_pAgent->Logon(strUser, strPassword, &strFailure)) << strFailure;
}

void CAgentTest::TypeCommand(const std::string& strLine) {
  ASSERT_TRUE(m_pAgent->Send(strLine + "\r")) << m_pAgent->GetLastError();
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, strLine + "\r\n"));
}

}  // namespace e2e
}  // namespace kx
