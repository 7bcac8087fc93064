#include "KxAgentCtrl/CtrlWidgets.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

QMessageBox::StandardButton KxShowMessage(QWidget* pParent, const CKxCtrlMessage& message,
                                          QMessageBox::StandardButtons buttons) {
  QMessageBox::Icon nIcon = QMessageBox::Critical;
  switch (message.nIcon) {
    case KX_ICON_EXCLAMATION: nIcon = QMessageBox::Warning; break;
    case KX_ICON_QUESTION: nIcon = QMessageBox::Question; break;
    case KX_ICON_INFORMATION: nIcon = QMessageBox::Information; break;
    default: break;
  }
  // Message texts use CR LF line ends; the box breaks lines at LF.
  QString strText = message.strText;
  strText.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  QMessageBox box(nIcon, message.strTitle, strText, buttons, pParent);
  if (QAbstractButton* pButton = box.button(QMessageBox::Ok)) pButton->setText(QStringLiteral("OK"));
  if (QAbstractButton* pButton = box.button(QMessageBox::Cancel)) pButton->setText(QStringLiteral("キャンセル"));
  if (QAbstractButton* pButton = box.button(QMessageBox::Yes)) pButton->setText(QStringLiteral("はい(&Y)"));
  if (QAbstractButton* pButton = box.button(QMessageBox::No)) pButton->setText(QStringLiteral("いいえ(&N)"));
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool KxAsk(QWidget* pParent, const QString& strText, const QString& strTitle, QMessageBox::StandardButtons buttons) {
  CKxCtrlMessage message;
  message.Set(strText, strTitle, KX_ICON_QUESTION);
  QMessageBox::StandardButton nAnswer = KxShowMessage(pParent, message, buttons);
  return nAnswer == QMessageBox::Ok || nAnswer == QMessageBox::Yes;
}

void KxAddOkCancelButtons(QDialog* pDialog, QBoxLayout* pLayout) {
  QDialogButtonBox* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  pButtons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  pButtons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
  pLayout->addWidget(pButtons);
  QObject::connect(pButtons, &QDialogButtonBox::accepted, pDialog, &QDialog::accept);
  QObject::connect(pButtons, &QDialogButtonBox::rejected, pDialog, &QDialog::reject);
}

bool CKxAgentPropertyPage::RefuseField(const CKxCtrlMessage& message, QLineEdit* pField) {
  KxShowMessage(this, message);
  pField->setFocus();
  pField->selectAll();
  return false;
}
