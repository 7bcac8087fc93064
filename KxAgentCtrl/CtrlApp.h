// The tool's start-up apart from its window: where it is installed, its
// registration switches and the check that only one instance runs.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "KxAgentCtrl/CtrlText.h"
#include "platform/single_instance.h"

// What the command line asks for.
enum KxCtrlCommand {
  KX_CTRL_RUN,         // show the sheet
  KX_CTRL_REGISTER,    // "Regserver"
  KX_CTRL_UNREGISTER,  // "Unregserver" or "Unregister"
};

// The switch among the arguments (after the program name), with '-' or '/'
// and in any letter case; KX_CTRL_RUN when there is none.
KxCtrlCommand KxParseCtrlCommandLine(const QStringList& arguments);

// Records the tool's AppID and the entry that names it; FALSE when a record
// could not be written.
bool KxRegisterCtrl();
// Removes both records (the AppID key above them stays).
bool KxUnregisterCtrl();

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

  // The lock file's path for that configuration file.
  static QString GetLockPath(const char* lpConfigPath);
  // The message a second instance shows before it ends.
  static CKxCtrlMessage GetAlreadyRunningMessage();
  // After KX_FAILED: which lock could not be made, and why.
  CKxCtrlMessage GetFailedMessage() const;

 private:
  kx::CSingleInstance m_lock;
  QString m_strFailedLock;
  DWORD m_dwError;
};
