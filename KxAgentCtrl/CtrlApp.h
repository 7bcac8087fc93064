// The tool's one-instance check, shared by both front-ends.
#pragma once

#include <string>

#include "KxAgentCtrl/CtrlText.h"
#include "platform/kx_types.h"
#include "platform/single_instance.h"

// Holds the one-instance lock while it lives. The lock is a file beside the
// configuration file it protects (one editor per installation, whoever runs
// it), held with a lock the system drops when the process ends; on Windows the
// named mutex "KxAgentCtrlMutex".
class CKxCtrlSingleInstance {
 public:
  CKxCtrlSingleInstance();
  ~CKxCtrlSingleInstance();
  CKxCtrlSingleInstance(const CKxCtrlSingleInstance&) = delete;
  CKxCtrlSingleInstance& operator=(const CKxCtrlSingleInstance&) = delete;

  enum Result { KX_ACQUIRED, KX_ALREADY_RUNNING, KX_FAILED };
  // lpConfigPath: the system configuration file (code page 932).
  Result Acquire(const char* lpConfigPath);

  // The lock's name for that configuration file (code page 932).
  static std::string GetLockPath(const char* lpConfigPath);
  // The message a second instance shows before it ends.
  static CKxCtrlMessage GetAlreadyRunningMessage();
  // After KX_FAILED: the message naming the lock and the system's reason.
  CKxCtrlMessage GetFailedMessage() const;

 private:
  kx::CSingleInstance m_lock;
  std::string m_strFailedLock;
  DWORD m_dwError;
};
