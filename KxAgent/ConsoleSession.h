// CConsoleSession: the terminal's session. Before a logon it shows the logon
// screen, reads the user name and the password and checks them; after one it
// edits the command line, completes and lists commands and dispatches each line.
// It hands the terminal over to a pass-through (dosprompt) and takes it back,
// and ends on logoff, on the idle time-out and when the terminal hangs up.
// Every key and command runs on the input thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "LineEditor.h"
#include "engine/CommandContext.h"
#include "platform/accounts.h"
#include "platform/clock.h"
#include "platform/kx_types.h"

class CKxAgentConfigManager;
class CKxAgentLogonAccount;
class CEventLogManager;
class CSerialComm;
class CommandDispatcher;
class CInputPump;
class CSessionTimeout;
class CPassThroughControl;

// Prompt states for GetPrompt.
enum { PROMPT_LOGON = 1, PROMPT_PASSWORD = 2 };

class CConsoleSession : public CCommandContext {
 public:
  static const int kLineMax = 256;

  // Every part is the composition root's and outlives the session.
  CConsoleSession(kx::CClock& clock, CSerialComm& serial, CKxAgentConfigManager& config,
                  CEventLogManager& logs, CInputPump& input, CSessionTimeout& timeout);
  ~CConsoleSession();
  CConsoleSession(const CConsoleSession&) = delete;
  CConsoleSession& operator=(const CConsoleSession&) = delete;

  // The dispatcher that runs the command lines; set before the first key.
  void SetDispatcher(CommandDispatcher* pDispatcher) { m_pDispatcher = pDispatcher; }

  // CCommandContext, read by the dispatcher on the input thread.
  bool IsLoggedOn() override;
  bool IsAllowedCommand(int nCommandID) override;
  bool IsHiddenExecutionImproperCommand() override;

  // Handles one byte from the terminal. Input thread.
  void OnKey(char c);
  // 0 on success; -1 when the account is not listed or may not log on; otherwise
  // the Windows error code of the failed logon.
  int Logon(const std::string& strUser, const std::string& strDomain, const std::string& strPassword);
  // Ends the session: flag cleared, names emptied, token closed.
  void Logoff();
  // PROMPT_LOGON: the logon screen; PROMPT_PASSWORD: "password: "; otherwise "".
  const char* GetPrompt(int nState);
  // The computer name in lower case, cached; refreshed when nRefresh is 1 or the cache is empty.
  const char* GetMachineName(int nRefresh);
  // The product banner: two lines, each ended with CR LF.
  static const char* GetBanner();
  // The logged-on account's record, or null.
  CKxAgentLogonAccount* GetCurrentAccount();
  CSerialComm& GetSerialComm() { return m_serial; }

  // The terminal hung up: the session ends as a time-out ends it, without its
  // message (a running pass-through is ended with what it started), and what
  // the old terminal typed is dropped. Serial reader thread.
  void OnHangUp(DWORD dwError);
  // For the session time-out's watcher of session nSession: logs the session
  // off when it has been idle too long (CSessionTimeout's CHECK_* answers).
  int CheckIdle(unsigned int nSession);

  // Pass-through hand-over. Removes and returns the received bytes the input
  // thread has not taken yet.
  std::string TakeQueuedInput();
  // Records now as the last sign of life of the session.
  void UpdateActivity();
  // Stores or clears (null) the running pass-through, for the session time-out.
  // Waits while the time-out is ending the stored one, so that the pass-through
  // is never ended after its owner has cleared it. A pass-through stored while
  // the agent is being destroyed is ended at once.
  void SetPassThrough(CPassThroughControl* pPassThrough);
  // Runs the command-interpreter pass-through on this session's terminal.
  void RunCommandPrompt();

  // The agent is being destroyed: ends a running pass-through, refuses new
  // ones, and the time-out and hang-up leave the session alone from now on.
  void BeginStopping();

 private:
  void HandleLogonKey(char c);
  // Marks a command as running unless the session has ended: the time-out
  // decides under the same lock, so it never logs off a session whose command
  // has begun. false when nobody is logged on any more.
  bool BeginCommand();
  // Under the session-end lock: logs the session off when it has been idle
  // for longer than the time-out. true when it did.
  bool EndSessionIfIdle(unsigned int nSession);
  void OnLineEnd();
  void OnComplete();
  void OnHelp();
  void OnLogonSuccess();
  void OnLogonFailure(int nResult);
  const char* GetCommandPrompt();

  kx::CClock& m_clock;
  CSerialComm& m_serial;
  CKxAgentConfigManager& m_config;
  CEventLogManager& m_logs;
  CInputPump& m_input;
  CSessionTimeout& m_timeout;
  CommandDispatcher* m_pDispatcher;
  int m_nHiddenExecution;

  // The session's line, on the input thread.
  std::unique_ptr<CLineEditor> m_pLineEditor;

  std::atomic<bool> m_bStopping;
  std::atomic<int> m_nLoggedOn;
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
};
