// The Qt tool's one-instance check.
#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

#include "KxAgentCtrl/CtrlCommandLine.h"
#include "KxAgentCtrl/CtrlText.h"

// Holds the one-instance lock while it lives. The lock is a file in the
// user's runtime directory; a lock left by an instance that died is taken over.
class CKxCtrlSingleInstance {
 public:
  CKxCtrlSingleInstance();
  ~CKxCtrlSingleInstance();
  CKxCtrlSingleInstance(const CKxCtrlSingleInstance&) = delete;
  CKxCtrlSingleInstance& operator=(const CKxCtrlSingleInstance&) = delete;

  enum Result { KX_ACQUIRED, KX_ALREADY_RUNNING, KX_FAILED };
  Result Acquire();

  // The lock file's path.
  static QString GetLockPath();
  // The message a second instance shows before it ends.
  static CKxCtrlMessage GetAlreadyRunningMessage();

 private:
  std::unique_ptr<QLockFile> m_pLock;
};
