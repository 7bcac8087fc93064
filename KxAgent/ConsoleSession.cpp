#include "ConsoleSession.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "CommandPrompt.h"
#include "InputPump.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentLog.h"
#include "PassThrough.h"
#include "Resources.h"
#include "SerialComm.h"
#include "SessionTimeout.h"
#include "SystemErrorText.h"
#include "engine/CommandDispatcher.h"
#include "EventLogManager.h"
#include "platform/system_info.h"
#include "platform/text_compare.h"
#include "platform/text_encoding.h"

namespace {

const char* const kPasswordPrompt = "password: ";
// The pause after a failed logon; what was typed during it is discarded.
const DWORD kLogonFailurePauseMs = 1000;

const char* DomainForLog(const std::string& strDomain) {
  return strDomain.empty() ? "(LOCAL)" : strDomain.c_str();
}

}  // namespace

CConsoleSession::CConsoleSession(kx::CClock& clock, CSerialComm& serial, CKxAgentConfigManager& config,
                                 CEventLogManager& logs, CInputPump& input, CSessionTimeout& timeout)
    : m_clock(clock),
      m_serial(serial),
      m_config(config),
      m_logs(logs),
      m_input(input),
      m_timeout(timeout),
      m_pDispatcher(nullptr),
      m_nHiddenExecution(config.IsHiddenExecutionImproperCommand()),
      m_pLineEditor(new CLineEditor(serial, kLineMax)),
      m_bStopping(false),
      m_nLoggedOn(0),
      m_hUserToken(nullptr),
      m_pLogonAccount(nullptr),
      m_nCommandRunning(0),
      m_nDiscardLine(0),
      m_nHangUpCount(0),
      m_pPassThrough(nullptr) {}

CConsoleSession::~CConsoleSession() {
  kx::CloseLogonToken(m_hUserToken);
  m_hUserToken = nullptr;
  m_pLogonAccount = nullptr;
}

void CConsoleSession::BeginStopping() {
  // A pass-through holds the input thread until it is ended; one that is
  // only starting is ended by SetPassThrough once it sees the flag.
  std::lock_guard<std::mutex> lock(m_sessionEndLock);
  m_bStopping = true;
  CPassThroughControl* pPassThrough = m_pPassThrough.exchange(nullptr);
  if (pPassThrough != nullptr) pPassThrough->Terminate();
}

std::string CConsoleSession::TakeQueuedInput() { return m_input.TakeQueued(); }

void CConsoleSession::RunCommandPrompt() {
  CommandPrompt prompt(*this);
  SetPassThrough(&prompt);
  prompt.Run();
  // Waits for a time-out that is ending the pass-through right now.
  SetPassThrough(nullptr);
}

int CConsoleSession::CheckIdle(unsigned int nSession) {
  // Logged off, or a newer session has its own watcher.
  if (m_nLoggedOn == 0 || !m_timeout.IsCurrent(nSession)) return CSessionTimeout::CHECK_GONE;
  return EndSessionIfIdle(nSession) ? CSessionTimeout::CHECK_ENDED : CSessionTimeout::CHECK_KEEP;
}

bool CConsoleSession::IsLoggedOn() { return m_nLoggedOn != 0; }

bool CConsoleSession::IsAllowedCommand(int nCommandID) {
  CKxAgentLogonAccount* pAccount = GetCurrentAccount();
  return pAccount != nullptr && pAccount->IsAllowedCommand(nCommandID);
}

bool CConsoleSession::IsHiddenExecutionImproperCommand() { return m_nHiddenExecution != 0; }

void CConsoleSession::OnHangUp(DWORD dwError) {
  std::string strUser;
  std::string strDomain;
  bool bLoggedOn;
  {
    // The same lock as the time-out: a command is never marked as running, nor
    // the pass-through changed, half-way through.
    std::lock_guard<std::mutex> lock(m_sessionEndLock);
    if (m_bStopping) return;
    ++m_nHangUpCount;
    TakeQueuedInput();
    // Whatever stands in the line, the next terminal's first line end drops it
    // and shows the logon screen.
    m_nDiscardLine = 1;
    CPassThroughControl* pPassThrough = m_pPassThrough.exchange(nullptr);
    if (pPassThrough != nullptr) pPassThrough->Terminate();
    bLoggedOn = m_nLoggedOn != 0;
    {
      std::lock_guard<std::mutex> sessionLock(m_sessionLock);
      strUser = m_strUserName;
      strDomain = m_strDomainName;
    }
    // Also a user name waiting for its password is forgotten.
    Logoff();
  }
  if (bLoggedOn) {
    CKxAgentLog::LogInfo("logon", "user '%s@%s' logged off: the terminal hung up (error %lu).",
                         strUser.c_str(), DomainForLog(strDomain), static_cast<unsigned long>(dwError));
  }
}

void CConsoleSession::UpdateActivity() { m_timeout.UpdateActivity(); }

void CConsoleSession::SetPassThrough(CPassThroughControl* pPassThrough) {
  std::lock_guard<std::mutex> lock(m_sessionEndLock);
  if (pPassThrough != nullptr && m_bStopping) {
    pPassThrough->Terminate();
    return;
  }
  m_pPassThrough = pPassThrough;
}

bool CConsoleSession::BeginCommand() {
  std::lock_guard<std::mutex> lock(m_sessionEndLock);
  if (m_nLoggedOn == 0) return false;
  m_nCommandRunning = 1;
  return true;
}

CKxAgentLogonAccount* CConsoleSession::GetCurrentAccount() {
  std::lock_guard<std::mutex> lock(m_sessionLock);
  return m_pLogonAccount;
}

// ---------------------------------------------------------------------------
// Console session

const char* CConsoleSession::GetBanner() {
  static const std::string strBanner = [] {
    const char* lpTemplate = LoadResourceString(IDS_BANNER);
    char szBanner[512];
    std::snprintf(szBanner, sizeof(szBanner), lpTemplate, LoadResourceString(IDS_VERSION));
    return std::string(szBanner);
  }();
  return strBanner.c_str();
}

const char* CConsoleSession::GetMachineName(int nRefresh) {
  if (m_strMachineName.empty() || nRefresh == 1) {
    // The name goes into the banner, the prompt and show version as it is
    // shown, never as terminal controls.
    m_strMachineName = kx::MaskControlCharacters(kx::LowerCaseSingleByte(kx::QueryComputerName()));
  }
  return m_strMachineName.c_str();
}

const char* CConsoleSession::GetPrompt(int nState) {
  if (nState == PROMPT_LOGON) {
    m_strLogonScreen = std::string("\r\n") + GetBanner() + "\r\n" + GetMachineName(0) + " logon: ";
    return m_strLogonScreen.c_str();
  }
  if (nState == PROMPT_PASSWORD) return kPasswordPrompt;
  return "";
}

const char* CConsoleSession::GetCommandPrompt() {
  if (m_strCommandPrompt.empty()) {
    m_strCommandPrompt = m_strUserName + "@" + GetMachineName(0) + "> ";
  }
  return m_strCommandPrompt.c_str();
}

void CConsoleSession::OnKey(char c) {
  if (!m_pLineEditor->DecodeKey(c)) return;
  if (m_nLoggedOn == 0) {
    HandleLogonKey(c);
    return;
  }

  m_pLineEditor->SetMode(CLineEditor::MODE_EDIT);
  switch (c) {
    case KEY_TAB:
      if (m_pLineEditor->GetCursor() != 0) OnComplete();
      break;
    case KEY_LF:
    case KEY_CR:
      OnLineEnd();
      break;
    case '?':
      OnHelp();
      break;
    default:
      m_pLineEditor->EditKey(c);
      break;
  }
}

void CConsoleSession::HandleLogonKey(char c) {
  // The user name is echoed; the password is not, though its erasing is.
  m_pLineEditor->SetMode(m_strUserName.empty() ? CLineEditor::MODE_PLAIN
                                               : CLineEditor::MODE_ECHO_OFF);
  if (c != KEY_LF && c != KEY_CR) {
    m_pLineEditor->EditKey(c);
    return;
  }

  if (m_nDiscardLine.exchange(0) != 0) m_pLineEditor->Clear();
  m_serial.WriteChar('\n');
  if (!m_strUserName.empty()) {
    unsigned int nHangUps = m_nHangUpCount;
    std::string strPassword = m_pLineEditor->GetLine();
    m_pLineEditor->Clear();
    int nResult = Logon(m_strUserName, m_strDomainName, strPassword);
    // The password leaves no copy behind in memory we keep.
    std::fill(strPassword.begin(), strPassword.end(), '\0');
    bool bHungUp;
    {
      // Decided under the hang-up's lock: a session opens only for the
      // terminal that typed the password, never for the one after it.
      std::lock_guard<std::mutex> lock(m_sessionEndLock);
      bHungUp = m_nHangUpCount != nHangUps;
      if (!bHungUp && nResult == 0) m_nLoggedOn = 1;
    }
    if (bHungUp) {
      Logoff();
      return;
    }
    if (nResult == 0) {
      OnLogonSuccess();
    } else {
      OnLogonFailure(nResult);
    }
    return;
  }

  // Split "user@domain": the first run of characters other than '@' is the
  // user name, the second the domain. A line of '@' alone holds no name and is
  // taken like an empty line.
  std::vector<std::string> tokens;
  std::string strLine = m_pLineEditor->GetLine();
  size_t nPos = 0;
  while (nPos < strLine.size() && tokens.size() < 2) {
    size_t nStart = strLine.find_first_not_of('@', nPos);
    if (nStart == std::string::npos) break;
    size_t nEnd = strLine.find('@', nStart);
    if (nEnd == std::string::npos) nEnd = strLine.size();
    tokens.push_back(strLine.substr(nStart, nEnd - nStart));
    nPos = nEnd;
  }
  m_pLineEditor->Clear();
  if (tokens.empty()) {
    std::lock_guard<std::mutex> lock(m_sessionLock);
    m_strUserName.clear();
    m_strDomainName.clear();
  } else {
    std::lock_guard<std::mutex> lock(m_sessionLock);
    m_strUserName = tokens[0];
    m_strDomainName = tokens.size() > 1 ? tokens[1] : "";
  }
  m_serial.Write(tokens.empty() ? GetPrompt(PROMPT_LOGON) : GetPrompt(PROMPT_PASSWORD));
}

void CConsoleSession::OnLineEnd() {
  m_serial.WriteChar('\n');
  if (m_pLineEditor->GetCursor() == 0) {
    m_pLineEditor->Clear();
    m_serial.Write(GetCommandPrompt());
    return;
  }

  std::string strLine = m_pLineEditor->GetLine();
  m_pLineEditor->GetHistory().Add(strLine.c_str());
  // A pass-through the command starts counts as running too, but the time-out
  // thread leaves it out through the active pass-through.
  if (!BeginCommand()) {
    // The time-out ended the session under this line end: the line is not run,
    // and the line end the time-out injected shows the logon screen.
    m_pLineEditor->Clear();
    return;
  }
  m_logs.SetSuspended(1);
  m_pDispatcher->Dispatch(strLine.c_str());
  m_logs.SetSuspended(0);
  m_nCommandRunning = 0;
  m_pLineEditor->Clear();

  if (m_nLoggedOn != 0) {
    m_serial.Write(GetCommandPrompt());
  } else if (m_nDiscardLine == 0) {
    // After a time-out the line end it injected shows the logon screen.
    m_serial.Write(GetPrompt(PROMPT_LOGON));
  }
}

void CConsoleSession::OnComplete() {
  std::string strLine = m_pLineEditor->GetLine();
  std::string strCompletion = m_pDispatcher->CompleteLine(strLine.c_str());
  if (!strCompletion.empty()) {
    m_pLineEditor->ReplaceLine(strCompletion + ' ');
    return;
  }
  m_serial.WriteChar('\n');
  m_pDispatcher->ListCommands(strLine.c_str());
  m_serial.Write(GetCommandPrompt());
  m_pLineEditor->Redraw();
}

void CConsoleSession::OnHelp() {
  EchoKey(m_serial, '?');
  m_serial.WriteChar('\n');
  m_pDispatcher->ListCommands(m_pLineEditor->GetLine().c_str());
  m_serial.Write(GetCommandPrompt());
  m_pLineEditor->Redraw();
}

int CConsoleSession::Logon(const std::string& strUser, const std::string& strDomain,
                         const std::string& strPassword) {
  CKxAgentLogonAccount* pAccount =
      m_config.GetLogonAccount(strUser.c_str(), strDomain.c_str());
  if (pAccount == nullptr || !pAccount->IsLogonAllowed()) return -1;

  const char* lpDomain = strDomain.empty() ? "." : strDomain.c_str();
  kx::HLOGONTOKEN hToken = nullptr;
  DWORD dwError = kx::LogonUserAccount(strUser.c_str(), lpDomain, strPassword.c_str(), &hToken);
  if (dwError == 0) {
    std::lock_guard<std::mutex> lock(m_sessionLock);
    m_hUserToken = hToken;
    m_strCommandPrompt = strUser + "@" + GetMachineName(1) + "> ";
    m_pLogonAccount = pAccount;
    return 0;
  }
  std::lock_guard<std::mutex> lock(m_sessionLock);
  kx::CloseLogonToken(hToken);
  m_pLogonAccount = nullptr;
  return static_cast<int>(dwError);
}

void CConsoleSession::OnLogonSuccess() {
  CKxAgentLog::LogInfo("logon", "user '%s@%s' logon success.", m_strUserName.c_str(),
                       DomainForLog(m_strDomainName));
  m_pLineEditor->Clear();
  m_nLoggedOn = 1;
  m_serial.WriteChar('\n');
  m_serial.Write(GetCommandPrompt());
  m_timeout.UpdateActivity();
  m_timeout.Start();
}

void CConsoleSession::OnLogonFailure(int nResult) {
  std::string strMessage;
  if (nResult == -1) {
    strMessage =
        "logon incorrect.\r\n(It does not register with a logon permission list, or not "
        "permitted.)";
  } else {
    strMessage = "logon incorrect.\r\n(" + GetSystemErrorText(static_cast<DWORD>(nResult)) + ")";
  }
  m_serial.WriteLine(strMessage.c_str());
  CKxAgentLog::LogWarning("logon", "user '%s@%s' logon failure. ErrMsg=%s", m_strUserName.c_str(),
                          DomainForLog(m_strDomainName), strMessage.c_str());
  {
    std::lock_guard<std::mutex> lock(m_sessionLock);
    m_strUserName.clear();
    m_strDomainName.clear();
  }
  m_pLineEditor->Clear();
  m_clock.Sleep(kLogonFailurePauseMs);
  // What was typed during the pause is not taken as the next attempt, as a
  // terminal login does: a flood of lines costs one pause, not one each.
  TakeQueuedInput();
  m_serial.WriteChar('\n');
  m_serial.Write(GetPrompt(PROMPT_LOGON));
}

void CConsoleSession::Logoff() {
  {
    std::lock_guard<std::mutex> lock(m_sessionLock);
    m_strUserName.clear();
    m_strDomainName.clear();
    kx::CloseLogonToken(m_hUserToken);
    m_hUserToken = nullptr;
    m_pLogonAccount = nullptr;
  }
  // Cleared last: the input thread reads the names without the lock once it
  // sees nobody logged on, so they must be empty by then (the time-out calls
  // this from its own thread).
  m_nLoggedOn = 0;
}

bool CConsoleSession::EndSessionIfIdle(unsigned int nSession) {
  // Held until the session has ended and said so: a command is marked as
  // running under this lock, so one that has begun is never logged off under
  // its feet; and the command that ran the pass-through clears it only then,
  // so it neither destroys the object while Terminate runs nor writes its
  // prompt into the time-out's lines.
  std::lock_guard<std::mutex> lock(m_sessionEndLock);
  if (m_nLoggedOn == 0 || !m_timeout.IsCurrent(nSession) || m_bStopping) return false;
  // A running command keeps the session alive, except the pass-through: it
  // is the user's own session and times out when idle.
  if (m_nCommandRunning != 0 && m_pPassThrough == nullptr) {
    m_timeout.UpdateActivity();
    return false;
  }
  if (!m_timeout.IsExpired()) return false;

  CPassThroughControl* pPassThrough = m_pPassThrough.exchange(nullptr);
  if (pPassThrough != nullptr) pPassThrough->Terminate();
  // What was typed of a command is dropped at the next line end, not taken as
  // a name; marked before the logoff so that a line end typed meanwhile obeys it.
  m_nDiscardLine = 1;
  Logoff();
  m_serial.WriteLine("\r\nLogon Session Timeout...");
  return true;
}
