// The power commands: shutdown, reboot and abort. Each Cmd* handler is a thin
// wrapper (log entry, the one agent) around an inner routine that takes the
// agent's shutdown state and the system's shutdown calls as interfaces, so
// tests can run it without an agent and without touching the machine.
#pragma once

#include "platform/kx_types.h"

class CAgentContext;
class CWriter;
class CKxAgentCommandArgument;

// The agent's side of a pending shutdown: the flags the countdown notices read.
class CShutdownState {
 public:
  virtual ~CShutdownState() {}
  virtual void SetShutdownPending(int nPending) = 0;
  virtual void SetShutdownDelay(int nSeconds) = 0;
  // Starts the countdown notices; called after the pending flag is set.
  virtual void StartShutdownNotice(int nDelay, BOOL bReboot) = 0;
};

// The system calls behind the commands; the default forwards to the platform.
class CShutdownControl {
 public:
  virtual ~CShutdownControl() {}
  // TRUE when the privilege is in the asked state afterwards.
  virtual BOOL EnablePrivilege(const char* lpPrivilegeName, BOOL bEnable);
  // 0 when the system accepted the request, else its Windows error code.
  virtual DWORD InitiateShutdown(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed,
                                 BOOL bRebootAfterShutdown);
  // 0 when the pending request was cancelled, else the Windows error code.
  virtual DWORD AbortShutdown();
};

// Switches a privilege of the agent's own process on or off; TRUE when done.
BOOL EnablePrivilege(const char* lpPrivilegeName, BOOL bEnable);

// The notice texts the system shows for a halt and for a restart, in code page 932.
const char* GetShutdownMessage();
const char* GetRebootMessage();

// shutdown (bReboot FALSE) or reboot without the log entry. lpDelay is the
// DELAY text; outside 10..3600 it writes the range error and returns 1. On
// success returns 1 having started the countdown; when the system refuses,
// writes its error line and returns 0 with `state` untouched.
int RequestShutdown(CWriter& writer, const char* lpDelay, BOOL bReboot, CShutdownState& state,
                    CShutdownControl& control);
// abort without the log entry: "Shutdown canceled." and the countdown ended, or
// the system's error line with `state` untouched. Always 1.
int CancelShutdown(CWriter& writer, CShutdownState& state, CShutdownControl& control);

// Built-in 6 "shutdown [DELAY:180]", 7 "reboot [DELAY:180]", 8 "abort".
int CmdShutdown(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
int CmdReboot(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
int CmdAbort(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
