// The tool's start-up apart from its window: where it is installed, its
// registration switches and the check that only one instance runs.
#pragma once

#include <QLockFile>
#include <QString>
#include <QStringList>
#include <memory>

#include "KxAgentCtrl/CtrlText.h"

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
