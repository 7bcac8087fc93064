// The access page: the logon accounts, the add-account dialog, and the
// commands the chosen account may run.
#pragma once

#include <QDialog>

#include "KxAgentCtrl/AclPageLogic.h"
#include "KxAgentCtrl/CtrlWidgets.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The add-account dialog; at OK its fields hold the trimmed texts.
class CKxAgentAddLogonUserDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CKxAgentAddLogonUserDlg(QWidget* pParent = nullptr);

  void accept() override;

  QLineEdit* m_pAccount;
  QCheckBox* m_pUseDomain;
  QLabel* m_pDomainLabel;
  QLineEdit* m_pDomain;

 private:
  void OnUseDomain(bool bChecked);
};

class CKxAgentAclPage : public CKxAgentPropertyPage {
  Q_OBJECT

 public:
  CKxAgentAclPage(CKxAgentConfigManager* pManager, CKxAgentCtrlPluginReader* pReader, QWidget* pParent = nullptr);

  // Rebuilds the command list after a plug-in change; nothing before the page
  // has been shown.
  void RebuildCommandList();

  CKxAgentAclPageLogic* GetLogic() { return &m_logic; }

  QTreeWidget* m_pAccounts;
  QPushButton* m_pChoose;
  QPushButton* m_pAdd;
  QPushButton* m_pDelete;
  QGroupBox* m_pCommandGroup;
  QTreeWidget* m_pCommands;
  QPushButton* m_pCheckAll;
  QPushButton* m_pUncheckAll;

 protected:
  void OnFirstShow() override;

 private:
  void FillAccounts();
  void ShowChosenAccount(bool bChosen);
  void ChooseAccount();
  void OnAdd();
  void OnDelete();
  void OnAccountChanged(QTreeWidgetItem* pItem, int nColumn);
  void OnCommandChanged(QTreeWidgetItem* pItem, int nColumn);
  void SetAllCommands(bool bChecked);
  QTreeWidgetItem* AddAccountRow(const CKxAccountRow& row);

  CKxAgentAclPageLogic m_logic;
  // Set while the page itself sets check marks, so only the user's changes reach the model.
  bool m_bSettingChecks = false;
};
