// Waiting for a service to reach a state: the poll loop shared by everything
// that starts or stops a service and must wait for the result.
#pragma once

#include "platform/clock.h"
#include "platform/kx_types.h"
#include "platform/services.h"

namespace kx {

// How a waiter passes the time between two polls; the default sleeps. A window
// program passes one that keeps its window painting meanwhile.
typedef void (*LPSERVICE_WAIT_IDLE)(DWORD dwMilliseconds, void* pContext);

// The pause between two status queries, in milliseconds.
const DWORD kServiceWaitPollInterval = 100;

// Queries the service every kServiceWaitPollInterval ms until it is in
// `dwState` (TRUE) or more than `dwLimit` ms have passed (FALSE,
// *pdwError = ERROR_TIMEOUT); 0xFFFFFFFF means no limit. A failed query gives
// FALSE with its error. *pStatus holds the last status read. `pfnIdle`
// (null: sleep on the clock) is called with `pContext` for each pause. The
// time is `pClock`'s (null: the system's clock).
BOOL WaitForServiceState(SC_HANDLE hService, DWORD dwState, SERVICE_STATUS* pStatus, DWORD dwLimit,
                         DWORD* pdwError, LPSERVICE_WAIT_IDLE pfnIdle = nullptr, void* pContext = nullptr,
                         CClock* pClock = nullptr);

}  // namespace kx
