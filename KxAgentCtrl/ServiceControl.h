// The settings page's service group: reads the state of the agent's service,
// starts and stops it through the service manager and waits for the result.
// Each operation returns what the group shows next.
#pragma once

#include <string>
#include <vector>

#include "KxAgentCtrl/CtrlText.h"
#include "platform/kx_types.h"
#include "platform/service_wait.h"

// What the group shows: its two buttons, its status line and the messages to
// show first, in order.
struct CKxServiceView {
  bool bStartEnabled = false;
  bool bStopEnabled = false;
  std::string strStatus;
  std::vector<CKxCtrlMessage> messages;
};

class CKxAgentServiceControl {
 public:
  // How long a start or stop may take, in milliseconds.
  enum { KX_SERVICE_WAIT_LIMIT = 30000 };

  // pfnIdle passes the time between two polls of the wait (see
  // kx::WaitForServiceState); null sleeps.
  explicit CKxAgentServiceControl(kx::LPSERVICE_WAIT_IDLE pfnIdle = nullptr, void* pContext = nullptr)
      : m_pfnIdle(pfnIdle), m_pContext(pContext), m_pClock(nullptr) {}

  // The clock the waits are measured on; null (the default) is the system's.
  void SetClock(kx::CClock* pClock) { m_pClock = pClock; }

  // The status line the dialog shows before the first query.
  static std::string GetInitialStatus();
  // The group for the current state of the service (the page opening).
  CKxServiceView Query();
  // The group while the start (or stop) runs: both buttons disabled.
  static CKxServiceView Starting();
  static CKxServiceView Stopping();
  // Starts the service and waits up to the limit for it to run.
  CKxServiceView Start();
  // Sends the stop control and waits up to the limit for it to stop.
  CKxServiceView Stop();

 private:
  CKxServiceView Control(bool bStart);

  kx::LPSERVICE_WAIT_IDLE m_pfnIdle;
  void* m_pContext;
  kx::CClock* m_pClock;
};
