#include "KxAgentCtrl/ServiceControl.h"

#include "KxProduct.h"
#include "platform/error_codes.h"
#include "platform/services.h"

namespace {

const char* const kServiceName = KX_SERVICE_NAME;

CKxCtrlMessage Message(const std::string& strText, int nIcon) {
  CKxCtrlMessage message;
  message.Set(strText, KxText(KX_TEXT_ERROR_TITLE), nIcon);
  return message;
}

// The manager and the service, open together and closed together.
class CServiceHandles {
 public:
  CServiceHandles() {
    m_dwError = kx::OpenServiceManager(&m_hManager);
    if (m_dwError == ERROR_SUCCESS) m_dwError = kx::OpenServiceByName(m_hManager, kServiceName, &m_hService);
  }
  ~CServiceHandles() {
    kx::CloseServiceHandle(m_hService);
    kx::CloseServiceHandle(m_hManager);
  }
  CServiceHandles(const CServiceHandles&) = delete;
  CServiceHandles& operator=(const CServiceHandles&) = delete;

  DWORD GetError() const { return m_dwError; }
  kx::SC_HANDLE GetService() const { return m_hService; }

 private:
  kx::SC_HANDLE m_hManager = nullptr;
  kx::SC_HANDLE m_hService = nullptr;
  DWORD m_dwError;
};

}  // namespace

std::string CKxAgentServiceControl::GetInitialStatus() { return KxText(KX_TEXT_SERVICE_INITIAL); }

CKxServiceView CKxAgentServiceControl::Query() {
  CKxServiceView view;
  DWORD dwState = 0;
  {
    CServiceHandles handles;
    kx::SERVICE_STATUS status = {};
    if (handles.GetError() != ERROR_SUCCESS ||
        kx::QueryServiceStatus(handles.GetService(), &status) != ERROR_SUCCESS) {
      view.messages.push_back(Message(KxText(KX_TEXT_SERVICE_QUERY_FAILED), KX_ICON_ERROR));
    } else {
      dwState = status.dwCurrentState;
    }
  }
  if (dwState == SERVICE_RUNNING) {
    view.bStopEnabled = true;
    view.strStatus = KxText(KX_TEXT_SERVICE_RUNNING);
  } else if (dwState == SERVICE_STOPPED) {
    view.bStartEnabled = true;
    view.strStatus = KxText(KX_TEXT_SERVICE_STOPPED);
  } else {
    view.messages.push_back(Message(KxText(KX_TEXT_SERVICE_STATE_UNKNOWN), KX_ICON_EXCLAMATION));
    view.strStatus = KxText(KX_TEXT_SERVICE_UNKNOWN);
  }
  return view;
}

CKxServiceView CKxAgentServiceControl::Starting() {
  CKxServiceView view;
  view.strStatus = KxText(KX_TEXT_SERVICE_STARTING);
  return view;
}

CKxServiceView CKxAgentServiceControl::Stopping() {
  CKxServiceView view;
  view.strStatus = KxText(KX_TEXT_SERVICE_STOPPING);
  return view;
}

CKxServiceView CKxAgentServiceControl::Start() { return Control(true); }
CKxServiceView CKxAgentServiceControl::Stop() { return Control(false); }

CKxServiceView CKxAgentServiceControl::Control(bool bStart) {
  CKxServiceView view;
  view.strStatus = KxText(KX_TEXT_SERVICE_UNKNOWN);
  CServiceHandles handles;
  kx::SERVICE_STATUS status = {};
  DWORD dwError = handles.GetError();
  if (dwError == ERROR_SUCCESS) dwError = kx::QueryServiceStatus(handles.GetService(), &status);
  if (dwError == ERROR_SUCCESS) {
    // The request's own result is not examined: a start or stop that did not
    // happen shows as the state never reached.
    if (bStart) {
      kx::StartInstalledService(handles.GetService());
    } else {
      kx::SERVICE_STATUS controlStatus = {};
      kx::ControlService(handles.GetService(), SERVICE_CONTROL_STOP, &controlStatus);
    }
    DWORD dwWanted = bStart ? SERVICE_RUNNING : SERVICE_STOPPED;
    if (kx::WaitForServiceState(handles.GetService(), dwWanted, &status, KX_SERVICE_WAIT_LIMIT, &dwError,
                                m_pfnIdle, m_pContext, m_pClock)) {
      view.bStopEnabled = bStart;
      view.bStartEnabled = !bStart;
      view.strStatus = bStart ? KxText(KX_TEXT_SERVICE_RUNNING) : KxText(KX_TEXT_SERVICE_STOPPED);
      return view;
    }
  }
  if (dwError == ERROR_TIMEOUT) {
    view.messages.push_back(Message(KxFormatText(bStart ? KX_TEXT_SERVICE_START_TIMEOUT : KX_TEXT_SERVICE_STOP_TIMEOUT,
                                                 static_cast<unsigned long>(status.dwCurrentState)),
                                    KX_ICON_EXCLAMATION));
  } else {
    view.messages.push_back(
        Message(KxFormatText(KX_TEXT_SERVICE_ERROR, static_cast<unsigned long>(dwError)), KX_ICON_EXCLAMATION));
  }
  return view;
}
