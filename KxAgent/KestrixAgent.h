// CKestrixAgent: the agent program's central object. It owns the configuration,
// the serial channel, the command dispatcher with every registered command, the
// logged-on session and the input thread on which every command runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "EventLogManager.h"
#include "InputSink.h"
#include "LineEditor.h"
#include "engine/CommandContext.h"
#include "platform/accounts.h"
#include "platform/kx_types.h"

class CKxAgentConfigManager;
class CKxAgentLogonAccount;
class CKxAgentLog;
class CSerialComm;
class CommandDispatcher;
class CBuiltInCommand;
class CPluginLoader;
class CPassThroughControl;

// Prompt states for GetPrompt.
enum { PROMPT_LOGON = 1, PROMPT_PASSWORD = 2 };

class CKestrixAgent : public InputSink, public CEventLogListener, public CCommandContext {
 public:
  static const int kLineMax = 256;

  // Builds the whole agent from <program directory>/config/sysconfig.xml: log,
  // input thread, serial channel (opened), dispatcher and the built-in commands.
  // Runs on the main thread; the configuration library must be initialised.
  CKestrixAgent();

  // Starts the serial reader. 0 when the port is not open (nothing started), else 1.
  int Start();
  // Closes the serial port. The object and its threads stay until the process ends.
  void Stop();

  // InputSink: queue received bytes for the input thread. Any thread.
  void OnReceive(const char* lpData, int nLength) override;
  void OnReceiveChar(char c) override;

  // CEventLogListener: writes each new record as one line in the notification
  // format. Watcher thread, manager lock held.
  void OnChangeEventLog(const char* lpLogName, DWORD dwStartRecordNo, DWORD dwEndRecordNo) override;

  // CCommandContext, read by the dispatcher on the input thread.
  bool IsLoggedOn() override;
  bool IsAllowedCommand(int nCommandID) override;
  bool IsHiddenExecutionImproperCommand() override;

  // Removes and returns the received bytes the input thread has not taken yet,
  // for a pass-through that takes the terminal over from the session.
  std::string TakeQueuedInput();
  // Records now as the last sign of life of the session.
  void UpdateActivity();
  // Stores or clears (null) the running pass-through, for the session time-out.
  // Waits while the time-out is ending the stored one, so that the pass-through
  // is never ended after its owner has cleared it.
  void SetPassThrough(CPassThroughControl* pPassThrough);
  // The logged-on account's record, or null.
  CKxAgentLogonAccount* GetCurrentAccount();
  CSerialComm* GetSerialComm() { return m_pSerialComm; }
  CKxAgentConfigManager* GetConfigManager() { return m_pConfigManager; }
  CEventLogManager* GetLogManager() { return m_pLogManager; }

  // Session settings that the set commands change for the running agent only.
  DWORD GetSessionTimeout() const { return m_dwSessionTimeout.load(); }
  void SetSessionTimeout(DWORD dwMilliseconds) { m_dwSessionTimeout.store(dwMilliseconds); }
  int IsEventLogNotification() const { return m_nEventLogNotification.load(); }
  void SetEventLogNotification(int nOn) { m_nEventLogNotification.store(nOn); }
  int IsCPUMonitoring() const { return m_nCPUMonitoring; }

  // Pending shutdown or reboot, shared by the power commands and the notice
  // thread; each is one word written in one store.
  void SetShutdownPending(int nPending) { m_nShutdownPending.store(nPending); }
  void SetShutdownDelay(int nSeconds) { m_nShutdownDelay.store(nSeconds); }
  // Stores the delay and the reboot flag and starts the countdown notices.
  // The caller has set the shutdown pending and the system has accepted it.
  void StartShutdownNotice(int nDelay, BOOL bReboot);

  // Console session, all on the input thread.
  // Handles one byte from the terminal.
  void OnKey(char c);
  // Line editing while nobody is logged on.
  void HandleLogonKey(char c);
  // 0 on success; -1 when the account is not listed or may not log on; otherwise
  // the Windows error code of the failed logon.
  int Logon(const std::string& strUser, const std::string& strDomain, const std::string& strPassword);
  // Ends the session: flag cleared, names emptied, token closed.
  void Logoff();
  // PROMPT_LOGON: the logon screen; PROMPT_PASSWORD: "password: "; otherwise "".
  const char* GetPrompt(int nState);
  // The computer name in lower case, cached; refreshed when nRefresh is 1 or the cache is empty.
  const char* GetMachineName(int nRefresh);
  // Starts the thread that logs an idle session off.
  void StartTimeoutWatch();
  // The product banner: two lines, each ended with CR LF.
  static const char* GetBanner();

 private:
  void LoadSettings();
  void LoadPlugins();
  void InputThread();
  void TimeoutThread(unsigned int nSession);
  void NoticeThread(unsigned int nNotice);
  void OnLineEnd();
  void OnComplete();
  void OnHelp();
  void OnLogonSuccess();
  void OnLogonFailure(int nResult);
  const char* GetCommandPrompt();

  // The session's line, on the input thread.
  CLineEditor* m_pLineEditor;

  // Session.
  std::atomic<int> m_nLoggedOn;
  std::atomic<DWORD> m_dwLastActivity;
  std::atomic<unsigned int> m_nSessionCount;
  std::mutex m_sessionLock;  // guards the names and the token across the time-out thread
  std::string m_strUserName;
  std::string m_strDomainName;
  kx::HLOGONTOKEN m_hUserToken;
  CKxAgentLogonAccount* m_pLogonAccount;
  std::string m_strCommandPrompt;
  std::string m_strLogonScreen;
  std::string m_strMachineName;
  std::atomic<int> m_nCommandRunning;
  std::atomic<int> m_nDiscardLine;  // set by the time-out: drop the typed line at the next line end
  // The running pass-through; changed, and ended by the time-out, under the lock.
  std::mutex m_passThroughLock;
  std::atomic<CPassThroughControl*> m_pPassThrough;

  // Owned parts.
  CKxAgentConfigManager* m_pConfigManager;
  CKxAgentLog* m_pLogObject;
  CSerialComm* m_pSerialComm;
  CommandDispatcher* m_pDispatcher;
  CEventLogManager* m_pLogManager;
  CBuiltInCommand* m_pBuiltInCommand;
  CPluginLoader* m_pPluginLoader;  // the script hosts and the loaded plug-ins

  // Input queue, filled by the serial reader, drained by the input thread.
  std::mutex m_inputLock;
  std::condition_variable m_inputEvent;
  std::deque<char> m_inputQueue;
  bool m_bInputSignalled;

  // Settings copied from the configuration.
  DWORD m_dwComPort;
  DWORD m_dwComSpeed;
  std::string m_strOutputEncoding;
  std::atomic<DWORD> m_dwSessionTimeout;
  std::atomic<int> m_nEventLogNotification;
  int m_nHiddenExecution;
  int m_nCPUMonitoring;

  // Shutdown notices.
  std::atomic<int> m_nShutdownPending;
  std::atomic<int> m_nReboot;
  std::atomic<int> m_nShutdownDelay;
  std::atomic<unsigned int> m_nNoticeCount;
};

// The one agent of the process; null before it is constructed.
CKestrixAgent* GetAgent();
