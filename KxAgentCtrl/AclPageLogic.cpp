#include "KxAgentCtrl/AclPageLogic.h"

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/PluginLoader.h"
#include "KxAgentPluginManager/PluginFile.h"

QString CKxAgentAclPageLogic::GetLocalDomainText() { return QStringLiteral("（ローカル）"); }

QString CKxAgentAclPageLogic::GetCheckText(bool bChecked) {
  return bChecked ? QStringLiteral("OK") : QStringLiteral("-");
}

std::vector<CKxAccountRow> CKxAgentAclPageLogic::GetAccountRows() const {
  std::vector<CKxAccountRow> rows;
  for (const CKxAgentLogonAccount* pAccount : *m_pManager->GetLogonAccountList()) {
    CKxAccountRow row;
    row.nAccountID = pAccount->GetAccountID();
    row.strAccountName = KxToQt(pAccount->GetAccountName());
    row.strDomain = pAccount->IsDomainAccount() ? KxToQt(pAccount->GetDomainName()) : GetLocalDomainText();
    row.bLogonAllowed = pAccount->IsLogonAllowed();
    rows.push_back(row);
  }
  return rows;
}

std::vector<CKxCommandRow> CKxAgentAclPageLogic::BuildCommandRows() {
  m_pChosen = nullptr;
  std::vector<CKxCommandRow> rows;
  for (const CKxAgentPluginEntry* pEntry : *m_pManager->GetPluginList()) {
    CKxAgentPluginSummary summary;
    if (!m_pLoader->Load(pEntry->GetType(), MakePluginFilePath(m_pManager->GetPluginDir(), pEntry->GetLibrary()),
                         &summary)) continue;
    for (size_t i = 0; i < summary.vecCommands.size(); ++i) {
      CKxCommandRow row;
      row.nCommandID = pEntry->GetPluginID() + static_cast<int>(i);
      row.strDefinition = KxToQt(summary.vecCommands[i].c_str());
      row.strTypeName = KxToQt(pEntry->GetTypeName());
      rows.push_back(row);
    }
  }
  return rows;
}

bool CKxAgentAclPageLogic::CheckAccountInput(QString* pstrAccount, bool bDomain, QString* pstrDomain,
                                             CKxCtrlMessage* pMessage) {
  *pstrAccount = pstrAccount->trimmed();
  *pstrDomain = pstrDomain->trimmed();
  QString strTitle = QStringLiteral("入力エラー");
  if (pstrAccount->isEmpty()) {
    pMessage->Set(QStringLiteral("アカウントを入力してください。"), strTitle, KX_ICON_EXCLAMATION);
    return false;
  }
  if (bDomain && pstrDomain->isEmpty()) {
    pMessage->Set(QStringLiteral("ドメインを入力してください。"), strTitle, KX_ICON_EXCLAMATION);
    return false;
  }
  return true;
}

int CKxAgentAclPageLogic::AddAccount(const QString& strAccount, bool bDomain, const QString& strDomain,
                                     CKxCtrlMessage* pMessage) {
  QString strName = strAccount.toLower();
  QString strDomainName = bDomain ? strDomain.toLower() : QString();
  for (const CKxAccountRow& row : GetAccountRows()) {
    QString strRowDomain = bDomain ? strDomainName : GetLocalDomainText();
    if (row.strAccountName.compare(strName, Qt::CaseInsensitive) == 0 &&
        row.strDomain.compare(strRowDomain, Qt::CaseInsensitive) == 0) {
      pMessage->Set(QStringLiteral("リストのデータと重複するため追加できません。"), QStringLiteral("追加エラー"),
                    KX_ICON_ERROR);
      return -1;
    }
  }
  CKxAgentLogonAccount* pAccount =
      m_pManager->AddLogonAccount(KxToCp932(strName).c_str(), bDomain ? KxToCp932(strDomainName).c_str() : nullptr,
                                  TRUE, bDomain ? TRUE : FALSE);
  return pAccount->GetAccountID();
}

QString CKxAgentAclPageLogic::GetDeleteQuestion(const QList<QString>& names) {
  if (names.size() == 1) {
    return QStringLiteral("アカウント %1 をリストから削除します。よろしいですか？\r\n"
                          "（※この操作によってNTユーザアカウントが削除されることはありません！）")
        .arg(names.front());
  }
  return QStringLiteral("選択されたすべてのアカウントをリストから削除します。よろしいですか？\r\n"
                        "（※この操作によってWindowsアカウントが削除されることはありません！）");
}

QString CKxAgentAclPageLogic::GetDeleteTitle() { return QStringLiteral("削除確認"); }

void CKxAgentAclPageLogic::RemoveAccounts(const QList<int>& accountIDs) {
  m_pChosen = nullptr;
  for (int nID : accountIDs) m_pManager->RemoveLogonAccount(nID);
}

CKxAgentLogonAccount* CKxAgentAclPageLogic::ChooseAccount(int nAccountID) {
  m_pChosen = m_pManager->GetLogonAccount(nAccountID);
  return m_pChosen;
}

QString CKxAgentAclPageLogic::GetCommandGroupTitle() const {
  if (m_pChosen == nullptr) return QStringLiteral("実行可能コマンド");
  return QStringLiteral("%1 の実行可能コマンド").arg(KxToQt(m_pChosen->GetAccountName()));
}

bool CKxAgentAclPageLogic::IsCommandAllowed(int nCommandID) const {
  return m_pChosen != nullptr && m_pChosen->IsAllowedCommand(nCommandID);
}

void CKxAgentAclPageLogic::SetCommandAllowed(int nCommandID, bool bAllowed) {
  if (m_pChosen == nullptr) return;
  if (bAllowed) {
    m_pChosen->AddAllowCommandID(nCommandID);
  } else {
    m_pChosen->RemoveAllowCommandID(nCommandID);
  }
}

void CKxAgentAclPageLogic::SetLogonAllowed(int nAccountID, bool bAllowed) {
  if (CKxAgentLogonAccount* pAccount = m_pManager->GetLogonAccount(nAccountID)) {
    pAccount->SetLogonAllowed(bAllowed ? TRUE : FALSE);
  }
}
