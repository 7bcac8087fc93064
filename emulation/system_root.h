// The system state directory: where this platform keeps the state of the
// facilities it emulates (event logs, services, pending shutdowns).
#pragma once

#include <string>

#include "platform/kx_types.h"

namespace kx {

// The directory named by the environment variable KX_SYSTEM_ROOT, else
// /var/lib/kxagent; without a trailing separator.
std::string GetSystemRoot();
// Creates the system state directory and its missing parents.
// ERROR_SUCCESS when it exists afterwards, else the error of the failed step.
DWORD EnsureSystemRoot();
// Creates `strPath` and its missing parents. ERROR_SUCCESS when it is a directory afterwards.
DWORD EnsureDirectory(const std::string& strPath);

}  // namespace kx
