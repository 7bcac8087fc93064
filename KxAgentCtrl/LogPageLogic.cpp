#include "KxAgentCtrl/LogPageLogic.h"

#include <cerrno>
#include <cstdlib>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "platform/text_compare.h"

namespace {

const long kMebibyte = 1048576;

}  // namespace

CKxLogPageEnabling CKxAgentLogPageLogic::GetEnabling(const CKxLogPageValues& values) {
  CKxLogPageEnabling enabling;
  if (!values.bLogEnabled) return enabling;
  enabling.bLevels = true;
  enabling.bErrorText = values.bErrorLog;
  enabling.bWarningText = values.bWarningLog;
  enabling.bInfoText = values.bInfoLog;
  enabling.bDebugText = values.bDebugLog;
  enabling.bDirectory = true;
  enabling.bLimit = true;
  enabling.bSize = values.bLimit;
  return enabling;
}

CKxAgentLogSetting* CKxAgentLogPageLogic::Setting() { return m_pManager->GetLogSetting(); }

CKxLogPageValues CKxAgentLogPageLogic::Load() {
  CKxAgentLogSetting* pSetting = Setting();
  CKxLogPageValues values;
  values.bLogEnabled = pSetting->IsLogEnabled();
  values.bErrorLog = pSetting->IsErrorLogEnabled();
  values.bWarningLog = pSetting->IsWarningLogEnabled();
  values.bInfoLog = pSetting->IsInfoLogEnabled();
  values.bDebugLog = pSetting->IsDebugLogEnabled();
  values.bLimit = pSetting->IsLogFileLimit();
  values.strDirectory = pSetting->GetLogFileDir();
  values.strMaxSize = std::to_string(pSetting->GetLogFileMaxSize() / kMebibyte);
  return values;
}

void CKxAgentLogPageLogic::SetSwitch(Switch nSwitch, bool bOn) {
  CKxAgentLogSetting* pSetting = Setting();
  BOOL bValue = bOn ? TRUE : FALSE;
  switch (nSwitch) {
    case KX_LOG: pSetting->SetLogEnabled(bValue); break;
    case KX_ERROR: pSetting->SetErrorLogEnabled(bValue); break;
    case KX_WARNING: pSetting->SetWarningLogEnabled(bValue); break;
    case KX_INFO: pSetting->SetInfoLogEnabled(bValue); break;
    case KX_DEBUG: pSetting->SetDebugLogEnabled(bValue); break;
    case KX_LIMIT: pSetting->SetLogFileLimit(bValue); break;
  }
}

void CKxAgentLogPageLogic::OnSizeTyped(const std::string& strText) {
  std::string strNumber = KxTrim(strText);
  char* lpEnd = nullptr;
  errno = 0;
  long lSize = std::strtol(strNumber.c_str(), &lpEnd, 10);
  bool bNumber = !strNumber.empty() && *lpEnd == '\0' && errno == 0;
  // The model clamps a product beyond its range; the check at OK refuses it.
  if (bNumber && lSize > 0) Setting()->SetLogFileMaxSize(lSize > 0x7FFFFFFF / kMebibyte ? 0x7FFFFFFF : lSize * kMebibyte);
}

std::string CKxAgentLogPageLogic::GetBrowseTitle() { return KxText(KX_TEXT_BROWSE_TITLE); }

bool CKxAgentLogPageLogic::ChangeDirectory(const std::string& strCurrent, const std::string& strChosen,
                                           CKxCtrlMessage* pMessage) {
  if (strChosen.empty() || kx::CompareNoCase(strChosen.c_str(), strCurrent.c_str()) == 0) return false;
  Setting()->SetLogFileDir(strChosen.c_str());
  pMessage->Set(KxText(KX_TEXT_DIRECTORY_CHANGED), KxText(KX_TEXT_DIRECTORY_CHANGED_TITLE), KX_ICON_INFORMATION);
  return true;
}

bool CKxAgentLogPageLogic::Store(const CKxLogPageValues& values, CKxCtrlMessage* pMessage) {
  int nSize = 0;
  if (!KxParseIntegerField(values.strMaxSize, 1, 100, &nSize, pMessage)) return false;
  CKxAgentLogSetting* pSetting = Setting();
  pSetting->SetLogEnabled(values.bLogEnabled);
  pSetting->SetErrorLogEnabled(values.bErrorLog);
  pSetting->SetWarningLogEnabled(values.bWarningLog);
  pSetting->SetInfoLogEnabled(values.bInfoLog);
  pSetting->SetDebugLogEnabled(values.bDebugLog);
  pSetting->SetLogFileDir(values.strDirectory.c_str());
  pSetting->SetLogFileLimit(values.bLimit);
  pSetting->SetLogFileMaxSize(nSize * kMebibyte);
  return true;
}
