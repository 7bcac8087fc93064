#include "KxAgentCtrl/LogPageLogic.h"

#include "KxAgentConfigManager/KxAgentConfigManager.h"

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
  values.strDirectory = KxToQt(pSetting->GetLogFileDir());
  values.strMaxSize = QString::number(pSetting->GetLogFileMaxSize() / kMebibyte);
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

void CKxAgentLogPageLogic::OnSizeTyped(const QString& strText) {
  bool bNumber = false;
  long lSize = strText.trimmed().toLong(&bNumber, 10);
  // The model clamps a product beyond its range; the check at OK refuses it.
  if (bNumber && lSize > 0) Setting()->SetLogFileMaxSize(lSize > 0x7FFFFFFF / kMebibyte ? 0x7FFFFFFF : lSize * kMebibyte);
}

QString CKxAgentLogPageLogic::GetBrowseTitle() { return QStringLiteral("ログを保存するディレクトリを選択してください"); }

bool CKxAgentLogPageLogic::ChangeDirectory(const QString& strCurrent, const QString& strChosen,
                                           CKxCtrlMessage* pMessage) {
  if (strChosen.isEmpty() || strChosen.compare(strCurrent, Qt::CaseInsensitive) == 0) return false;
  Setting()->SetLogFileDir(KxToCp932(strChosen).c_str());
  pMessage->Set(QStringLiteral("ログ保存ディレクトリを変更しました。\r\n"
                               "設定を有効にするために、Kestrix Agent for Windows サービスを再起動してください。"),
                QStringLiteral("設定の変更"), KX_ICON_INFORMATION);
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
  pSetting->SetLogFileDir(KxToCp932(values.strDirectory).c_str());
  pSetting->SetLogFileLimit(values.bLimit);
  pSetting->SetLogFileMaxSize(nSize * kMebibyte);
  return true;
}
