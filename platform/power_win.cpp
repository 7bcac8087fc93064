#include "platform/windows_win.h"

#include <vector>

#include "platform/error_codes.h"
#include "platform/power.h"

namespace kx {

DWORD RequestSystemShutdown(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed,
                            BOOL bRebootAfterShutdown) {
  SetProcessPrivilege(SE_SHUTDOWN_NAME, TRUE);
  std::vector<char> message;
  if (lpMessage != nullptr) message.assign(lpMessage, lpMessage + std::string(lpMessage).size() + 1);
  if (!::InitiateSystemShutdownA(nullptr, message.empty() ? nullptr : message.data(), dwTimeout,
                                 bForceAppsClosed, bRebootAfterShutdown)) {
    return ::GetLastError();
  }
  return ERROR_SUCCESS;
}

DWORD CancelSystemShutdown() {
  SetProcessPrivilege(SE_SHUTDOWN_NAME, TRUE);
  return ::AbortSystemShutdownA(nullptr) ? ERROR_SUCCESS : ::GetLastError();
}

// Windows keeps a pending shutdown to itself: it can be started and aborted,
// not read back.
DWORD QueryPendingShutdown(SHUTDOWN_REQUEST* /*pRequest*/) { return ERROR_NOT_SUPPORTED; }

BOOL SetProcessPrivilege(const char* lpPrivilegeName, BOOL bEnable) {
  if (lpPrivilegeName == nullptr) return FALSE;
  HANDLE hToken = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken)) return FALSE;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = bEnable ? SE_PRIVILEGE_ENABLED : 0;
  BOOL bDone = ::LookupPrivilegeValueA(nullptr, lpPrivilegeName, &privileges.Privileges[0].Luid) &&
               ::AdjustTokenPrivileges(hToken, FALSE, &privileges, 0, nullptr, nullptr) &&
               ::GetLastError() == ERROR_SUCCESS;  // ERROR_NOT_ALL_ASSIGNED: the account lacks it
  ::CloseHandle(hToken);
  return bDone ? TRUE : FALSE;
}

}  // namespace kx
