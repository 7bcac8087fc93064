#include "KxAgentCtrl/CtrlApp.h"

#include <QDir>
#include <QStandardPaths>

#include "platform/error_codes.h"
#include "platform/registration.h"

namespace {

const char* const kAppIdGuid = "{B3D4E6A1-2C7F-4E58-9A10-5F2C8D47E6B9}";
const char* const kAppIdKey = "AppID/{B3D4E6A1-2C7F-4E58-9A10-5F2C8D47E6B9}";
const char* const kExeKey = "AppID/KxAgentCtrl.EXE";
const char* const kLockName = "KxAgentCtrlMutex.lock";

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

CKxCtrlSingleInstance::CKxCtrlSingleInstance() = default;
CKxCtrlSingleInstance::~CKxCtrlSingleInstance() = default;

QString CKxCtrlSingleInstance::GetLockPath() {
  QString strDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (strDir.isEmpty()) strDir = QDir::tempPath();
  return strDir + QLatin1Char('/') + QLatin1String(kLockName);
}

CKxCtrlSingleInstance::Result CKxCtrlSingleInstance::Acquire() {
  m_pLock = std::make_unique<QLockFile>(GetLockPath());
  // No age makes a lock stale: only a lock whose process is gone is.
  m_pLock->setStaleLockTime(0);
  if (m_pLock->tryLock(0)) return KX_ACQUIRED;
  QLockFile::LockError nError = m_pLock->error();
  m_pLock.reset();
  return nError == QLockFile::LockFailedError ? KX_ALREADY_RUNNING : KX_FAILED;
}

CKxCtrlMessage CKxCtrlSingleInstance::GetAlreadyRunningMessage() {
  CKxCtrlMessage message;
  message.Set(QStringLiteral("Kestrix Agent for Windows 設定ツールはすでに起動されています。"),
              kKxFrameworkTitle, KX_ICON_EXCLAMATION);
  return message;
}
