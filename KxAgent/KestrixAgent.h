// CKestrixAgent: the agent program's composition root. It builds and owns the
// configuration, the serial channel, the event logs and every room of the
// agent: the console session, the input pump (the input thread on which every
// command runs), the session time-out, the shutdown notifier, the event-log
// push, the command dispatcher with the built-in commands and the plug-ins.
// It is also the context the built-in commands are run with.
#pragma once

#include <memory>
#include <string>

#include "AgentContext.h"
#include "platform/clock.h"
#include "platform/kx_types.h"
#include "platform/serial_port.h"

class CKxAgentConfigManager;
class CKxAgentLog;
class CSerialComm;
class CEventLogManager;
class CEventLogPush;
class CInputPump;
class CSessionTimeout;
class CShutdownNotifier;
class CConsoleSession;
class CommandDispatcher;
class CAgentBuiltInCommands;
class CPluginLoader;

class CKestrixAgent : public CAgentContext {
 public:
  // Builds the whole agent from <program directory>/config/sysconfig.xml: log,
  // serial channel (opened), event logs, dispatcher, the built-in commands and
  // the plug-ins, then the input thread. Runs on the main thread; the
  // configuration library must be initialised.
  CKestrixAgent();
  // The same with `strBaseDir` (ending in the path separator) as the
  // installation directory and, when `pPort` is not null, the serial channel
  // on that port instead of the one the configuration names (a test double).
  // Every wait of the agent takes `clock`, which outlives it.
  CKestrixAgent(const std::string& strBaseDir, std::unique_ptr<kx::CSerialPort> pPort,
                kx::CClock& clock = kx::GetSystemClock());
  // Stops the agent when Stop has not, ends a running pass-through, wakes and
  // joins every thread the agent started, then releases what it owns. Waits
  // for a command that is running to finish. The configuration library must
  // still be initialised.
  ~CKestrixAgent();
  CKestrixAgent(const CKestrixAgent&) = delete;
  CKestrixAgent& operator=(const CKestrixAgent&) = delete;

  // Starts the serial reader and, when notification is on, the event-log
  // watcher. 0 when the port is not open (nothing started), else 1.
  int Start();
  // Closes the event logs and the serial port; the threads stay until the
  // agent is destroyed. Main thread.
  void Stop();

  CKxAgentConfigManager* GetConfigManager() { return m_pConfigManager.get(); }
  CConsoleSession& GetSession() { return *m_pSession; }
  CSessionTimeout& GetTimeoutWatch() { return *m_pTimeout; }

  // CAgentContext.
  kx::CClock& GetClock() override { return m_clock; }
  CSerialComm* GetSerialComm() override { return m_pSerialComm.get(); }
  CEventLogManager* GetLogManager() override { return m_pLogManager.get(); }
  CShutdownState& GetShutdownState() override;
  const char* GetMachineName(int nRefresh) override;
  DWORD GetSessionTimeout() override;
  void SetSessionTimeout(DWORD dwMilliseconds) override;
  int IsEventLogNotification() override;
  void SetEventLogNotification(int nOn) override;
  int IsCPUMonitoring() override { return m_nCPUMonitoring; }
  void Logoff() override;
  void RunCommandPrompt() override;

 private:
  void Build(const std::string& strBaseDir, std::unique_ptr<kx::CSerialPort> pPort);
  // Reads the configuration; the parts take their settings from it.
  void LoadSettings();
  void LoadPlugins();

  kx::CClock& m_clock;
  int m_nCPUMonitoring;

  // Owned parts, released in the reverse order of their creation.
  std::unique_ptr<CKxAgentConfigManager> m_pConfigManager;
  CKxAgentLog* m_pLogObject;  // process-wide, not owned
  std::unique_ptr<CSerialComm> m_pSerialComm;
  std::unique_ptr<CEventLogManager> m_pLogManager;
  std::unique_ptr<CEventLogPush> m_pEventLogPush;
  std::unique_ptr<CInputPump> m_pInput;
  std::unique_ptr<CSessionTimeout> m_pTimeout;
  std::unique_ptr<CShutdownNotifier> m_pNotifier;
  std::unique_ptr<CConsoleSession> m_pSession;
  std::unique_ptr<CommandDispatcher> m_pDispatcher;
  std::unique_ptr<CAgentBuiltInCommands> m_pBuiltInCommand;
  std::unique_ptr<CPluginLoader> m_pPluginLoader;  // the script hosts and the loaded plug-ins
};
