// logind (org.freedesktop.login1) carrying out the power facility's delayed
// halt and restart: ScheduleShutdown with "poweroff" or "reboot" at the
// deadline, CancelScheduledShutdown to abort, the ScheduledShutdown property
// for what is pending (whoever asked for it). Result codes as power.h says.
//
// logind keeps no notice text and no force flag: the text of a request made
// through this object is kept here and handed back while that request is the
// pending one; the force flag is accepted and not passed on (the manager
// stops every service in order either way).
//
// Any thread may call any method.
#pragma once

#include <mutex>
#include <string>

#include "platform/kx_types.h"
#include "platform/native/bus_connection.h"
#include "platform/power.h"

namespace kx {
namespace native {

class CLogindPower {
 public:
  CLogindPower() = default;
  CLogindPower(const CLogindPower&) = delete;
  CLogindPower& operator=(const CLogindPower&) = delete;

  // Connects to logind on the system bus, or on the bus at lpBusAddress.
  DWORD DoConnect(const char* lpBusAddress);

  // As RequestSystemShutdown: ERROR_SUCCESS, ERROR_SHUTDOWN_IN_PROGRESS
  // (1115) while one is pending, ERROR_INVALID_PARAMETER for a time-out above
  // ten years or an overlong message, ERROR_ACCESS_DENIED when logind refuses.
  DWORD DoRequestShutdown(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed, BOOL bRebootAfterShutdown);
  // As CancelSystemShutdown: ERROR_SUCCESS, ERROR_NO_SHUTDOWN_IN_PROGRESS
  // (1116) when none is pending, ERROR_SHUTDOWN_IN_PROGRESS once the deadline
  // has passed or the system is going down.
  DWORD DoCancelShutdown();
  // As QueryPendingShutdown; a request made elsewhere reports no owner, no
  // text, and the seconds left as its time-out.
  DWORD DoQueryPendingShutdown(SHUTDOWN_REQUEST* pRequest);

 private:
  struct SCHEDULE {
    std::string strType;  // empty: nothing scheduled
    unsigned long long ullDeadlineUsec = 0;
    bool bGoingDown = false;
  };
  DWORD ReadSchedule(SCHEDULE* pSchedule);

  CBusConnection m_bus;
  // The request made through this object, to recognise it when it is pending.
  unsigned long long m_ullOwnDeadlineUsec = 0;
  DWORD m_dwOwnTimeout = 0;
  BOOL m_bOwnForce = FALSE;
  std::string m_strOwnMessage;
};

}  // namespace native
}  // namespace kx
