// A context for running built-in command handlers without an agent: no serial
// channel or event logs, settings kept in members, a shutdown state that
// keeps what it is told, and the clock the test chooses.
#pragma once

#include "AgentContext.h"
#include "commands/PowerCommands.h"
#include "platform/clock.h"

class CFakeAgentContext : public CAgentContext {
 public:
  explicit CFakeAgentContext(kx::CClock& clock = kx::GetSystemClock()) : m_clock(clock) {}

  kx::CClock& GetClock() override { return m_clock; }
  CSerialComm* GetSerialComm() override { return nullptr; }
  CEventLogManager* GetLogManager() override { return nullptr; }
  CShutdownState& GetShutdownState() override { return m_shutdown; }
  const char* GetMachineName(int /*nRefresh*/) override { return "testhost"; }
  DWORD GetSessionTimeout() override { return m_dwTimeout; }
  void SetSessionTimeout(DWORD dwMilliseconds) override { m_dwTimeout = dwMilliseconds; }
  int IsEventLogNotification() override { return m_nNotification; }
  void SetEventLogNotification(int nOn) override { m_nNotification = nOn; }
  int IsCPUMonitoring() override { return m_nCPUMonitoring; }
  void Logoff() override { ++m_nLogoffs; }
  void RunCommandPrompt() override {}

  class CKeptShutdownState : public CShutdownState {
   public:
    void SetShutdownPending(int nPending) override { m_nPending = nPending; }
    void SetShutdownDelay(int nSeconds) override { m_nDelay = nSeconds; }
    void StartShutdownNotice(int nDelay, BOOL /*bReboot*/) override { m_nDelay = nDelay; }
    int m_nPending = 0;
    int m_nDelay = 0;
  };

  kx::CClock& m_clock;
  CKeptShutdownState m_shutdown;
  DWORD m_dwTimeout = 0;
  int m_nNotification = 0;
  int m_nCPUMonitoring = 0;
  int m_nLogoffs = 0;
};
