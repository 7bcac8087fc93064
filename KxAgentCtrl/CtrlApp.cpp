#include "KxAgentCtrl/CtrlApp.h"

#include <QDir>
#include <QStandardPaths>

namespace {

const char* const kLockName = "KxAgentCtrlMutex.lock";

}  // namespace

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
  message.Set(KxText(KX_TEXT_ALREADY_RUNNING), KxText(KX_TEXT_FRAMEWORK_TITLE), KX_ICON_EXCLAMATION);
  return message;
}
