// The log page's rules: what it shows of the log setting, which controls are
// enabled, the changes stored at once, the directory change and the size check.
#pragma once

#include <string>

#include "KxAgentCtrl/CtrlText.h"

class CKxAgentConfigManager;
class CKxAgentLogSetting;

// The page's control values.
struct CKxLogPageValues {
  bool bLogEnabled = false;
  bool bErrorLog = false;
  bool bWarningLog = false;
  bool bInfoLog = false;
  bool bDebugLog = false;
  bool bLimit = false;
  std::string strDirectory;
  std::string strMaxSize;  // MiB
};

// Which controls are enabled for some values.
struct CKxLogPageEnabling {
  bool bLevels = false;  // the four level boxes
  bool bErrorText = false;
  bool bWarningText = false;
  bool bInfoText = false;
  bool bDebugText = false;
  bool bDirectory = false;  // directory field, its label and both buttons
  bool bLimit = false;      // the limit box
  bool bSize = false;       // size field, "MB", the range note and the warning note
};

class CKxAgentLogPageLogic {
 public:
  // The switches the page stores at once.
  enum Switch { KX_LOG, KX_ERROR, KX_WARNING, KX_INFO, KX_DEBUG, KX_LIMIT };

  explicit CKxAgentLogPageLogic(CKxAgentConfigManager* pManager) : m_pManager(pManager) {}

  static CKxLogPageEnabling GetEnabling(const CKxLogPageValues& values);

  // Fetches the log setting (this marks the model modified) and returns what
  // the page shows: the size in whole MiB.
  CKxLogPageValues Load();
  // Stores one switch at once.
  void SetSwitch(Switch nSwitch, bool bOn);
  // The longest size text the field takes.
  enum { KX_SIZE_FIELD_LENGTH = 10 };
  // The size as typed: a number above 0 is stored at once.
  void OnSizeTyped(const std::string& strText);
  // A folder chosen in the browser. TRUE (and the notice in *pMessage) when it
  // differs from the current directory, ignoring letter case, and was stored.
  bool ChangeDirectory(const std::string& strCurrent, const std::string& strChosen, CKxCtrlMessage* pMessage);
  // The folder browser's title.
  static std::string GetBrowseTitle();
  // Checks the size (1 to 100) and stores every value; FALSE with the
  // framework's message when the size is refused (nothing stored then).
  bool Store(const CKxLogPageValues& values, CKxCtrlMessage* pMessage);

 private:
  CKxAgentLogSetting* Setting();

  CKxAgentConfigManager* m_pManager;
};
