#include "KestrixAgent.h"

#include <algorithm>
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
#include "platform/text_encoding.h"

namespace {

CKestrixAgent* g_pAgent = nullptr;

const char* const kPasswordPrompt = "password: ";
// Received bytes waiting for the input thread; a flood beyond this is dropped.
const size_t kInputQueueMax = 64 * 1024;
// The pause after a failed logon; what was typed during it is discarded.
const DWORD kLogonFailurePauseMs = 1000;

const char* DomainForLog(const std::string& strDomain) {
  return strDomain.empty() ? "(LOCAL)" : strDomain.c_str();
}

}  // namespace

CKestrixAgent* GetAgent() { return g_pAgent; }

CKestrixAgent::CKestrixAgent() : CKestrixAgent(kx::GetProgramDirectory(), nullptr) {}

CKestrixAgent::CKestrixAgent(const std::string& strBaseDir, std::unique_ptr<kx::CSerialPort> pPort)
    : m_nLoggedOn(0),
      m_dwLastActivity(0),
      m_nSessionCount(0),
      m_hUserToken(nullptr),
      m_pLogonAccount(nullptr),
      m_nCommandRunning(0),
      m_nDiscardLine(0),
      m_nHangUpCount(0),
      m_pPassThrough(nullptr),
      m_pLogObject(nullptr),
      m_bStopping(false),
      m_bInputSignalled(true),
      m_bInputOverflow(false),
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
  Build(strBaseDir, std::move(pPort));
}

void CKestrixAgent::Build(const std::string& strBaseDir, std::unique_ptr<kx::CSerialPort> pPort) {
  m_pConfigManager.reset(new CKxAgentConfigManager(strBaseDir.c_str()));
  LoadSettings();

  m_pLogObject = CKxAgentLog::GetInstance(m_pConfigManager->GetLogSetting());
  CKxAgentLog::LogDebug("CKestrixAgent::CKestrixAgent()", "m_pLogObject initialized.");

  int nEncoding = m_strOutputEncoding == "EUC-JP" ? 2 : 1;
  if (pPort != nullptr) {
    m_pSerialComm.reset(new CSerialComm(m_dwComPort, m_dwComSpeed, nEncoding, std::move(pPort)));
  } else {
    m_pSerialComm.reset(new CSerialComm(m_dwComPort, m_dwComSpeed, nEncoding));
  }
  m_pLineEditor.reset(new CLineEditor(*m_pSerialComm, kLineMax));
  m_pSerialComm->SetCallback(this);
  m_pSerialComm->SetHangUpHandler([this](DWORD dwError) { OnHangUp(dwError); });
  m_pSerialComm->Open();

  m_pLogManager.reset(new CEventLogManager());
  m_pLogManager->SetListener(this);
  m_pLogManager->OpenLogs();

  m_pDispatcher.reset(new CommandDispatcher(this, m_pSerialComm.get()));
  m_pBuiltInCommand.reset(new CBuiltInCommand());
  AttachBuiltInHandlers(m_pBuiltInCommand.get());
  LoadPlugins();

  // Started last: it reads the line editor, the channel and the dispatcher.
  // Nothing arrives before Start runs the serial reader anyway.
  m_inputThread = std::thread(&CKestrixAgent::InputThread, this);

  CKxAgentLog::LogDebug("CKestrixAgent::CKestrixAgent()", "initialize ok.");
}

CKestrixAgent::~CKestrixAgent() {
  // No more bytes, change reports or reader thread from here on.
  Stop();
  {
    // A pass-through holds the input thread until it is ended; one that is
    // only starting is ended by SetPassThrough once it sees the flag.
    std::lock_guard<std::mutex> lock(m_sessionEndLock);
    m_bStopping = true;
    CPassThroughControl* pPassThrough = m_pPassThrough.exchange(nullptr);
    if (pPassThrough != nullptr) pPassThrough->Terminate();
  }
  // Taking each lock once orders the flag before the waits that test it.
  { std::lock_guard<std::mutex> lock(m_inputLock); }
  m_inputEvent.notify_all();
  { std::lock_guard<std::mutex> lock(m_wakeLock); }
  m_wakeEvent.notify_all();
  // The input thread first: the command it finishes may start a time-out or
  // notice thread, which then sees the flag and leaves.
  if (m_inputThread.joinable()) m_inputThread.join();
  if (m_timeoutThread.joinable()) m_timeoutThread.join();
  if (m_noticeThread.joinable()) m_noticeThread.join();

  // The dispatcher refers to the commands, the plug-ins, the channel and this context.
  m_pDispatcher.reset();
  m_pPluginLoader.reset();
  m_pBuiltInCommand.reset();
  m_pLogManager.reset();
  m_pLineEditor.reset();
  m_pSerialComm.reset();
  kx::CloseLogonToken(m_hUserToken);
  m_hUserToken = nullptr;
  m_pLogonAccount = nullptr;
  m_pConfigManager.reset();
  if (g_pAgent == this) g_pAgent = nullptr;
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
  m_pPluginLoader.reset(new CPluginLoader(m_pConfigManager->IsScriptPluginSupport() != FALSE));
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
  ReplaceThread(m_noticeThread, m_nNoticeCount, &CKestrixAgent::NoticeThread);
}

void CKestrixAgent::ReplaceThread(std::thread& thread, std::atomic<unsigned int>& nGeneration,
                                  void (CKestrixAgent::*pfnThread)(unsigned int)) {
  unsigned int nMine;
  {
    std::lock_guard<std::mutex> lock(m_wakeLock);
    nMine = ++nGeneration;
  }
  m_wakeEvent.notify_all();
  if (thread.joinable()) thread.join();
  thread = std::thread(pfnThread, this, nMine);
}

bool CKestrixAgent::PauseThread(DWORD dwMilliseconds, const std::atomic<unsigned int>& nGeneration,
                                unsigned int nMine) {
  std::unique_lock<std::mutex> lock(m_wakeLock);
  return !m_wakeEvent.wait_for(lock, std::chrono::milliseconds(dwMilliseconds),
                               [&] { return m_bStopping.load() || nGeneration != nMine; });
}

void CKestrixAgent::NoticeThread(unsigned int nNotice) {
  DWORD dwDeadline = kx::GetTickCount() + static_cast<DWORD>(m_nShutdownDelay.load()) * 1000;
  DWORD dwLastAnnounced = 0xFFFFFFFF;
  // The first pass announces at once, then one pass a second.
  bool bFirst = true;
  while (m_nShutdownPending != 0) {
    if (!bFirst && !PauseThread(1000, m_nNoticeCount, nNotice)) break;
    bFirst = false;
    if (m_nShutdownPending == 0 || m_nNoticeCount != nNotice || m_bStopping) break;
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
  size_t nDropped = 0;
  bool bReport = false;
  {
    std::lock_guard<std::mutex> lock(m_inputLock);
    size_t nCount = nLength > 0 ? static_cast<size_t>(nLength) : 0;
    size_t nRoom = m_inputQueue.size() < kInputQueueMax ? kInputQueueMax - m_inputQueue.size() : 0;
    size_t nTaken = std::min(nCount, nRoom);
    m_inputQueue.insert(m_inputQueue.end(), lpData, lpData + nTaken);
    nDropped = nCount - nTaken;
    if (nDropped > 0 && !m_bInputOverflow) {
      m_bInputOverflow = true;
      bReport = true;
    }
    m_bInputSignalled = true;
  }
  m_inputEvent.notify_one();
  if (bReport) {
    CKxAgentLog::LogWarning("CKestrixAgent::OnReceive()",
                            "Input queue full (%lu bytes): %lu received bytes dropped; further "
                            "drops are not logged until the queue has emptied.",
                            static_cast<unsigned long>(kInputQueueMax), static_cast<unsigned long>(nDropped));
  }
}

void CKestrixAgent::OnReceiveChar(char c) { OnReceive(&c, 1); }

std::string CKestrixAgent::TakeQueuedInput() {
  std::lock_guard<std::mutex> lock(m_inputLock);
  std::string strQueued(m_inputQueue.begin(), m_inputQueue.end());
  m_inputQueue.clear();
  return strQueued;
}

void CKestrixAgent::InputThread() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_inputLock);
      m_inputEvent.wait_for(lock, std::chrono::milliseconds(5000),
                            [this] { return m_bInputSignalled || m_bStopping.load(); });
      if (m_bStopping) return;
      m_bInputSignalled = false;
    }
    for (;;) {
      if (m_bStopping) return;
      int nByte;
      {
        std::lock_guard<std::mutex> lock(m_inputLock);
        if (m_inputQueue.empty()) {
          m_bInputOverflow = false;
          break;
        }
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

void CKestrixAgent::OnHangUp(DWORD dwError) {
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

void CKestrixAgent::UpdateActivity() { m_dwLastActivity = kx::GetTickCount(); }

void CKestrixAgent::SetPassThrough(CPassThroughControl* pPassThrough) {
  std::lock_guard<std::mutex> lock(m_sessionEndLock);
  if (pPassThrough != nullptr && m_bStopping) {
    pPassThrough->Terminate();
    return;
  }
  m_pPassThrough = pPassThrough;
}

bool CKestrixAgent::BeginCommand() {
  std::lock_guard<std::mutex> lock(m_sessionEndLock);
  if (m_nLoggedOn == 0) return false;
  m_nCommandRunning = 1;
  return true;
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
    for (size_t i = 0; i < strName.size(); ++i) {
      // The trail byte of a double-byte character may look like a capital letter.
      if (kx::IsCp932LeadByte(strName[i])) {
        ++i;
        continue;
      }
      strName[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(strName[i])));
    }
    // The name goes into the banner, the prompt and show version as it is
    // shown, never as terminal controls.
    m_strMachineName = kx::MaskControlCharacters(strName);
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

void CKestrixAgent::OnKey(char c) {
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

void CKestrixAgent::HandleLogonKey(char c) {
  // The user name is echoed; the password is not, though its erasing is.
  m_pLineEditor->SetMode(m_strUserName.empty() ? CLineEditor::MODE_PLAIN
                                               : CLineEditor::MODE_ECHO_OFF);
  if (c != KEY_LF && c != KEY_CR) {
    m_pLineEditor->EditKey(c);
    return;
  }

  if (m_nDiscardLine.exchange(0) != 0) m_pLineEditor->Clear();
  m_pSerialComm->WriteChar('\n');
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
  m_pSerialComm->Write(tokens.empty() ? GetPrompt(PROMPT_LOGON) : GetPrompt(PROMPT_PASSWORD));
}

void CKestrixAgent::OnLineEnd() {
  m_pSerialComm->WriteChar('\n');
  if (m_pLineEditor->GetCursor() == 0) {
    m_pLineEditor->Clear();
    m_pSerialComm->Write(GetCommandPrompt());
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
  m_pLogManager->SetSuspended(1);
  m_pDispatcher->Dispatch(strLine.c_str());
  m_pLogManager->SetSuspended(0);
  m_nCommandRunning = 0;
  m_pLineEditor->Clear();

  if (m_nLoggedOn != 0) {
    m_pSerialComm->Write(GetCommandPrompt());
  } else if (m_nDiscardLine == 0) {
    // After a time-out the line end it injected shows the logon screen.
    m_pSerialComm->Write(GetPrompt(PROMPT_LOGON));
  }
}

void CKestrixAgent::OnComplete() {
  std::string strLine = m_pLineEditor->GetLine();
  std::string strCompletion = m_pDispatcher->CompleteLine(strLine.c_str());
  if (!strCompletion.empty()) {
    m_pLineEditor->ReplaceLine(strCompletion + ' ');
    return;
  }
  m_pSerialComm->WriteChar('\n');
  m_pDispatcher->ListCommands(strLine.c_str());
  m_pSerialComm->Write(GetCommandPrompt());
  m_pLineEditor->Redraw();
}

void CKestrixAgent::OnHelp() {
  EchoKey(*m_pSerialComm, '?');
  m_pSerialComm->WriteChar('\n');
  m_pDispatcher->ListCommands(m_pLineEditor->GetLine().c_str());
  m_pSerialComm->Write(GetCommandPrompt());
  m_pLineEditor->Redraw();
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
  m_pLineEditor->Clear();
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
  m_pLineEditor->Clear();
  kx::Sleep(kLogonFailurePauseMs);
  // What was typed during the pause is not taken as the next attempt, as a
  // terminal login does: a flood of lines costs one pause, not one each.
  TakeQueuedInput();
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
  // Each logon gets its own watcher; the one of an earlier session is ended first.
  ReplaceThread(m_timeoutThread, m_nSessionCount, &CKestrixAgent::TimeoutThread);
}

void CKestrixAgent::TimeoutThread(unsigned int nSession) {
  for (;;) {
    // Logged off, or a newer session has its own watcher.
    if (m_nLoggedOn == 0 || m_nSessionCount != nSession) return;
    if (EndSessionIfIdle(nSession)) break;
    if (!PauseThread(1000, m_nSessionCount, nSession)) return;
  }
  // The line end makes the input thread show the logon screen, in order with
  // the other output.
  OnReceiveChar('\n');
}

bool CKestrixAgent::EndSessionIfIdle(unsigned int nSession) {
  // Held until the session has ended and said so: a command is marked as
  // running under this lock, so one that has begun is never logged off under
  // its feet; and the command that ran the pass-through clears it only then,
  // so it neither destroys the object while Terminate runs nor writes its
  // prompt into the time-out's lines.
  std::lock_guard<std::mutex> lock(m_sessionEndLock);
  if (m_nLoggedOn == 0 || m_nSessionCount != nSession || m_bStopping) return false;
  // A running command keeps the session alive, except the pass-through: it
  // is the user's own session and times out when idle.
  if (m_nCommandRunning != 0 && m_pPassThrough == nullptr) {
    m_dwLastActivity = kx::GetTickCount();
    return false;
  }
  DWORD dwTimeout = m_dwSessionTimeout;
  // The last activity is read before the clock: a byte that arrives in
  // between then cannot make the unsigned difference wrap to a huge idle time.
  DWORD dwLastActivity = m_dwLastActivity;
  if (dwTimeout == 0 || kx::GetTickCount() - dwLastActivity <= dwTimeout) return false;

  CPassThroughControl* pPassThrough = m_pPassThrough.exchange(nullptr);
  if (pPassThrough != nullptr) pPassThrough->Terminate();
  // What was typed of a command is dropped at the next line end, not taken as
  // a name; marked before the logoff so that a line end typed meanwhile obeys it.
  m_nDiscardLine = 1;
  Logoff();
  m_pSerialComm->WriteLine("\r\nLogon Session Timeout...");
  return true;
}
