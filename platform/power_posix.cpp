// The delayed shutdown on POSIX: the checks every backend shares, then the
// backend (backends_posix.h).
#include <string>

#include "platform/backends_posix.h"
#include "platform/error_codes.h"
#include "platform/power.h"

namespace kx {

namespace {

// The system's own ceiling for a shutdown time-out: ten years.
const DWORD kMaxTimeout = 10u * 365u * 24u * 60u * 60u;
const std::size_t kMaxMessage = 4096;

}  // namespace

DWORD RequestSystemShutdown(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed,
                            BOOL bRebootAfterShutdown) {
  if (dwTimeout > kMaxTimeout || (lpMessage != nullptr && std::string(lpMessage).size() > kMaxMessage)) {
    return ERROR_INVALID_PARAMETER;
  }
  return GetPowerBackend().Request(lpMessage, dwTimeout, bForceAppsClosed, bRebootAfterShutdown);
}

DWORD CancelSystemShutdown() { return GetPowerBackend().Cancel(); }

DWORD QueryPendingShutdown(SHUTDOWN_REQUEST* pRequest) {
  if (pRequest == nullptr) return ERROR_INVALID_PARAMETER;
  return GetPowerBackend().QueryPending(pRequest);
}

BOOL SetProcessPrivilege(const char* lpPrivilegeName, BOOL /*bEnable*/) {
  // Nothing here is guarded by a per-process privilege switch: whether the
  // configured command may act is the system's business when it runs.
  return lpPrivilegeName != nullptr ? TRUE : FALSE;
}

}  // namespace kx
