// Internal to the POSIX implementations: the one way a child program is
// started. The child is forked and runs only async-signal-safe calls until its
// exec (safe in a process with many threads); an exec that fails reports its
// errno through a status pipe that a successful exec closes, so the caller
// learns whether the program runs before it goes on.
#pragma once

#include <sys/types.h>

#include "platform/kx_types.h"

namespace kx {

struct CSpawnOptions {
  const char* lpProgram = nullptr;  // the file executed, no search along PATH
  char* const* argv = nullptr;      // null-terminated; argv[0] is the name the program sees
  char* const* envp = nullptr;      // null-terminated; null: this process's environment
  // Standard input, output and error of the child; -1 for /dev/null. Each may
  // be any descriptor of the caller, close-on-exec or not.
  int fdInput = -1;
  int fdOutput = -1;
  int fdError = -1;
  // When set, opened after the new session began and made the child's
  // standard input, output and error (the session's controlling terminal);
  // the descriptors above are then not used.
  const char* lpTerminal = nullptr;
  // A session of its own (setsid).
  bool bNewSession = false;
  // The program runs as a grandchild in a new session that it does not lead,
  // in a process group of its own: it can never gain a controlling terminal,
  // and the caller has no child left to reap. The id returned is the grandchild's.
  bool bDetached = false;
  // Changed to before the exec; null: the caller's.
  const char* lpDirectory = nullptr;
};

// Starts the program with an empty signal mask, every signal at its default
// action, and no descriptor of the caller above standard error. ERROR_SUCCESS
// and *pPid once the program image is loaded; otherwise the Windows error of
// the failed pipe, fork, open or exec (ERROR_FILE_NOT_FOUND,
// ERROR_ACCESS_DENIED...), with any child already reaped. Any thread.
DWORD SpawnProcess(const CSpawnOptions& options, pid_t* pPid);

}  // namespace kx
