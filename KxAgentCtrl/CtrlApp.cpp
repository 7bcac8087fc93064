#include "KxAgentCtrl/CtrlApp.h"

#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "platform/registration.h"

namespace {

const char* const kAppIdGuid = "{B3D4E6A1-2C7F-4E58-9A10-5F2C8D47E6B9}";
const char* const kAppIdKey = "AppID/{B3D4E6A1-2C7F-4E58-9A10-5F2C8D47E6B9}";
const char* const kExeKey = "AppID/KxAgentCtrl.EXE";

}  // namespace

KxCtrlCommand KxParseCtrlCommandLine(const QStringList& arguments) {
  for (int i = 1; i < arguments.size(); ++i) {
    QString strArgument = arguments[i];
    if (!strArgument.startsWith(QLatin1Char('-')) && !strArgument.startsWith(QLatin1Char('/'))) continue;
    strArgument = strArgument.mid(1);
    if (strArgument.compare(QLatin1String("Regserver"), Qt::CaseInsensitive) == 0) return KX_CTRL_REGISTER;
    if (strArgument.compare(QLatin1String("Unregserver"), Qt::CaseInsensitive) == 0 ||
        strArgument.compare(QLatin1String("Unregister"), Qt::CaseInsensitive) == 0) {
      return KX_CTRL_UNREGISTER;
    }
  }
  return KX_CTRL_RUN;
}

bool KxRegisterCtrl() {
  return kx::SetRegistrationValue(kAppIdKey, "", "KxAgentCtrl") == ERROR_SUCCESS &&
         kx::SetRegistrationValue(kExeKey, "AppID", kAppIdGuid) == ERROR_SUCCESS;
}

bool KxUnregisterCtrl() {
  bool bApp = kx::DeleteRegistrationKey(kAppIdKey) == ERROR_SUCCESS;
  bool bExe = kx::DeleteRegistrationKey(kExeKey) == ERROR_SUCCESS;
  return bApp && bExe;
}

CKxCtrlSingleInstance::CKxCtrlSingleInstance() : m_dwError(ERROR_SUCCESS) {}
CKxCtrlSingleInstance::~CKxCtrlSingleInstance() = default;

QString CKxCtrlSingleInstance::GetLockPath(const char* lpConfigPath) {
  return KxToQt(kx::CSingleInstance::GetLockName(lpConfigPath).c_str());
}

CKxCtrlSingleInstance::Result CKxCtrlSingleInstance::Acquire(const char* lpConfigPath) {
  m_dwError = m_lock.Acquire(lpConfigPath);
  if (m_dwError == ERROR_SUCCESS) return KX_ACQUIRED;
  if (m_dwError == ERROR_ALREADY_EXISTS) return KX_ALREADY_RUNNING;
  m_strFailedLock = GetLockPath(lpConfigPath);
  return KX_FAILED;
}

CKxCtrlMessage CKxCtrlSingleInstance::GetFailedMessage() const {
  CKxCtrlMessage message;
  message.Set(QStringLiteral("設定ツールのロック「%1」を作成できないため、起動できません。\r\n%2")
                  .arg(m_strFailedLock, QString::fromStdString(kx::FormatSystemMessage(m_dwError))),
              kKxFrameworkTitle, KX_ICON_ERROR);
  return message;
}

CKxCtrlMessage CKxCtrlSingleInstance::GetAlreadyRunningMessage() {
  CKxCtrlMessage message;
  message.Set(QStringLiteral("Kestrix Agent for Windows 設定ツールはすでに起動されています。"),
              kKxFrameworkTitle, KX_ICON_EXCLAMATION);
  return message;
}
