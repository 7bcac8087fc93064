#include "platform/service_wait.h"

#include "platform/error_codes.h"

namespace kx {

BOOL WaitForServiceState(SC_HANDLE hService, DWORD dwState, SERVICE_STATUS* pStatus, DWORD dwLimit,
                         DWORD* pdwError, LPSERVICE_WAIT_IDLE pfnIdle, void* pContext, CClock* pClock) {
  CClock& clock = pClock != nullptr ? *pClock : GetSystemClock();
  *pdwError = ERROR_SUCCESS;
  DWORD dwStart = clock.GetTickCount();
  DWORD dwError = QueryServiceStatus(hService, pStatus);
  for (;;) {
    if (dwError != ERROR_SUCCESS) {
      *pdwError = dwError;
      return FALSE;
    }
    if (pStatus->dwCurrentState == dwState) return TRUE;
    // Elapsed time, not an end tick: the tick count wraps every 49.7 days.
    if (dwLimit != 0xFFFFFFFF && clock.GetTickCount() - dwStart > dwLimit) {
      *pdwError = ERROR_TIMEOUT;
      return FALSE;
    }
    if (pfnIdle != nullptr) {
      pfnIdle(kServiceWaitPollInterval, pContext);
    } else {
      clock.Sleep(kServiceWaitPollInterval);
    }
    dwError = QueryServiceStatus(hService, pStatus);
  }
}

}  // namespace kx
