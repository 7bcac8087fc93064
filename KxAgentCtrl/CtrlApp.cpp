#include "KxAgentCtrl/CtrlApp.h"

#include "KxAgentCtrl/CtrlTexts.h"
#include "platform/error_codes.h"
#include "platform/error_text.h"

CKxCtrlSingleInstance::CKxCtrlSingleInstance() : m_dwError(ERROR_SUCCESS) {}
CKxCtrlSingleInstance::~CKxCtrlSingleInstance() = default;

std::string CKxCtrlSingleInstance::GetLockPath(const char* lpConfigPath) {
  return kx::CSingleInstance::GetLockName(lpConfigPath);
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
  message.Set(KxFormatText(KX_TEXT_LOCK_FAILED, m_strFailedLock.c_str(), kx::FormatSystemMessage(m_dwError).c_str()),
              KxText(KX_TEXT_FRAMEWORK_TITLE), KX_ICON_ERROR);
  return message;
}

CKxCtrlMessage CKxCtrlSingleInstance::GetAlreadyRunningMessage() {
  CKxCtrlMessage message;
  message.Set(KxText(KX_TEXT_ALREADY_RUNNING), KxText(KX_TEXT_FRAMEWORK_TITLE), KX_ICON_EXCLAMATION);
  return message;
}
