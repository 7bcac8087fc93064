#include "KxAgentCtrl/PluginPage.h"

#include <QCheckBox>
#include <algorithm>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "KxAgentCtrl/AclPage.h"
#include "KxAgentCtrl/PluginReader.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"

CKxAgentPluginPage::CKxAgentPluginPage(CKxCtrlConfigFile* pFile, CKxAgentCtrlPluginReader* pReader,
                                       CKxAgentAclPage* pAclPage, QWidget* pParent)
    : CKxAgentPropertyPage(pFile->GetManager(), pParent), m_logic(pFile, pReader), m_pAclPage(pAclPage) {
  m_fnChooseFile = [](QWidget* pParentWidget, const QStringList& filters) {
    QFileDialog dialog(pParentWidget);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().front()
                                                                                   : QString();
  };

  QVBoxLayout* pLayout = new QVBoxLayout(this);
  QGroupBox* pListGroup = new QGroupBox(KxQtText(KX_TEXT_GROUP_INSTALLED));
  QVBoxLayout* pListLayout = new QVBoxLayout(pListGroup);
  m_pPlugins = new QTreeWidget;
  m_pPlugins->setRootIsDecorated(false);
  m_pPlugins->setAllColumnsShowFocus(true);
  m_pPlugins->setHeaderLabels(
      {KxQtText(KX_TEXT_COLUMN_PLUGIN_NAME), KxQtText(KX_TEXT_COLUMN_TYPE), KxQtText(KX_TEXT_COLUMN_VERSION), KxQtText(KX_TEXT_COLUMN_COMMAND_COUNT)});
  const int widths[] = {160, 70, 70, 70};
  for (int i = 0; i < 4; ++i) m_pPlugins->setColumnWidth(i, widths[i]);
  m_pPlugins->headerItem()->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
  pListLayout->addWidget(m_pPlugins);
  QHBoxLayout* pButtons = new QHBoxLayout;
  m_pInstall = new QPushButton(KxQtText(KX_TEXT_BUTTON_INSTALL));
  m_pUninstall = new QPushButton(KxQtText(KX_TEXT_BUTTON_UNINSTALL));
  pButtons->addStretch();
  pButtons->addWidget(m_pInstall);
  pButtons->addWidget(m_pUninstall);
  pListLayout->addLayout(pButtons);
  pLayout->addWidget(pListGroup, 3);

  QHBoxLayout* pDetails = new QHBoxLayout;
  QGroupBox* pCommandGroup = new QGroupBox(KxQtText(KX_TEXT_GROUP_PLUGIN_COMMANDS));
  QVBoxLayout* pCommandLayout = new QVBoxLayout(pCommandGroup);
  m_pCommands = new QListWidget;
  pCommandLayout->addWidget(m_pCommands);
  QGroupBox* pInfoGroup = new QGroupBox(KxQtText(KX_TEXT_GROUP_PLUGIN_INFO));
  QVBoxLayout* pInfoLayout = new QVBoxLayout(pInfoGroup);
  m_pInformation = new QPlainTextEdit;
  m_pInformation->setReadOnly(true);
  pInfoLayout->addWidget(m_pInformation);
  pDetails->addWidget(pCommandGroup, 3);
  pDetails->addWidget(pInfoGroup, 2);
  pLayout->addLayout(pDetails, 3);

  QGroupBox* pOptionGroup = new QGroupBox(KxQtText(KX_TEXT_GROUP_OPTION));
  QVBoxLayout* pOptionLayout = new QVBoxLayout(pOptionGroup);
  m_pScripts = new QCheckBox(KxQtText(KX_TEXT_CHECK_SCRIPTS));
  pOptionLayout->addWidget(m_pScripts);
  pLayout->addWidget(pOptionGroup);

  connect(m_pPlugins, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* pItem) {
    if (pItem != nullptr) ShowPlugin(pItem->data(0, Qt::UserRole).toInt());
  });
  connect(m_pInstall, &QPushButton::clicked, this, &CKxAgentPluginPage::OnInstall);
  connect(m_pUninstall, &QPushButton::clicked, this, &CKxAgentPluginPage::OnUninstall);
  connect(m_pScripts, &QCheckBox::toggled, this, &CKxAgentPluginPage::OnScriptOption);
}

void CKxAgentPluginPage::OnFirstShow() {
  m_bSettingOption = true;
  m_pScripts->setChecked(m_pManager->IsScriptPluginSupport());
  m_bSettingOption = false;
  std::vector<CKxCtrlMessage> failures;
  for (const CKxPluginRow& row : m_logic.BuildRows(&failures)) AddRow(row);
  for (const CKxCtrlMessage& message : failures) KxShowMessage(this, message);
  ShowPlugin(0);
}

void CKxAgentPluginPage::AddRow(const CKxPluginRow& row) {
  QTreeWidgetItem* pItem = new QTreeWidgetItem;
  pItem->setText(0, KxToQt(row.strName));
  pItem->setText(1, KxToQt(row.strTypeName));
  pItem->setText(2, KxToQt(row.strVersion));
  pItem->setText(3, KxToQt(row.strCommandCount));
  pItem->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
  for (int i = 0; i < 4; ++i) pItem->setToolTip(i, KxToQt(row.strTooltip));
  pItem->setData(0, Qt::UserRole, row.nPluginID);
  m_pPlugins->addTopLevelItem(pItem);
}

void CKxAgentPluginPage::ShowPlugin(int nPluginID) {
  std::vector<std::string> commands;
  std::string strInformation;
  if (!m_logic.Show(nPluginID, &commands, &strInformation)) return;
  m_pCommands->clear();
  m_pCommands->addItems(KxToQtList(commands));
  m_pInformation->setPlainText(KxToQt(strInformation).replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

void CKxAgentPluginPage::AfterChange(const CKxCtrlMessage& saveMessage) {
  if (m_pAclPage != nullptr) m_pAclPage->RebuildCommandList();
  if (!saveMessage.IsEmpty()) KxShowMessage(this, saveMessage);
}

void CKxAgentPluginPage::OnInstall() {
  CKxCtrlMessage message;
  if (!m_logic.CanInstall(&message)) {
    KxShowMessage(this, message);
    return;
  }
  QString strFilter = KxToQt(m_logic.GetFileFilterName()) + QStringLiteral(" (") +
                      KxToQtList(m_logic.GetFilePatterns()).join(QLatin1Char(' ')) + QLatin1Char(')');
  QString strPath = m_fnChooseFile(this, {strFilter});
  if (strPath.isEmpty()) return;
  CKxPluginRow row;
  bool bSaveFailed = false;
  if (!m_logic.Install(KxToCp932(strPath), &row, &message, &bSaveFailed)) {
    KxShowMessage(this, message);
    return;
  }
  if (row.nPluginID >= 0) AddRow(row);
  AfterChange(bSaveFailed ? message : CKxCtrlMessage());
}

void CKxAgentPluginPage::OnUninstall() {
  QTreeWidgetItem* pItem = m_pPlugins->currentItem();
  if (pItem == nullptr || !pItem->isSelected()) return;
  int nPluginID = pItem->data(0, Qt::UserRole).toInt();
  CKxPluginRow row;
  row.strName = KxToCp932(pItem->text(0));
  row.strTypeName = KxToCp932(pItem->text(1));
  CKxCtrlMessage message;
  std::string strQuestion;
  if (!m_logic.CheckUninstall(nPluginID, row, &message, &strQuestion)) {
    if (!message.IsEmpty()) KxShowMessage(this, message);
    return;
  }
  if (!KxAsk(this, strQuestion, CKxAgentPluginPageLogic::GetUninstallTitle(), QMessageBox::Yes | QMessageBox::No)) {
    return;
  }
  bool bSaved = m_logic.Uninstall(nPluginID, &message);
  delete pItem;
  AfterChange(bSaved ? CKxCtrlMessage() : message);
}

void CKxAgentPluginPage::OnScriptOption(bool bChecked) {
  if (m_bSettingOption) return;
  if (bChecked) {
    m_logic.TurnScriptsOn();
    return;
  }
  if (!KxAsk(this, CKxAgentPluginPageLogic::GetScriptOffQuestion(), CKxAgentPluginPageLogic::GetScriptOffTitle(),
             QMessageBox::Yes | QMessageBox::No)) {
    m_bSettingOption = true;
    m_pScripts->setChecked(true);
    m_bSettingOption = false;
    return;
  }
  CKxCtrlMessage message;
  std::vector<int> removed = m_logic.TurnScriptsOff(&message);
  for (int i = m_pPlugins->topLevelItemCount() - 1; i >= 0; --i) {
    QTreeWidgetItem* pItem = m_pPlugins->topLevelItem(i);
    if (std::find(removed.begin(), removed.end(), pItem->data(0, Qt::UserRole).toInt()) != removed.end()) delete pItem;
  }
  AfterChange(message);
}

bool CKxAgentPluginPage::OnOK() {
  m_logic.Store(m_pScripts->isChecked());
  return true;
}
