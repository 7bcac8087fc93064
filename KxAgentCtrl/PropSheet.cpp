#include "KxAgentCtrl/PropSheet.h"

#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/AclPage.h"
#include "KxAgentCtrl/ConfigPage.h"
#include "KxAgentCtrl/LogPage.h"
#include "KxAgentCtrl/PluginPage.h"
#include "KxAgentCtrl/VersionInfoPage.h"

QString CKxAgentPropSheet::GetCaption() { return KxQtText(KX_TEXT_SHEET_CAPTION); }

CKxAgentPropSheet::CKxAgentPropSheet(CKxAgentConfigManager* pManager, CKxAgentCtrlPluginReader* pReader,
                                     CKxCtrlConfigFile* pFile, QWidget* pParent)
    : QDialog(pParent), m_pManager(pManager), m_pFile(pFile) {
  if (m_pFile == nullptr) {
    m_pOwnFile = std::make_unique<CKxCtrlConfigFile>(pManager);
    m_pFile = m_pOwnFile.get();
  }
  m_pFile->SetAsker([this](const CKxCtrlMessage& question) { return KxAskYesNo(this, question); });
  setWindowTitle(GetCaption());
  QVBoxLayout* pLayout = new QVBoxLayout(this);
  m_pTabs = new QTabWidget;
  m_pConfigPage = new CKxAgentConfigPage(m_pFile);
  m_pAclPage = new CKxAgentAclPage(pManager, pReader);
  m_pPluginPage = new CKxAgentPluginPage(m_pFile, pReader, m_pAclPage);
  m_pLogPage = new CKxAgentLogPage(pManager);
  m_pVersionPage = new CKxAgentVersionInfoPage(pManager);
  m_pTabs->addTab(m_pConfigPage, KxQtText(KX_TEXT_PAGE_CONFIG));
  m_pTabs->addTab(m_pPluginPage, KxQtText(KX_TEXT_PAGE_PLUGIN));
  m_pTabs->addTab(m_pAclPage, KxQtText(KX_TEXT_PAGE_ACL));
  m_pTabs->addTab(m_pLogPage, KxQtText(KX_TEXT_PAGE_LOG));
  m_pTabs->addTab(m_pVersionPage, KxQtText(KX_TEXT_PAGE_VERSION));
  pLayout->addWidget(m_pTabs);

  KxAddOkCancelButtons(this, pLayout);
  connect(m_pTabs, &QTabWidget::currentChanged, this, [this](int nIndex) {
    if (CKxAgentPropertyPage* pPage = Page(nIndex)) pPage->Activate();
  });
  resize(640, 640);
}

CKxAgentPropSheet::~CKxAgentPropSheet() { m_pFile->SetAsker(nullptr); }

CKxAgentPropertyPage* CKxAgentPropSheet::Page(int nIndex) const {
  return qobject_cast<CKxAgentPropertyPage*>(m_pTabs->widget(nIndex));
}

void CKxAgentPropSheet::showEvent(QShowEvent* pEvent) {
  QDialog::showEvent(pEvent);
  if (CKxAgentPropertyPage* pPage = Page(m_pTabs->currentIndex())) pPage->Activate();
}

void CKxAgentPropSheet::accept() {
  if (m_pConfigPage->IsBusy()) return;
  for (int i = 0; i < m_pTabs->count(); ++i) {
    CKxAgentPropertyPage* pPage = Page(i);
    if (!pPage->IsShown()) continue;
    if (!pPage->OnOK()) {
      m_pTabs->setCurrentIndex(i);
      return;
    }
  }
  CKxCtrlMessage message;
  if (!m_pFile->SaveAtOK(&message)) {
    if (!message.IsEmpty()) KxShowMessage(this, message);
    return;
  }
  QDialog::accept();
}

void CKxAgentPropSheet::reject() {
  // The service wait runs inside the settings page; closing under it would
  // destroy the page it returns to.
  if (m_pConfigPage->IsBusy()) return;
  QDialog::reject();
}
