// CKestrixAgent: the agent program's central object. It owns the configuration,
// the serial channel, the command dispatcher with every registered command, the
// logged-on session and the threads it starts: the input thread on which every
// command runs, the session time-out thread and the shutdown notice thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EventLogManager.h"
#include "InputSink.h"
#include "LineEditor.h"
#include "engine/CommandContext.h"
#include "platform/accounts.h"
#include "platform/kx_types.h"
#include "platform/serial_port.h"

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
  // serial channel (opened), event logs, dispatcher, the built-in commands and
  // the plug-ins, then the input thread. Runs on the main thread; the
  // configuration library must be initialised.
  CKestrixAgent();
  // The same with `strBaseDir` (ending in the path separator) as the
  // installation directory and, when `pPort` is not null, the serial channel
  // on that port instead of the one the configuration names (a test double).
  CKestrixAgent(const std::string& strBaseDir, std::unique_ptr<kx::CSerialPort> pPort);
  // Stops the agent when Stop has not, ends a running pass-through, wakes and
  // joins every thread the agent started, then releases what it owns. Waits
  // for a command that is running to finish. The configuration library must
  // still be initialised.
  ~CKestrixAgent();
  CKestrixAgent(const CKestrixAgent&) = delete;
  CKestrixAgent& operator=(const CKestrixAgent&) = delete;

  // Starts the serial reader. 0 when the port is not open (nothing started), else 1.
  int Start();
  // Closes the event logs and the serial port; the threads stay until the
  // agent is destroyed. Main thread.
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
  // The terminal hung up: the session ends as a time-out ends it, without its
  // message (a running pass-through is ended with what it started), and what
  // the old terminal typed is dropped. Serial reader thread.
  void OnHangUp(DWORD dwError);
  // Records now as the last sign of life of the session.
  void UpdateActivity();
  // Stores or clears (null) the running pass-through, for the session time-out.
  // Waits while the time-out is ending the stored one, so that the pass-through
  // is never ended after its owner has cleared it. A pass-through stored while
  // the agent is being destroyed is ended at once.
  void SetPassThrough(CPassThroughControl* pPassThrough);
  // The logged-on account's record, or null.
  CKxAgentLogonAccount* GetCurrentAccount();
  CSerialComm* GetSerialComm() { return m_pSerialComm.get(); }
  CKxAgentConfigManager* GetConfigManager() { return m_pConfigManager.get(); }
  CEventLogManager* GetLogManager() { return m_pLogManager.get(); }

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
  // Stores the delay and the reboot flag and starts the countdown notices,
  // ending the countdown of an earlier one. The caller has set the shutdown
  // pending and the system has accepted it. Input thread.
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
  // Starts the thread that logs an idle session off, ending the one of an
  // earlier session. Input thread.
  void StartTimeoutWatch();
  // The product banner: two lines, each ended with CR LF.
  static const char* GetBanner();

 private:
  void Build(const std::string& strBaseDir, std::unique_ptr<kx::CSerialPort> pPort);
  void LoadSettings();
  void LoadPlugins();
  void InputThread();
  void TimeoutThread(unsigned int nSession);
  // Under the session-end lock: logs the session off when it has been idle
  // for longer than the time-out. true when it did.
  bool EndSessionIfIdle(unsigned int nSession);
  void NoticeThread(unsigned int nNotice);
  // Sleeps up to dwMilliseconds. false, at once, when the agent is being
  // destroyed or `nGeneration` has moved on from `nMine` (a newer session or
  // countdown took over), which ends the calling thread.
  bool PauseThread(DWORD dwMilliseconds, const std::atomic<unsigned int>& nGeneration,
                   unsigned int nMine);
  // Moves `nGeneration` on, which ends the thread of the old one, joins that
  // thread and starts `thread` in its place.
  void ReplaceThread(std::thread& thread, std::atomic<unsigned int>& nGeneration,
                     void (CKestrixAgent::*pfnThread)(unsigned int));
  // Marks a command as running unless the session has ended: the time-out
  // decides under the same lock, so it never logs off a session whose command
  // has begun. false when nobody is logged on any more.
  bool BeginCommand();
  void OnLineEnd();
  void OnComplete();
  void OnHelp();
  void OnLogonSuccess();
  void OnLogonFailure(int nResult);
  const char* GetCommandPrompt();

  // The session's line, on the input thread.
  std::unique_ptr<CLineEditor> m_pLineEditor;

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
  std::atomic<unsigned int> m_nHangUpCount;  // moved on by each hang-up
  // Held by the time-out while it decides and ends the session, by a command
  // while it is marked as running, and while the pass-through is changed.
  std::mutex m_sessionEndLock;
  std::atomic<CPassThroughControl*> m_pPassThrough;

  // Owned parts, released in the reverse order of their creation.
  std::unique_ptr<CKxAgentConfigManager> m_pConfigManager;
  CKxAgentLog* m_pLogObject;  // process-wide, not owned
  std::unique_ptr<CSerialComm> m_pSerialComm;
  std::unique_ptr<CEventLogManager> m_pLogManager;
  std::unique_ptr<CommandDispatcher> m_pDispatcher;
  std::unique_ptr<CBuiltInCommand> m_pBuiltInCommand;
  std::unique_ptr<CPluginLoader> m_pPluginLoader;  // the script hosts and the loaded plug-ins

  // Threads the agent starts; each leaves by itself once woken with the
  // stopping flag set, and the destructor joins it.
  std::atomic<bool> m_bStopping;
  std::mutex m_wakeLock;
  std::condition_variable m_wakeEvent;  // wakes the time-out and notice threads
  std::thread m_inputThread;
  std::thread m_timeoutThread;
  std::thread m_noticeThread;

  // Input queue, filled by the serial reader, drained by the input thread.
  std::mutex m_inputLock;
  std::condition_variable m_inputEvent;
  std::deque<char> m_inputQueue;
  bool m_bInputSignalled;
  // Bytes were dropped from a full queue; said once until the queue empties.
  bool m_bInputOverflow;

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
