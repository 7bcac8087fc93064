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

QString CKxAgentPropSheet::GetCaption() { return QStringLiteral("Kestrix Agent for Windows 設定ツール"); }

CKxAgentPropSheet::CKxAgentPropSheet(CKxAgentConfigManager* pManager, CKxAgentCtrlPluginLoader* pLoader,
                                     QWidget* pParent)
    : QDialog(pParent), m_pManager(pManager) {
  setWindowTitle(GetCaption());
  QVBoxLayout* pLayout = new QVBoxLayout(this);
  m_pTabs = new QTabWidget;
  m_pConfigPage = new CKxAgentConfigPage(pManager);
  m_pAclPage = new CKxAgentAclPage(pManager, pLoader);
  m_pPluginPage = new CKxAgentPluginPage(pManager, pLoader, m_pAclPage);
  m_pLogPage = new CKxAgentLogPage(pManager);
  m_pVersionPage = new CKxAgentVersionInfoPage(pManager);
  m_pTabs->addTab(m_pConfigPage, QStringLiteral("設定"));
  m_pTabs->addTab(m_pPluginPage, QStringLiteral("プラグイン"));
  m_pTabs->addTab(m_pAclPage, QStringLiteral("アクセス設定"));
  m_pTabs->addTab(m_pLogPage, QStringLiteral("ログ設定"));
  m_pTabs->addTab(m_pVersionPage, QStringLiteral("バージョン情報"));
  pLayout->addWidget(m_pTabs);

  KxAddOkCancelButtons(this, pLayout);
  connect(m_pTabs, &QTabWidget::currentChanged, this, [this](int nIndex) {
    if (CKxAgentPropertyPage* pPage = Page(nIndex)) pPage->Activate();
  });
  resize(640, 640);
}

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
  if (m_pManager->IsModified()) {
    CKxCtrlMessage message;
    if (!KxSaveSystemConfig(m_pManager, &message)) {
      KxShowMessage(this, message);
      return;
    }
  }
  QDialog::accept();
}

void CKxAgentPropSheet::reject() {
  // The service wait runs inside the settings page; closing under it would
  // destroy the page it returns to.
  if (m_pConfigPage->IsBusy()) return;
  QDialog::reject();
}
