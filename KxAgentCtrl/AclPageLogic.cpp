#include "KxAgentCtrl/AclPageLogic.h"

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/PluginReader.h"
#include "KxAgentPluginManager/PluginFile.h"
#include "platform/text_compare.h"

std::string CKxAgentAclPageLogic::GetLocalDomainText() { return KxText(KX_TEXT_LOCAL_DOMAIN); }

std::string CKxAgentAclPageLogic::GetCheckText(bool bChecked) {
  return KxText(bChecked ? KX_TEXT_CHECKED : KX_TEXT_UNCHECKED);
}

std::vector<CKxAccountRow> CKxAgentAclPageLogic::GetAccountRows() const {
  std::vector<CKxAccountRow> rows;
  for (const CKxAgentLogonAccount* pAccount : *m_pManager->GetLogonAccountList()) {
    CKxAccountRow row;
    row.nAccountID = pAccount->GetAccountID();
    row.strAccountName = pAccount->GetAccountName();
    row.strDomain = pAccount->IsDomainAccount() ? std::string(pAccount->GetDomainName()) : GetLocalDomainText();
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
    if (!m_pReader->Load(pEntry->GetType(), MakePluginFilePath(m_pManager->GetPluginDir(), pEntry->GetLibrary()),
                         &summary)) continue;
    for (size_t i = 0; i < summary.vecCommands.size(); ++i) {
      CKxCommandRow row;
      row.nCommandID = pEntry->GetPluginID() + static_cast<int>(i);
      row.strDefinition = summary.vecCommands[i];
      row.strTypeName = pEntry->GetTypeName();
      rows.push_back(row);
    }
  }
  return rows;
}

bool CKxAgentAclPageLogic::CheckAccountInput(std::string* pstrAccount, bool bDomain, std::string* pstrDomain,
                                             CKxCtrlMessage* pMessage) {
  *pstrAccount = KxTrim(*pstrAccount);
  *pstrDomain = KxTrim(*pstrDomain);
  if (pstrAccount->empty()) {
    pMessage->Set(KxText(KX_TEXT_ENTER_ACCOUNT), KxText(KX_TEXT_INPUT_ERROR_TITLE), KX_ICON_EXCLAMATION);
    return false;
  }
  if (bDomain && pstrDomain->empty()) {
    pMessage->Set(KxText(KX_TEXT_ENTER_DOMAIN), KxText(KX_TEXT_INPUT_ERROR_TITLE), KX_ICON_EXCLAMATION);
    return false;
  }
  return true;
}

int CKxAgentAclPageLogic::AddAccount(const std::string& strAccount, bool bDomain, const std::string& strDomain,
                                     CKxAccountRow* pRow, CKxCtrlMessage* pMessage) {
  std::string strName = KxToLower(strAccount);
  std::string strDomainName = bDomain ? KxToLower(strDomain) : std::string();
  std::string strRowDomain = bDomain ? strDomainName : GetLocalDomainText();
  for (const CKxAccountRow& row : GetAccountRows()) {
    if (kx::CompareNoCase(row.strAccountName.c_str(), strName.c_str()) == 0 &&
        kx::CompareNoCase(row.strDomain.c_str(), strRowDomain.c_str()) == 0) {
      pMessage->Set(KxText(KX_TEXT_DUPLICATE_ACCOUNT), KxText(KX_TEXT_DUPLICATE_ACCOUNT_TITLE), KX_ICON_ERROR);
      return -1;
    }
  }
  CKxAgentLogonAccount* pAccount = m_pManager->AddLogonAccount(
      strName.c_str(), bDomain ? strDomainName.c_str() : nullptr, TRUE, bDomain ? TRUE : FALSE);
  pRow->nAccountID = pAccount->GetAccountID();
  pRow->strAccountName = strName;
  pRow->strDomain = strRowDomain;
  pRow->bLogonAllowed = true;
  return pAccount->GetAccountID();
}

std::string CKxAgentAclPageLogic::GetDeleteQuestion(const std::vector<std::string>& names) {
  if (names.size() == 1) return KxFormatText(KX_TEXT_DELETE_ONE, names.front().c_str());
  return KxText(KX_TEXT_DELETE_MANY);
}

std::string CKxAgentAclPageLogic::GetDeleteTitle() { return KxText(KX_TEXT_DELETE_TITLE); }

void CKxAgentAclPageLogic::RemoveAccounts(const std::vector<int>& accountIDs) {
  m_pChosen = nullptr;
  for (int nID : accountIDs) m_pManager->RemoveLogonAccount(nID);
}

CKxAgentLogonAccount* CKxAgentAclPageLogic::ChooseAccount(int nAccountID) {
  m_pChosen = m_pManager->GetLogonAccount(nAccountID);
  return m_pChosen;
}

std::string CKxAgentAclPageLogic::GetCommandGroupTitle() const {
  if (m_pChosen == nullptr) return KxText(KX_TEXT_GROUP_COMMANDS);
  return KxFormatText(KX_TEXT_GROUP_COMMANDS_OF, m_pChosen->GetAccountName());
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
