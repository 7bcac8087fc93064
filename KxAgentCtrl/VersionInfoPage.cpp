#include "KxAgentCtrl/VersionInfoPage.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "KxAgentCtrl/VersionInfo.h"

namespace {

// What the browser start reports when the desktop has no handler for the
// address (the shell's "no association" result).
const long kNoAssociation = 31;

}  // namespace

QString CKxAgentVersionInfoPage::GetVersionText() { return KxToQt(KxFormatText(KX_TEXT_VERSION, kKxCtrlVersion)); }

QString CKxAgentVersionInfoPage::GetProductUrl() { return KxQtText(KX_TEXT_PRODUCT_URL); }

CKxCtrlMessage CKxAgentVersionInfoPage::GetBrowserErrorMessage(long lResult) {
  CKxCtrlMessage message;
  message.Set(KxFormatText(KX_TEXT_BROWSER_FAILED, lResult), KxText(KX_TEXT_BROWSER_FAILED_TITLE), KX_ICON_ERROR);
  return message;
}

CKxAgentVersionInfoPage::CKxAgentVersionInfoPage(CKxAgentConfigManager* pManager, QWidget* pParent)
    : CKxAgentPropertyPage(pManager, pParent) {
  m_fnOpenUrl = [](const QString& strUrl) { return QDesktopServices::openUrl(QUrl(strUrl)); };
  QVBoxLayout* pLayout = new QVBoxLayout(this);
  QGridLayout* pGrid = new QGridLayout;
  QLabel* pIcon = new QLabel;
  pIcon->setPixmap(QApplication::windowIcon().isNull()
                       ? style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48, 48)
                       : QApplication::windowIcon().pixmap(48, 48));
  pGrid->addWidget(pIcon, 0, 0, 2, 1, Qt::AlignTop);
  QLabel* pName = new QLabel(KxQtText(KX_TEXT_PRODUCT_NAME));
  QFont font = pName->font();
  font.setBold(true);
  pName->setFont(font);
  pGrid->addWidget(pName, 0, 1);
  pGrid->addWidget(new QLabel(GetVersionText()), 1, 1);
  pGrid->setColumnStretch(1, 1);
  pGrid->setHorizontalSpacing(16);
  pLayout->addLayout(pGrid);
  pLayout->addSpacing(24);
  pLayout->addWidget(new QLabel(KxQtText(KX_TEXT_PRODUCT_NOTE)));
  m_pWebPage = new QPushButton(GetProductUrl());
  QHBoxLayout* pButtonRow = new QHBoxLayout;
  pButtonRow->addWidget(m_pWebPage);
  pButtonRow->addStretch();
  pLayout->addLayout(pButtonRow);
  pLayout->addStretch();
  connect(m_pWebPage, &QPushButton::clicked, this, &CKxAgentVersionInfoPage::OnWebPage);
}

void CKxAgentVersionInfoPage::OnWebPage() {
  if (!m_fnOpenUrl(GetProductUrl())) KxShowMessage(this, GetBrowserErrorMessage(kNoAssociation));
}
