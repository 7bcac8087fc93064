#include "platform/native/logind_power.h"

#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "platform/error_codes.h"

namespace kx {
namespace native {

namespace {

const char kDestination[] = "org.freedesktop.login1";
const char kManagerPath[] = "/org/freedesktop/login1";
const char kManagerInterface[] = "org.freedesktop.login1.Manager";

// The same ceilings the other power backend enforces.
const DWORD kMaxTimeout = 10u * 365u * 24u * 60u * 60u;
const size_t kMaxMessage = 4096;

const BUS_ERROR_CODE kLogindErrors[] = {
    {"org.freedesktop.login1.OperationInProgress", ERROR_SHUTDOWN_IN_PROGRESS},
    {"org.freedesktop.login1.ShutdownAlreadyInProgress", ERROR_SHUTDOWN_IN_PROGRESS},
    {nullptr, 0},
};

unsigned long long NowUsec() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<unsigned long long>(now.tv_sec) * 1000000ull + static_cast<unsigned long long>(now.tv_nsec) / 1000ull;
}

}  // namespace

DWORD CLogindPower::DoConnect(const char* lpBusAddress) { return m_bus.DoConnect(lpBusAddress); }

DWORD CLogindPower::ReadSchedule(SCHEDULE* pSchedule) {
  *pSchedule = SCHEDULE();
  if (m_bus.GetBus() == nullptr) return ERROR_INVALID_HANDLE;
  CBusError error;
  CBusMessage reply;
  int nResult = sd_bus_get_property(m_bus.GetBus(), kDestination, kManagerPath, kManagerInterface,
                                    "ScheduledShutdown", error.Get(), reply.Receive(), "(st)");
  if (nResult < 0) return MapBusError(error.Get(), nResult, kLogindErrors);
  const char* lpType = nullptr;
  uint64_t qwUsec = 0;
  if (sd_bus_message_read(reply.Get(), "(st)", &lpType, &qwUsec) < 0) return ERROR_INVALID_DATA;
  pSchedule->strType = lpType != nullptr ? lpType : "";
  pSchedule->ullDeadlineUsec = qwUsec;
  int nPreparing = 0;
  CBusError preparingError;
  // Older peers may lack the property: then only the deadline tells.
  if (sd_bus_get_property_trivial(m_bus.GetBus(), kDestination, kManagerPath, kManagerInterface,
                                  "PreparingForShutdown", preparingError.Get(), 'b', &nPreparing) >= 0) {
    pSchedule->bGoingDown = nPreparing != 0;
  }
  return ERROR_SUCCESS;
}

DWORD CLogindPower::DoRequestShutdown(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed,
                                      BOOL bRebootAfterShutdown) {
  std::string strMessage = lpMessage != nullptr ? lpMessage : "";
  if (dwTimeout > kMaxTimeout || strMessage.size() > kMaxMessage) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(m_bus.GetLock());
  SCHEDULE schedule;
  DWORD dwError = ReadSchedule(&schedule);
  if (dwError != ERROR_SUCCESS) return dwError;
  if (!schedule.strType.empty() || schedule.bGoingDown) return ERROR_SHUTDOWN_IN_PROGRESS;
  unsigned long long ullDeadline = NowUsec() + static_cast<unsigned long long>(dwTimeout) * 1000000ull;
  CBusError error;
  CBusMessage reply;
  int nResult = sd_bus_call_method(m_bus.GetBus(), kDestination, kManagerPath, kManagerInterface, "ScheduleShutdown",
                                   error.Get(), reply.Receive(), "st", bRebootAfterShutdown ? "reboot" : "poweroff",
                                   static_cast<uint64_t>(ullDeadline));
  if (nResult < 0) return MapBusError(error.Get(), nResult, kLogindErrors);
  m_ullOwnDeadlineUsec = ullDeadline;
  m_dwOwnTimeout = dwTimeout;
  m_bOwnForce = bForceAppsClosed;
  m_strOwnMessage = strMessage;
  return ERROR_SUCCESS;
}

DWORD CLogindPower::DoCancelShutdown() {
  std::lock_guard<std::mutex> lock(m_bus.GetLock());
  SCHEDULE schedule;
  DWORD dwError = ReadSchedule(&schedule);
  if (dwError != ERROR_SUCCESS) return dwError;
  if (schedule.bGoingDown) return ERROR_SHUTDOWN_IN_PROGRESS;
  if (schedule.strType.empty()) return ERROR_NO_SHUTDOWN_IN_PROGRESS;
  if (schedule.ullDeadlineUsec <= NowUsec()) return ERROR_SHUTDOWN_IN_PROGRESS;
  CBusError error;
  CBusMessage reply;
  int nResult = sd_bus_call_method(m_bus.GetBus(), kDestination, kManagerPath, kManagerInterface,
                                   "CancelScheduledShutdown", error.Get(), reply.Receive(), "");
  if (nResult < 0) return MapBusError(error.Get(), nResult, kLogindErrors);
  int nCancelled = 0;
  if (sd_bus_message_read(reply.Get(), "b", &nCancelled) < 0) return ERROR_INVALID_DATA;
  // Someone else cancelled it between our look and our call.
  if (!nCancelled) return ERROR_NO_SHUTDOWN_IN_PROGRESS;
  m_ullOwnDeadlineUsec = 0;
  return ERROR_SUCCESS;
}

DWORD CLogindPower::DoQueryPendingShutdown(SHUTDOWN_REQUEST* pRequest) {
  if (pRequest == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(m_bus.GetLock());
  SCHEDULE schedule;
  DWORD dwError = ReadSchedule(&schedule);
  if (dwError != ERROR_SUCCESS) return dwError;
  if (schedule.strType.empty()) return ERROR_NO_SHUTDOWN_IN_PROGRESS;
  unsigned long long ullNow = NowUsec();
  *pRequest = SHUTDOWN_REQUEST();
  pRequest->bRebootAfterShutdown = schedule.strType.find("reboot") != std::string::npos ? TRUE : FALSE;
  pRequest->bActing = schedule.bGoingDown || schedule.ullDeadlineUsec <= ullNow ? TRUE : FALSE;
  pRequest->llDeadline = static_cast<long long>(schedule.ullDeadlineUsec / 1000ull);
  if (m_ullOwnDeadlineUsec != 0 && schedule.ullDeadlineUsec == m_ullOwnDeadlineUsec) {
    pRequest->dwTimeout = m_dwOwnTimeout;
    pRequest->bForceAppsClosed = m_bOwnForce;
    pRequest->strMessage = m_strOwnMessage;
    pRequest->dwOwnerProcessId = static_cast<DWORD>(getpid());
  } else {
    pRequest->dwTimeout =
        schedule.ullDeadlineUsec > ullNow ? static_cast<DWORD>((schedule.ullDeadlineUsec - ullNow + 999999ull) / 1000000ull) : 0;
  }
  return ERROR_SUCCESS;
}

}  // namespace native
}  // namespace kx
