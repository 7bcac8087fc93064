#include "KestrixAgent.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentLog.h"
#include "KxAgentPluginManager/BuiltInCommand.h"
#include "PassThrough.h"
#include "PluginLoader.h"
#include "Resources.h"
#include "SerialComm.h"
#include "SystemErrorText.h"
#include "commands/BuiltInHandlers.h"
#include "engine/CommandDispatcher.h"
#include "platform/accounts.h"
#include "platform/program_path.h"
#include "platform/sync.h"
#include "platform/system_info.h"

namespace {

CKestrixAgent* g_pAgent = nullptr;

struct EscapeSequence {
  const char* lpSequence;
  char cKey;
};

const EscapeSequence kEscapeSequenceTable[] = {
    {"\x1b[A", KEY_HISTORY_PREVIOUS},
    {"\x1b[B", KEY_HISTORY_NEXT},
    {"\x1b[C", KEY_CURSOR_RIGHT},
    {"\x1b[D", KEY_CURSOR_LEFT},
    {"\x1b[4~", KEY_BACKSPACE},
};

const char* const kPasswordPrompt = "password: ";

bool IsInsertable(char c) {
  unsigned char b = static_cast<unsigned char>(c);
  return b < 0x80 && std::isprint(b);
}

const char* DomainForLog(const std::string& strDomain) {
  return strDomain.empty() ? "(LOCAL)" : strDomain.c_str();
}

}  // namespace

CKestrixAgent* GetAgent() { return g_pAgent; }

CKestrixAgent::CKestrixAgent()
    : m_nLength(0),
      m_nCursor(0),
      m_nEscapeLength(0),
      m_bEscapeActive(false),
      m_nLoggedOn(0),
      m_dwLastActivity(0),
      m_nSessionCount(0),
      m_hUserToken(nullptr),
      m_pLogonAccount(nullptr),
      m_nCommandRunning(0),
      m_nDiscardLine(0),
      m_pPassThrough(nullptr),
      m_pConfigManager(nullptr),
      m_pLogObject(nullptr),
      m_pSerialComm(nullptr),
      m_pDispatcher(nullptr),
      m_pLogManager(nullptr),
      m_pBuiltInCommand(nullptr),
      m_pPluginLoader(nullptr),
      m_bInputSignalled(true),
      m_dwComPort(1),
      m_dwComSpeed(9600),
      m_dwSessionTimeout(0),
      m_nEventLogNotification(0),
      m_nHiddenExecution(1),
      m_nCPUMonitoring(0),
      m_nShutdownPending(0),
      m_nReboot(0),
      m_nShutdownDelay(0),
      m_nNoticeCount(0) {
  g_pAgent = this;
  std::memset(m_szLine, 0, sizeof(m_szLine));

  m_pConfigManager = new CKxAgentConfigManager(kx::GetProgramDirectory().c_str());
  LoadSettings();

  m_pLogObject = CKxAgentLog::GetInstance(m_pConfigManager->GetLogSetting());
  CKxAgentLog::LogDebug("CKestrixAgent::CKestrixAgent()", "m_pLogObject initialized.");

  std::thread(&CKestrixAgent::InputThread, this).detach();

  int nEncoding = m_strOutputEncoding == "EUC-JP" ? 2 : 1;
  m_pSerialComm = new CSerialComm(m_dwComPort, m_dwComSpeed, nEncoding);
  m_pSerialComm->SetCallback(this);
  m_pSerialComm->Open();

  m_pLogManager = new CEventLogManager();
  m_pLogManager->SetListener(this);
  m_pLogManager->OpenLogs();

  m_pDispatcher = new CommandDispatcher(this, m_pSerialComm);
  m_pBuiltInCommand = new CBuiltInCommand();
  AttachBuiltInHandlers(m_pBuiltInCommand);
  LoadPlugins();

  CKxAgentLog::LogDebug("CKestrixAgent::CKestrixAgent()", "initialize ok.");
}

void CKestrixAgent::LoadSettings() {
  m_pConfigManager->LoadConfig();
  m_dwComPort = m_pConfigManager->GetComPort();
  m_dwComSpeed = m_pConfigManager->GetComSpeed();
  m_strOutputEncoding = m_pConfigManager->GetOutputEncoding();
  m_dwSessionTimeout = static_cast<DWORD>(m_pConfigManager->GetLogonTimeout() * 1000);
  m_nEventLogNotification = m_pConfigManager->IsEventLogNotification();
  m_nHiddenExecution = m_pConfigManager->IsHiddenExecutionImproperCommand();
  m_nCPUMonitoring = m_pConfigManager->IsCPUMonitoring();
}

void CKestrixAgent::LoadPlugins() {
  m_pPluginLoader = new CPluginLoader(m_pConfigManager->IsScriptPluginSupport() != FALSE);
  m_pDispatcher->SetScriptCommandRunner(m_pPluginLoader->GetScriptCommandRunner());
  m_pPluginLoader->LoadPlugins(*m_pConfigManager, *m_pBuiltInCommand, *m_pDispatcher);
}

int CKestrixAgent::Start() {
  if (m_pSerialComm->IsClosed()) return 0;
  m_pSerialComm->Start();
  if (m_nEventLogNotification != 0) m_pLogManager->StartWatch();
  return 1;
}

void CKestrixAgent::Stop() {
  m_pLogManager->CloseLogs();
  m_pSerialComm->Close();
}

void CKestrixAgent::OnChangeEventLog(const char* lpLogName, DWORD dwStartRecordNo,
                                     DWORD dwEndRecordNo) {
  static const size_t kNotificationMax = 4000;
  if (dwStartRecordNo > dwEndRecordNo) return;
  char szRecord[4096];
  for (DWORD dwRecord = dwStartRecordNo;; ++dwRecord) {
    if (!m_pLogManager->GetEventLogMessage(lpLogName, dwRecord, szRecord, 1)) {
      CKxAgentLog::LogError("Internal",
                            "CKestrixAgent::OnChangeEventLog() : m_pLogManager->GetEventLogMessage() "
                            "error!! (lpLogName=%s, dwStartRecordNo=%ld, dwEndRecordNo=%ld)",
                            lpLogName, static_cast<long>(dwStartRecordNo),
                            static_cast<long>(dwEndRecordNo));
      return;
    }
    szRecord[kNotificationMax] = '\0';
    m_pSerialComm->WriteLine(szRecord);
    if (dwRecord == dwEndRecordNo) break;
  }
}

void CKestrixAgent::StartShutdownNotice(int nDelay, BOOL bReboot) {
  m_nShutdownDelay = nDelay;
  m_nReboot = bReboot ? 1 : 0;
  // A countdown left from an aborted shutdown sees its number change and ends
  // without a further notice, so a new one never counts twice.
  unsigned int nNotice = ++m_nNoticeCount;
  std::thread(&CKestrixAgent::NoticeThread, this, nNotice).detach();
}

void CKestrixAgent::NoticeThread(unsigned int nNotice) {
  kx::CEvent timer(FALSE, TRUE);
  DWORD dwDeadline = kx::GetTickCount() + static_cast<DWORD>(m_nShutdownDelay.load()) * 1000;
  DWORD dwLastAnnounced = 0xFFFFFFFF;
  while (m_nShutdownPending != 0 && m_nNoticeCount == nNotice) {
    timer.Wait(1000);
    if (m_nShutdownPending == 0 || m_nNoticeCount != nNotice) break;
    DWORD dwNow = kx::GetTickCount();
    if (static_cast<int32_t>(dwDeadline - dwNow) <= 0) {
      m_pSerialComm->Write(m_nReboot ? "\r\n[Notice] The system is restarting..."
                                     : "\r\n[Notice] The system is halting...");
      break;
    }
    DWORD dwRemaining = (dwDeadline - dwNow + 250) / 1000;
    // A wake-up that drifts can land on the same second twice: each multiple
    // of five is announced once.
    if (dwRemaining % 5 == 0 && dwRemaining != dwLastAnnounced) {
      char szNotice[128];
      std::snprintf(szNotice, sizeof(szNotice),
                    m_nReboot ? "\r\n[Notice] The system is going DOWN for system reboot in %ld seconds!"
                              : "\r\n[Notice] The system is going DOWN for system halt in %ld seconds!",
                    static_cast<long>(dwRemaining));
      m_pSerialComm->Write(szNotice);
      dwLastAnnounced = dwRemaining;
    }
  }
}

void CKestrixAgent::OnReceive(const char* lpData, int nLength) {
  m_dwLastActivity = kx::GetTickCount();
  {
    std::lock_guard<std::mutex> lock(m_inputLock);
    m_inputQueue.insert(m_inputQueue.end(), lpData, lpData + nLength);
    m_bInputSignalled = true;
  }
  m_inputEvent.notify_one();
}

void CKestrixAgent::OnReceiveChar(char c) { OnReceive(&c, 1); }

void CKestrixAgent::InputThread() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_inputLock);
      m_inputEvent.wait_for(lock, std::chrono::milliseconds(5000),
                            [this] { return m_bInputSignalled; });
      m_bInputSignalled = false;
    }
    for (;;) {
      int nByte;
      {
        std::lock_guard<std::mutex> lock(m_inputLock);
        if (m_inputQueue.empty()) break;
        nByte = m_inputQueue.front();
        m_inputQueue.pop_front();
      }
      OnKey(static_cast<char>(nByte));
    }
  }
}

bool CKestrixAgent::IsLoggedOn() { return m_nLoggedOn != 0; }

bool CKestrixAgent::IsAllowedCommand(int nCommandID) {
  CKxAgentLogonAccount* pAccount = GetCurrentAccount();
  return pAccount != nullptr && pAccount->IsAllowedCommand(nCommandID);
}

bool CKestrixAgent::IsHiddenExecutionImproperCommand() { return m_nHiddenExecution != 0; }

void CKestrixAgent::UpdateActivity() { m_dwLastActivity = kx::GetTickCount(); }

void CKestrixAgent::SetPassThrough(CPassThroughControl* pPassThrough) {
  m_pPassThrough = pPassThrough;
}

CKxAgentLogonAccount* CKestrixAgent::GetCurrentAccount() {
  std::lock_guard<std::mutex> lock(m_sessionLock);
  return m_pLogonAccount;
}

// ---------------------------------------------------------------------------
// Console session

const char* CKestrixAgent::GetBanner() {
  static const std::string strBanner = [] {
    const char* lpTemplate = LoadResourceString(IDS_BANNER);
    char szBanner[512];
    std::snprintf(szBanner, sizeof(szBanner), lpTemplate, LoadResourceString(IDS_VERSION));
    return std::string(szBanner);
  }();
  return strBanner.c_str();
}

const char* CKestrixAgent::GetMachineName(int nRefresh) {
  if (m_strMachineName.empty() || nRefresh == 1) {
    std::string strName = kx::QueryComputerName();
    for (char& c : strName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    m_strMachineName = strName;
  }
  return m_strMachineName.c_str();
}

const char* CKestrixAgent::GetPrompt(int nState) {
  if (nState == PROMPT_LOGON) {
    m_strLogonScreen = std::string("\r\n") + GetBanner() + "\r\n" + GetMachineName(0) + " logon: ";
    return m_strLogonScreen.c_str();
  }
  if (nState == PROMPT_PASSWORD) return kPasswordPrompt;
  return "";
}

const char* CKestrixAgent::GetCommandPrompt() {
  if (m_strCommandPrompt.empty()) {
    m_strCommandPrompt = m_strUserName + "@" + GetMachineName(0) + "> ";
  }
  return m_strCommandPrompt.c_str();
}

bool CKestrixAgent::HandleEscape(char& c) {
  if (c == KEY_ESCAPE) {
    m_szEscape[0] = c;
    m_nEscapeLength = 1;
    m_bEscapeActive = true;
    return false;
  }
  if (!m_bEscapeActive) return true;

  m_szEscape[m_nEscapeLength++] = c;
  bool bPrefix = false;
  for (const EscapeSequence& entry : kEscapeSequenceTable) {
    size_t nEntry = std::strlen(entry.lpSequence);
    if (static_cast<size_t>(m_nEscapeLength) > nEntry) continue;
    if (std::memcmp(m_szEscape, entry.lpSequence, m_nEscapeLength) != 0) continue;
    if (static_cast<size_t>(m_nEscapeLength) == nEntry) {
      c = entry.cKey;
      m_bEscapeActive = false;
      return true;
    }
    bPrefix = true;
  }
  if (bPrefix) {
    if (m_nEscapeLength < kEscapeMax) return false;
    m_bEscapeActive = false;
    return false;
  }
  m_bEscapeActive = false;
  return true;
}

void CKestrixAgent::OnKey(char c) {
  if (!HandleEscape(c)) return;
  if (m_nLoggedOn == 0) {
    HandleLogonKey(c);
    return;
  }

  switch (c) {
    case KEY_CURSOR_LEFT:
      if (m_nCursor > 0) {
        m_pSerialComm->SendKeyEcho(KEY_CURSOR_LEFT);
        --m_nCursor;
      }
      break;
    case KEY_CURSOR_RIGHT:
      if (m_nCursor < m_nLength) {
        m_pSerialComm->SendKeyEcho(KEY_CURSOR_RIGHT);
        ++m_nCursor;
      }
      break;
    case KEY_BACKSPACE:
    case KEY_DELETE:
      Backspace();
      break;
    case KEY_TAB:
      if (m_nCursor != 0) OnComplete();
      break;
    case KEY_LF:
    case KEY_CR:
      OnLineEnd();
      break;
    case KEY_HISTORY_NEXT:
      if (m_history.Next()) {
        ShowHistoryLine();
      } else {
        EraseVisibleLine();
        ClearLine();
        m_history.Reset();
      }
      break;
    case KEY_HISTORY_PREVIOUS:
      if (m_history.Previous()) ShowHistoryLine();
      break;
    case '?':
      OnHelp();
      break;
    default:
      InsertChar(c, true);
      m_history.Reset();
      break;
  }
}

void CKestrixAgent::HandleLogonKey(char c) {
  switch (c) {
    case KEY_CURSOR_LEFT:
    case KEY_CURSOR_RIGHT:
    case KEY_TAB:
    case KEY_HISTORY_NEXT:
    case KEY_HISTORY_PREVIOUS:
      return;
    case KEY_BACKSPACE:
    case KEY_DELETE:
      Backspace();
      return;
    case KEY_LF:
    case KEY_CR:
      break;
    default:
      InsertChar(c, m_strUserName.empty());
      return;
  }

  if (m_nDiscardLine.exchange(0) != 0) ClearLine();
  m_pSerialComm->WriteChar('\n');
  if (!m_strUserName.empty()) {
    std::string strPassword = GetLine();
    ClearLine();
    int nResult = Logon(m_strUserName, m_strDomainName, strPassword);
    // The password leaves no copy behind in memory we keep.
    std::fill(strPassword.begin(), strPassword.end(), '\0');
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
  std::string strLine = GetLine();
  size_t nPos = 0;
  while (nPos < strLine.size() && tokens.size() < 2) {
    size_t nStart = strLine.find_first_not_of('@', nPos);
    if (nStart == std::string::npos) break;
    size_t nEnd = strLine.find('@', nStart);
    if (nEnd == std::string::npos) nEnd = strLine.size();
    tokens.push_back(strLine.substr(nStart, nEnd - nStart));
    nPos = nEnd;
  }
  ClearLine();
  if (tokens.empty()) {
    std::lock_guard<std::mutex> lock(m_sessionLock);
    m_strUserName.clear();
    m_strDomainName.clear();
  } else {
    std::lock_guard<std::mutex> lock(m_sessionLock);
    m_strUserName = tokens[0];
    m_strDomainName = tokens.size() > 1 ? tokens[1] : "";
  }
  m_pSerialComm->Write(tokens.empty() ? GetPrompt(PROMPT_LOGON) : GetPrompt(PROMPT_PASSWORD));
}

void CKestrixAgent::InsertChar(char c, bool bEcho) {
  if (!IsInsertable(c) || m_nLength >= kLineMax) return;
  int nMoved = m_nLength - m_nCursor;
  std::memmove(m_szLine + m_nCursor + 1, m_szLine + m_nCursor, nMoved);
  m_szLine[m_nCursor] = c;
  ++m_nLength;
  m_szLine[m_nLength] = '\0';
  if (bEcho) {
    for (int i = m_nCursor; i < m_nLength; ++i) m_pSerialComm->SendKeyEcho(m_szLine[i]);
    for (int i = 0; i < nMoved; ++i) m_pSerialComm->SendKeyEcho(KEY_CURSOR_LEFT);
  }
  ++m_nCursor;
}

void CKestrixAgent::Backspace() {
  if (m_nCursor == 0) return;
  if (m_nCursor == m_nLength) {
    m_pSerialComm->SendKeyEcho(KEY_BACKSPACE);
    m_pSerialComm->SendKeyEcho(' ');
    m_pSerialComm->SendKeyEcho(KEY_BACKSPACE);
    --m_nLength;
    --m_nCursor;
    m_szLine[m_nLength] = '\0';
    return;
  }
  m_pSerialComm->SendKeyEcho(KEY_CURSOR_LEFT);
  --m_nCursor;
  std::memmove(m_szLine + m_nCursor, m_szLine + m_nCursor + 1, m_nLength - m_nCursor - 1);
  --m_nLength;
  m_szLine[m_nLength] = '\0';
  for (int i = m_nCursor; i < m_nLength; ++i) m_pSerialComm->SendKeyEcho(m_szLine[i]);
  m_pSerialComm->SendKeyEcho(' ');
  for (int i = m_nCursor; i <= m_nLength; ++i) m_pSerialComm->SendKeyEcho(KEY_CURSOR_LEFT);
}

void CKestrixAgent::ClearLine() {
  std::memset(m_szLine, 0, sizeof(m_szLine));
  m_nLength = 0;
  m_nCursor = 0;
}

void CKestrixAgent::EraseVisibleLine() {
  for (int i = 0; i < m_nCursor; ++i) {
    m_pSerialComm->WriteChar(KEY_BACKSPACE);
    m_pSerialComm->WriteChar(' ');
    m_pSerialComm->WriteChar(KEY_BACKSPACE);
  }
}

void CKestrixAgent::ShowHistoryLine() {
  EraseVisibleLine();
  ClearLine();
  std::strncpy(m_szLine, m_history.Current(), kLineMax);
  m_nLength = static_cast<int>(std::strlen(m_szLine));
  m_nCursor = m_nLength;
  m_pSerialComm->Write(m_szLine);
}

void CKestrixAgent::OnLineEnd() {
  m_pSerialComm->WriteChar('\n');
  if (m_nCursor == 0) {
    ClearLine();
    m_pSerialComm->Write(GetCommandPrompt());
    return;
  }

  std::string strLine = GetLine();
  m_history.Add(strLine.c_str());
  m_pLogManager->SetSuspended(1);
  if (m_pDispatcher->CompleteLine(strLine.c_str()) != "dosprompt") m_nCommandRunning = 1;
  m_pDispatcher->Dispatch(strLine.c_str());
  m_pLogManager->SetSuspended(0);
  m_nCommandRunning = 0;
  ClearLine();

  if (m_nLoggedOn != 0) {
    m_pSerialComm->Write(GetCommandPrompt());
  } else {
    m_pSerialComm->Write(GetPrompt(PROMPT_LOGON));
  }
}

void CKestrixAgent::OnComplete() {
  std::string strLine = GetLine();
  std::string strCompletion = m_pDispatcher->CompleteLine(strLine.c_str());
  if (!strCompletion.empty()) {
    for (int i = m_nCursor; i < m_nLength; ++i) m_pSerialComm->WriteChar(' ');
    for (int i = 0; i < m_nLength; ++i) m_pSerialComm->WriteChar(KEY_BACKSPACE);
    strCompletion += ' ';
    if (strCompletion.size() > static_cast<size_t>(kLineMax)) strCompletion.resize(kLineMax);
    ClearLine();
    std::memcpy(m_szLine, strCompletion.data(), strCompletion.size());
    m_nLength = static_cast<int>(strCompletion.size());
    m_nCursor = m_nLength;
    m_pSerialComm->Write(m_szLine);
    return;
  }
  m_pSerialComm->WriteChar('\n');
  m_pDispatcher->ListCommands(strLine.c_str());
  m_pSerialComm->Write(GetCommandPrompt());
  m_pSerialComm->Write(m_szLine);
  m_nCursor = m_nLength;
}

void CKestrixAgent::OnHelp() {
  m_pSerialComm->SendKeyEcho('?');
  m_pSerialComm->WriteChar('\n');
  m_pDispatcher->ListCommands(GetLine().c_str());
  m_pSerialComm->Write(GetCommandPrompt());
  m_pSerialComm->Write(m_szLine);
  m_nCursor = m_nLength;
}

int CKestrixAgent::Logon(const std::string& strUser, const std::string& strDomain,
                         const std::string& strPassword) {
  CKxAgentLogonAccount* pAccount =
      m_pConfigManager->GetLogonAccount(strUser.c_str(), strDomain.c_str());
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

void CKestrixAgent::OnLogonSuccess() {
  CKxAgentLog::LogInfo("logon", "user '%s@%s' logon success.", m_strUserName.c_str(),
                       DomainForLog(m_strDomainName));
  ClearLine();
  m_nLoggedOn = 1;
  m_pSerialComm->WriteChar('\n');
  m_pSerialComm->Write(GetCommandPrompt());
  m_dwLastActivity = kx::GetTickCount();
  StartTimeoutWatch();
}

void CKestrixAgent::OnLogonFailure(int nResult) {
  std::string strMessage;
  if (nResult == -1) {
    strMessage =
        "logon incorrect.\r\n(It does not register with a logon permission list, or not "
        "permitted.)";
  } else {
    strMessage = "logon incorrect.\r\n(" + GetSystemErrorText(static_cast<DWORD>(nResult)) + ")";
  }
  m_pSerialComm->WriteLine(strMessage.c_str());
  CKxAgentLog::LogWarning("logon", "user '%s@%s' logon failure. ErrMsg=%s", m_strUserName.c_str(),
                          DomainForLog(m_strDomainName), strMessage.c_str());
  {
    std::lock_guard<std::mutex> lock(m_sessionLock);
    m_strUserName.clear();
    m_strDomainName.clear();
  }
  ClearLine();
  kx::Sleep(1000);
  m_pSerialComm->WriteChar('\n');
  m_pSerialComm->Write(GetPrompt(PROMPT_LOGON));
}

void CKestrixAgent::Logoff() {
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

void CKestrixAgent::StartTimeoutWatch() {
  // Each logon gets its own watcher; one left over from an earlier session
  // sees the session number change and ends.
  unsigned int nSession = ++m_nSessionCount;
  std::thread(&CKestrixAgent::TimeoutThread, this, nSession).detach();
}

void CKestrixAgent::TimeoutThread(unsigned int nSession) {
  auto isCurrent = [this, nSession] { return m_nLoggedOn != 0 && m_nSessionCount == nSession; };
  if (!isCurrent()) return;
  for (;;) {
    if (m_nCommandRunning != 0) {
      m_dwLastActivity = kx::GetTickCount();
    } else {
      DWORD dwTimeout = m_dwSessionTimeout;
      // The last activity is read before the clock: a byte that arrives in
      // between then cannot make the unsigned difference wrap to a huge idle time.
      DWORD dwLastActivity = m_dwLastActivity;
      if (dwTimeout != 0 && kx::GetTickCount() - dwLastActivity > dwTimeout) break;
    }
    kx::Sleep(1000);
    if (!isCurrent()) return;
  }

  CPassThroughControl* pPassThrough = m_pPassThrough.exchange(nullptr);
  if (pPassThrough != nullptr) pPassThrough->Terminate();
  // What was typed of a command is dropped at the next line end, not taken as
  // a name; marked before the logoff so that a line end typed meanwhile obeys it.
  m_nDiscardLine = 1;
  Logoff();
  m_pSerialComm->WriteLine("\r\nLogon Session Timeout...");
  // The line end makes the input thread show the logon screen, in order with
  // the other output.
  OnReceiveChar('\n');
}
