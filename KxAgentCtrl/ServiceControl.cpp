#include "KxAgentCtrl/ServiceControl.h"

#include "KxProduct.h"
#include "platform/error_codes.h"
#include "platform/services.h"

namespace {

const char* const kServiceName = KX_SERVICE_NAME;

QString RunningText() { return QStringLiteral("※サービスは「動作中」です。"); }
QString StoppedText() { return QStringLiteral("※サービスは「停止中」です。"); }
QString UnknownText() { return QStringLiteral("※サービスの状態は不明です。"); }
CKxCtrlMessage Message(const QString& strText, int nIcon) {
  CKxCtrlMessage message;
  message.Set(strText, QStringLiteral("エラー"), nIcon);
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

QString CKxAgentServiceControl::GetInitialStatus() { return QStringLiteral("※現在サービスは 「停止中」 です。"); }

CKxServiceView CKxAgentServiceControl::Query() {
  CKxServiceView view;
  DWORD dwState = 0;
  {
    CServiceHandles handles;
    kx::SERVICE_STATUS status = {};
    if (handles.GetError() != ERROR_SUCCESS ||
        kx::QueryServiceStatus(handles.GetService(), &status) != ERROR_SUCCESS) {
      view.messages << Message(QStringLiteral("サービス情報の取得に失敗しました。"), KX_ICON_ERROR);
    } else {
      dwState = status.dwCurrentState;
    }
  }
  if (dwState == SERVICE_RUNNING) {
    view.bStopEnabled = true;
    view.strStatus = RunningText();
  } else if (dwState == SERVICE_STOPPED) {
    view.bStartEnabled = true;
    view.strStatus = StoppedText();
  } else {
    view.messages << Message(QStringLiteral("Kestrix Agent for Windowsサービスの状態を確認できませんでした。"),
                             KX_ICON_EXCLAMATION);
    view.strStatus = UnknownText();
  }
  return view;
}

CKxServiceView CKxAgentServiceControl::Starting() {
  CKxServiceView view;
  view.strStatus = QStringLiteral("※サービスを開始しています・・・");
  return view;
}

CKxServiceView CKxAgentServiceControl::Stopping() {
  CKxServiceView view;
  view.strStatus = QStringLiteral("※サービスを停止しています・・・");
  return view;
}

CKxServiceView CKxAgentServiceControl::Start() { return Control(true); }
CKxServiceView CKxAgentServiceControl::Stop() { return Control(false); }

CKxServiceView CKxAgentServiceControl::Control(bool bStart) {
  CKxServiceView view;
  view.strStatus = UnknownText();
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
                                m_pfnIdle, m_pContext)) {
      view.bStopEnabled = bStart;
      view.bStartEnabled = !bStart;
      view.strStatus = bStart ? RunningText() : StoppedText();
      return view;
    }
  }
  if (dwError == ERROR_TIMEOUT) {
    QString strText = bStart ? QStringLiteral("既定の時間内にKestrix Agent for Windowsサービスを開始できませんでした。")
                             : QStringLiteral("既定の時間内にKestrix Agent for Windowsサービスを停止できませんでした。");
    view.messages << Message(strText + QStringLiteral(" (CURRENT_STATE=%1)").arg(status.dwCurrentState),
                             KX_ICON_EXCLAMATION);
  } else {
    view.messages << Message(QStringLiteral("不明なエラーが発生しました。 (ERRCODE=%1)").arg(dwError),
                             KX_ICON_EXCLAMATION);
  }
  return view;
}
