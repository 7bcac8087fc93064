// Power: a delayed halt or restart of the local system that can be cancelled
// until its deadline, with the result codes of the Windows shutdown calls.
//
// On this platform the pending request is kept in <system root>/power/pending
// (lines "key=value": id, action "halt" or "reboot", force, timeout, message in
// UTF-8 with \n \r \\ escaped, requested and deadline in milliseconds since
// 1970, owner-pid, helper-pid, helper-start, state "waiting" or "acting"), so
// other processes see it. A detached helper process waits for the deadline and
// then runs the command that <system root>/power/config names:
//   halt-command=/usr/bin/systemctl poweroff
//   reboot-command=/usr/bin/systemctl reboot
// (words split at blanks, '...' or "..." keep blanks, the first word an
// absolute path; run without a shell, with KX_SHUTDOWN_ACTION, KX_SHUTDOWN_FORCE
// and KX_SHUTDOWN_MESSAGE in its environment). Without a configured command
// nothing is run. Either way the outcome is written to <system root>/power/last
// and to the event log under the source "KxPower".
#pragma once

#include <string>

#include "platform/kx_types.h"

namespace kx {

// A pending shutdown as another process sees it.
struct SHUTDOWN_REQUEST {
  BOOL bRebootAfterShutdown;
  BOOL bForceAppsClosed;
  BOOL bActing;               // the deadline has passed and the action is being carried out
  DWORD dwTimeout;            // seconds, as requested
  long long llDeadline;       // milliseconds since 1970-01-01 UTC
  DWORD dwOwnerProcessId;     // the process that asked for it
  DWORD dwHelperProcessId;    // the process that will carry it out
  std::string strMessage;     // code page 932
};

// Asks for a halt (bRebootAfterShutdown FALSE) or a restart after dwTimeout
// seconds, with the notice text lpMessage (code page 932, may be null).
// ERROR_SUCCESS; ERROR_SHUTDOWN_IN_PROGRESS while another request is pending;
// ERROR_INVALID_PARAMETER for a time-out above ten years or an overlong
// message; otherwise the error of the state directory. Any thread.
DWORD RequestSystemShutdown(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed,
                            BOOL bRebootAfterShutdown);
// Cancels the pending request. ERROR_SUCCESS; ERROR_NO_SHUTDOWN_IN_PROGRESS
// when none is pending; ERROR_SHUTDOWN_IN_PROGRESS once its deadline has
// passed and it is being carried out. Any thread.
DWORD CancelSystemShutdown();
// Reads the pending request into *pRequest. ERROR_SUCCESS, or
// ERROR_NO_SHUTDOWN_IN_PROGRESS when none is pending. A request whose helper
// process has gone counts as none: nothing would ever carry it out.
DWORD QueryPendingShutdown(SHUTDOWN_REQUEST* pRequest);
// Switches a privilege of the calling process on or off, as the shutdown
// calls need on some systems ("SeShutdownPrivilege"). TRUE when it is in the
// asked state afterwards; here no privilege needs switching, so always TRUE
// for a name.
BOOL SetProcessPrivilege(const char* lpPrivilegeName, BOOL bEnable);

}  // namespace kx
