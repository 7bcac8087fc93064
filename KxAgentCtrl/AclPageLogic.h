// The access page's rules: the account rows, the add-account checks (trimming,
// lower case, duplicates), the command list of every plug-in, the chosen
// account whose allowed command IDs the check marks edit, and deleting accounts.
#pragma once

#include <string>
#include <vector>

#include "KxAgentCtrl/CtrlText.h"

class CKxAgentConfigManager;
class CKxAgentCtrlPluginReader;
class CKxAgentLogonAccount;

struct CKxAccountRow {
  int nAccountID = 0;
  std::string strAccountName;
  std::string strDomain;  // the domain, or the local marker
  bool bLogonAllowed = false;
};

struct CKxCommandRow {
  int nCommandID = 0;  // plug-in ID + the command's index in its plug-in
  std::string strDefinition;
  std::string strTypeName;
};

class CKxAgentAclPageLogic {
 public:
  // The longest account or domain name the add dialog takes.
  enum { KX_MAX_NAME_LENGTH = 100 };

  CKxAgentAclPageLogic(CKxAgentConfigManager* pManager, CKxAgentCtrlPluginReader* pReader)
      : m_pManager(pManager), m_pReader(pReader) {}

  // The domain column of a local account.
  static std::string GetLocalDomainText();
  // "OK" or "-" for the check columns.
  static std::string GetCheckText(bool bChecked);

  std::vector<CKxAccountRow> GetAccountRows() const;
  // One row per command of every plug-in that loads, in list order. Plug-ins
  // that do not load are left out without a message. Clears the chosen account.
  std::vector<CKxCommandRow> BuildCommandRows();

  // The add dialog's check at OK: trims both fields (written back) and refuses
  // an empty account name, or an empty domain when one is to be given.
  static bool CheckAccountInput(std::string* pstrAccount, bool bDomain, std::string* pstrDomain,
                                CKxCtrlMessage* pMessage);
  // Adds the account in lower case, logon allowed. Refuses (-1 and the
  // message) an account whose name and domain equal a listed one, ignoring
  // letter case. Returns the new account's ID; *pRow is its row.
  int AddAccount(const std::string& strAccount, bool bDomain, const std::string& strDomain, CKxAccountRow* pRow,
                 CKxCtrlMessage* pMessage);

  // The question before deleting the accounts with these names.
  static std::string GetDeleteQuestion(const std::vector<std::string>& names);
  static std::string GetDeleteTitle();
  // Removes the accounts; the chosen account is cleared first.
  void RemoveAccounts(const std::vector<int>& accountIDs);

  // Chooses the account whose commands the list edits; null when none has that ID.
  CKxAgentLogonAccount* ChooseAccount(int nAccountID);
  void ClearChosenAccount() { m_pChosen = nullptr; }
  CKxAgentLogonAccount* GetChosenAccount() const { return m_pChosen; }
  // The command group's title for the chosen account (or for none).
  std::string GetCommandGroupTitle() const;
  // Whether the chosen account may run nCommandID (FALSE with none chosen).
  bool IsCommandAllowed(int nCommandID) const;

  // A user's change of a command row: adds or removes the ID on the chosen account.
  void SetCommandAllowed(int nCommandID, bool bAllowed);
  // A user's change of an account row.
  void SetLogonAllowed(int nAccountID, bool bAllowed);

 private:
  CKxAgentConfigManager* m_pManager;
  CKxAgentCtrlPluginReader* m_pReader;
  CKxAgentLogonAccount* m_pChosen = nullptr;
};
