#include "KxAgentCtrl/AclPage.h"

#include <QCheckBox>
#include <algorithm>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const int kMaxNameLength = CKxAgentAclPageLogic::KX_MAX_NAME_LENGTH;
const int kCheckColumnAccounts = 2;
const int kCheckColumnCommands = 2;
const int kAccountColumnWidth = 100;
const int kCommandColumnWidth = 240;

QTreeWidget* MakeCheckList(const QStringList& headers, const QList<int>& widths, int nCentredColumn) {
  QTreeWidget* pList = new QTreeWidget;
  pList->setRootIsDecorated(false);
  pList->setAllColumnsShowFocus(true);
  pList->setHeaderLabels(headers);
  for (int i = 0; i < widths.size(); ++i) pList->setColumnWidth(i, widths[i]);
  pList->headerItem()->setTextAlignment(nCentredColumn, Qt::AlignCenter);
  return pList;
}

// Widens the first column to its longest text, never below its own width, so
// that names are not cut; the list scrolls sideways instead.
void WidenFirstColumn(QTreeWidget* pList, int nMinimum) {
  pList->resizeColumnToContents(0);
  pList->setColumnWidth(0, std::max(nMinimum, pList->columnWidth(0)));
}

}  // namespace

CKxAgentAddLogonUserDlg::CKxAgentAddLogonUserDlg(QWidget* pParent) : QDialog(pParent) {
  setWindowTitle(KxQtText(KX_TEXT_ADD_TITLE));
  QVBoxLayout* pLayout = new QVBoxLayout(this);
  pLayout->addWidget(new QLabel(KxQtText(KX_TEXT_ADD_ACCOUNT_PROMPT)));
  m_pAccount = new QLineEdit;
  m_pAccount->setMaxLength(kMaxNameLength);
  pLayout->addWidget(m_pAccount);
  m_pUseDomain = new QCheckBox(KxQtText(KX_TEXT_ADD_USE_DOMAIN));
  pLayout->addWidget(m_pUseDomain);
  m_pDomainLabel = new QLabel(KxQtText(KX_TEXT_ADD_DOMAIN_PROMPT));
  m_pDomain = new QLineEdit;
  m_pDomain->setMaxLength(kMaxNameLength);
  pLayout->addWidget(m_pDomainLabel);
  pLayout->addWidget(m_pDomain);
  KxAddOkCancelButtons(this, pLayout);
  connect(m_pUseDomain, &QCheckBox::toggled, this, &CKxAgentAddLogonUserDlg::OnUseDomain);
  OnUseDomain(false);
}

void CKxAgentAddLogonUserDlg::OnUseDomain(bool bChecked) {
  m_pDomainLabel->setEnabled(bChecked);
  m_pDomain->setEnabled(bChecked);
  if (!bChecked) m_pDomain->clear();
}

void CKxAgentAddLogonUserDlg::accept() {
  std::string strAccount = KxToCp932(m_pAccount->text());
  std::string strDomain = KxToCp932(m_pDomain->text());
  CKxCtrlMessage message;
  bool bAccepted = CKxAgentAclPageLogic::CheckAccountInput(&strAccount, m_pUseDomain->isChecked(), &strDomain, &message);
  m_pAccount->setText(KxToQt(strAccount));
  m_pDomain->setText(KxToQt(strDomain));
  if (!bAccepted) {
    KxShowMessage(this, message);
    return;
  }
  QDialog::accept();
}

CKxAgentAclPage::CKxAgentAclPage(CKxAgentConfigManager* pManager, CKxAgentCtrlPluginReader* pReader, QWidget* pParent)
    : CKxAgentPropertyPage(pManager, pParent), m_logic(pManager, pReader) {
  QVBoxLayout* pLayout = new QVBoxLayout(this);

  QGroupBox* pAccountGroup = new QGroupBox(KxQtText(KX_TEXT_GROUP_ACCOUNTS));
  QVBoxLayout* pAccountLayout = new QVBoxLayout(pAccountGroup);
  m_pAccounts = MakeCheckList({KxQtText(KX_TEXT_COLUMN_ACCOUNT), KxQtText(KX_TEXT_COLUMN_DOMAIN), KxQtText(KX_TEXT_COLUMN_LOGON)},
                              {kAccountColumnWidth, 200, 70}, kCheckColumnAccounts);
  m_pAccounts->setSelectionMode(QAbstractItemView::ExtendedSelection);
  pAccountLayout->addWidget(m_pAccounts);
  QHBoxLayout* pAccountButtons = new QHBoxLayout;
  m_pChoose = new QPushButton(KxQtText(KX_TEXT_BUTTON_CHOOSE));
  m_pAdd = new QPushButton(KxQtText(KX_TEXT_BUTTON_ADD));
  m_pDelete = new QPushButton(KxQtText(KX_TEXT_BUTTON_DELETE));
  pAccountButtons->addWidget(m_pChoose);
  pAccountButtons->addStretch();
  pAccountButtons->addWidget(m_pAdd);
  pAccountButtons->addWidget(m_pDelete);
  pAccountLayout->addLayout(pAccountButtons);
  pLayout->addWidget(pAccountGroup);

  m_pCommandGroup = new QGroupBox(KxQtText(KX_TEXT_GROUP_COMMANDS));
  QVBoxLayout* pCommandLayout = new QVBoxLayout(m_pCommandGroup);
  m_pCommands = MakeCheckList({KxQtText(KX_TEXT_COLUMN_COMMAND), KxQtText(KX_TEXT_COLUMN_TYPE), KxQtText(KX_TEXT_COLUMN_RUN)},
                              {kCommandColumnWidth, 80, 50}, kCheckColumnCommands);
  // The definition column takes the width the type and check columns leave, so
  // those stay in view; a definition longer than that is elided, whole in its tooltip.
  m_pCommands->header()->setStretchLastSection(false);
  m_pCommands->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  pCommandLayout->addWidget(m_pCommands);
  QHBoxLayout* pCommandButtons = new QHBoxLayout;
  m_pCheckAll = new QPushButton(KxQtText(KX_TEXT_BUTTON_CHECK_ALL));
  m_pUncheckAll = new QPushButton(KxQtText(KX_TEXT_BUTTON_UNCHECK_ALL));
  pCommandButtons->addStretch();
  pCommandButtons->addWidget(m_pCheckAll);
  pCommandButtons->addWidget(m_pUncheckAll);
  pCommandLayout->addLayout(pCommandButtons);
  pLayout->addWidget(m_pCommandGroup, 1);
  QLabel* pShellNote = new QLabel(KxQtText(KX_TEXT_SHELL_GRANT_NOTE));
  pShellNote->setWordWrap(true);
  pLayout->addWidget(pShellNote);

  connect(m_pChoose, &QPushButton::clicked, this, &CKxAgentAclPage::ChooseAccount);
  connect(m_pAccounts, &QTreeWidget::itemActivated, this, [this]() { ChooseAccount(); });
  connect(m_pAdd, &QPushButton::clicked, this, &CKxAgentAclPage::OnAdd);
  connect(m_pDelete, &QPushButton::clicked, this, &CKxAgentAclPage::OnDelete);
  connect(m_pAccounts, &QTreeWidget::itemChanged, this, &CKxAgentAclPage::OnAccountChanged);
  connect(m_pCommands, &QTreeWidget::itemChanged, this, &CKxAgentAclPage::OnCommandChanged);
  connect(m_pCheckAll, &QPushButton::clicked, this, [this]() { SetAllCommands(true); });
  connect(m_pUncheckAll, &QPushButton::clicked, this, [this]() { SetAllCommands(false); });
}

void CKxAgentAclPage::OnFirstShow() {
  FillAccounts();
  RebuildCommandList();
}

QTreeWidgetItem* CKxAgentAclPage::AddAccountRow(const CKxAccountRow& row) {
  QTreeWidgetItem* pItem = new QTreeWidgetItem;
  pItem->setText(0, KxToQt(row.strAccountName));
  pItem->setText(1, KxToQt(row.strDomain));
  pItem->setTextAlignment(kCheckColumnAccounts, Qt::AlignCenter);
  pItem->setData(0, Qt::UserRole, row.nAccountID);
  pItem->setFlags(pItem->flags() | Qt::ItemIsUserCheckable);
  bool bOld = m_bSettingChecks;
  m_bSettingChecks = true;
  m_pAccounts->addTopLevelItem(pItem);
  pItem->setCheckState(0, row.bLogonAllowed ? Qt::Checked : Qt::Unchecked);
  pItem->setText(kCheckColumnAccounts, KxToQt(CKxAgentAclPageLogic::GetCheckText(row.bLogonAllowed)));
  m_bSettingChecks = bOld;
  return pItem;
}

void CKxAgentAclPage::FillAccounts() {
  m_pAccounts->clear();
  for (const CKxAccountRow& row : m_logic.GetAccountRows()) AddAccountRow(row);
  WidenFirstColumn(m_pAccounts, kAccountColumnWidth);
}

void CKxAgentAclPage::RebuildCommandList() {
  if (!IsShown()) return;
  m_bSettingChecks = true;
  m_pCommands->clear();
  for (const CKxCommandRow& row : m_logic.BuildCommandRows()) {
    QTreeWidgetItem* pItem = new QTreeWidgetItem;
    pItem->setText(0, KxToQt(row.strDefinition));
    pItem->setToolTip(0, KxToQt(row.strDefinition));
    pItem->setText(1, KxToQt(row.strTypeName));
    pItem->setTextAlignment(kCheckColumnCommands, Qt::AlignCenter);
    pItem->setData(0, Qt::UserRole, row.nCommandID);
    pItem->setFlags(pItem->flags() | Qt::ItemIsUserCheckable);
    m_pCommands->addTopLevelItem(pItem);
    pItem->setCheckState(0, Qt::Unchecked);
    pItem->setText(kCheckColumnCommands, KxToQt(CKxAgentAclPageLogic::GetCheckText(false)));
  }
  m_bSettingChecks = false;
  ShowChosenAccount(false);
}

void CKxAgentAclPage::ShowChosenAccount(bool bChosen) {
  if (!bChosen) m_logic.ClearChosenAccount();
  m_pCommandGroup->setTitle(KxToQt(m_logic.GetCommandGroupTitle()));
  m_bSettingChecks = true;
  for (int i = 0; i < m_pCommands->topLevelItemCount(); ++i) {
    QTreeWidgetItem* pItem = m_pCommands->topLevelItem(i);
    bool bAllowed = m_logic.IsCommandAllowed(pItem->data(0, Qt::UserRole).toInt());
    pItem->setCheckState(0, bAllowed ? Qt::Checked : Qt::Unchecked);
  }
  m_bSettingChecks = false;
  m_pCommandGroup->setEnabled(bChosen);
}

void CKxAgentAclPage::ChooseAccount() {
  QList<QTreeWidgetItem*> selected = m_pAccounts->selectedItems();
  if (selected.isEmpty()) {
    ShowChosenAccount(false);
    return;
  }
  bool bChosen = m_logic.ChooseAccount(selected.front()->data(0, Qt::UserRole).toInt()) != nullptr;
  ShowChosenAccount(bChosen);
}

void CKxAgentAclPage::OnAdd() {
  CKxAgentAddLogonUserDlg dialog(this);
  if (dialog.exec() != QDialog::Accepted) return;
  CKxCtrlMessage message;
  CKxAccountRow row;
  if (m_logic.AddAccount(KxToCp932(dialog.m_pAccount->text()), dialog.m_pUseDomain->isChecked(),
                         KxToCp932(dialog.m_pDomain->text()), &row, &message) < 0) {
    KxShowMessage(this, message);
    return;
  }
  QTreeWidgetItem* pItem = AddAccountRow(row);
  m_pAccounts->clearSelection();
  pItem->setSelected(true);
  m_pAccounts->setCurrentItem(pItem);
  ChooseAccount();
}

void CKxAgentAclPage::OnDelete() {
  QList<QTreeWidgetItem*> selected = m_pAccounts->selectedItems();
  if (selected.isEmpty()) return;
  std::vector<std::string> names;
  std::vector<int> ids;
  for (QTreeWidgetItem* pItem : selected) {
    names.push_back(KxToCp932(pItem->text(0)));
    ids.push_back(pItem->data(0, Qt::UserRole).toInt());
  }
  if (!KxAsk(this, CKxAgentAclPageLogic::GetDeleteQuestion(names), CKxAgentAclPageLogic::GetDeleteTitle(),
             QMessageBox::Ok | QMessageBox::Cancel)) {
    return;
  }
  m_logic.RemoveAccounts(ids);
  ShowChosenAccount(false);
  qDeleteAll(selected);
}

void CKxAgentAclPage::OnAccountChanged(QTreeWidgetItem* pItem, int nColumn) {
  if (nColumn != 0) return;
  bool bChecked = pItem->checkState(0) == Qt::Checked;
  QString strText = KxToQt(CKxAgentAclPageLogic::GetCheckText(bChecked));
  if (pItem->text(kCheckColumnAccounts) != strText) pItem->setText(kCheckColumnAccounts, strText);
  if (!m_bSettingChecks) m_logic.SetLogonAllowed(pItem->data(0, Qt::UserRole).toInt(), bChecked);
}

void CKxAgentAclPage::OnCommandChanged(QTreeWidgetItem* pItem, int nColumn) {
  if (nColumn != 0) return;
  bool bChecked = pItem->checkState(0) == Qt::Checked;
  QString strText = KxToQt(CKxAgentAclPageLogic::GetCheckText(bChecked));
  if (pItem->text(kCheckColumnCommands) != strText) pItem->setText(kCheckColumnCommands, strText);
  if (!m_bSettingChecks) m_logic.SetCommandAllowed(pItem->data(0, Qt::UserRole).toInt(), bChecked);
}

void CKxAgentAclPage::SetAllCommands(bool bChecked) {
  for (int i = 0; i < m_pCommands->topLevelItemCount(); ++i) {
    m_pCommands->topLevelItem(i)->setCheckState(0, bChecked ? Qt::Checked : Qt::Unchecked);
  }
}
