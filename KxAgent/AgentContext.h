// CAgentContext: what a built-in command handler may reach of the running
// agent. The composition root gives it to the built-in set, which passes it
// with every call; tests pass one of their own.
#pragma once

#include "platform/clock.h"
#include "platform/kx_types.h"

class CEventLogManager;
class CSerialComm;
class CShutdownState;

class CAgentContext {
 public:
  virtual ~CAgentContext() {}

  // The clock every wait of a handler takes.
  virtual kx::CClock& GetClock() = 0;
  // The serial channel, or null when there is none.
  virtual CSerialComm* GetSerialComm() = 0;
  // The event logs, or null when there are none.
  virtual CEventLogManager* GetLogManager() = 0;
  // The pending shutdown and its countdown notices.
  virtual CShutdownState& GetShutdownState() = 0;
  // The computer name in lower case as the prompt shows it; refreshed when
  // nRefresh is 1.
  virtual const char* GetMachineName(int nRefresh) = 0;

  // Settings the set commands change for the running agent only.
  virtual DWORD GetSessionTimeout() = 0;
  virtual void SetSessionTimeout(DWORD dwMilliseconds) = 0;
  virtual int IsEventLogNotification() = 0;
  // Switches notification on or off, with the watcher.
  virtual void SetEventLogNotification(int nOn) = 0;
  virtual int IsCPUMonitoring() = 0;

  // Ends the session.
  virtual void Logoff() = 0;
  // Passes the terminal through to the command interpreter until it ends.
  virtual void RunCommandPrompt() = 0;
};
