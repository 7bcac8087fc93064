// Child console: the system's command interpreter run as a child of the agent,
// with its input and output joined to the agent, for the command-interpreter
// pass-through. The agent echoes and edits what the user types and hands the
// interpreter one finished line at a time.
#pragma once

#include <memory>
#include <string>

#include "platform/kx_types.h"
#include "platform/sync.h"

namespace kx {

class CChildConsole {
 public:
  // Ends the interpreter and everything it started on its console when they
  // still run (as Kill), and releases the console.
  virtual ~CChildConsole() {}

  // Starts the command interpreter in the root directory, as the agent's
  // account, with the environment a login of that account gets (POSIX) or the
  // agent's (Windows). ERROR_SUCCESS, or the Windows-style code of the failure
  // (for GetSystemErrorText). Called once.
  virtual DWORD Start() = 0;
  // Waits at most `dwMilliseconds` for output of the interpreter (or of the
  // commands it runs) and reads up to `dwSize` bytes of it. ERROR_SUCCESS with
  // *lpdwRead bytes (0 when nothing came in time, or when the interpreter
  // ended meanwhile); ERROR_BROKEN_PIPE once the console is closed on the
  // child's side and everything written to it has been read.
  virtual DWORD Read(char* lpBuffer, DWORD dwSize, DWORD* lpdwRead, DWORD dwMilliseconds) = 0;
  // Hands the interpreter one line (without a line end; the one it expects is
  // added). ERROR_SUCCESS, or an error code when the console takes no more input.
  virtual DWORD WriteLine(const char* lpLine) = 0;
  // Interrupts the interpreter's current command, as Ctrl-C at its console
  // would; never reaches the agent. ERROR_SUCCESS or an error code.
  virtual DWORD Interrupt() = 0;
  // Asks the interpreter to end (and the command it runs). Harmless once it has
  // ended. ERROR_SUCCESS or an error code.
  virtual DWORD AskToEnd() = 0;
  // Ends the interpreter and every process it started on its console at once.
  // Harmless once they have ended. ERROR_SUCCESS or an error code.
  virtual DWORD Kill() = 0;
  // Waits at most `dwMilliseconds` for the interpreter itself to end.
  // WAIT_OBJECT_0 when it has ended (or never started), else WAIT_TIMEOUT.
  virtual DWORD WaitForEnd(DWORD dwMilliseconds) = 0;
  // The process ID of the interpreter; 0 before Start succeeded.
  virtual DWORD GetProcessId() = 0;
  // What the agent's log should note about a successful Start: how it fell
  // short of the usual way (its processes cannot be ended as one group, for
  // example). Empty when there is nothing to note.
  virtual std::string GetStartNote() { return std::string(); }
};

// A child console that has not started. The methods other than Start may be
// called from other threads than the one that reads.
std::unique_ptr<CChildConsole> CreateChildConsole();

}  // namespace kx
