#include "KxAgentCtrl/CtrlText.h"

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "platform/text_encoding.h"

const char* const kKxFrameworkTitle = "KxAgentCtrl";

QString KxToQt(const char* lpCp932) {
  if (lpCp932 == nullptr) return QString();
  return QString::fromStdString(kx::Cp932ToUtf8(lpCp932));
}

std::string KxToCp932(const QString& str) { return kx::Utf8ToCp932(str.toStdString()); }

bool KxParseIntegerField(const QString& strText, int nMin, int nMax, int* pnValue,
                         CKxCtrlMessage* pMessage) {
  bool bNumber = false;
  int nValue = strText.trimmed().toInt(&bNumber, 10);
  if (!bNumber) {
    pMessage->Set(QStringLiteral("Please enter an integer."), kKxFrameworkTitle, KX_ICON_EXCLAMATION);
    return false;
  }
  if (nValue < nMin || nValue > nMax) {
    pMessage->Set(QStringLiteral("Please enter an integer between %1 and %2.").arg(nMin).arg(nMax),
                  kKxFrameworkTitle, KX_ICON_EXCLAMATION);
    return false;
  }
  *pnValue = nValue;
  return true;
}

bool KxSaveSystemConfig(CKxAgentConfigManager* pManager, CKxCtrlMessage* pMessage) {
  if (pManager->SaveSystemConfig()) return true;
  pMessage->Set(QStringLiteral("設定ファイル「%1」を保存できませんでした。\r\n"
                               "ディスクの空き容量とファイルへの書き込み権限を確認してください。")
                    .arg(KxToQt(pManager->GetSystemConfigPath())),
                QStringLiteral("設定保存エラー"), KX_ICON_ERROR);
  return false;
}
