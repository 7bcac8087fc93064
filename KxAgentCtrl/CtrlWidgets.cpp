#include "KxAgentCtrl/CtrlWidgets.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

#include "platform/text_encoding.h"

QString KxToQt(const char* lpCp932) {
  if (lpCp932 == nullptr) return QString();
  return QString::fromStdString(kx::Cp932ToUtf8(lpCp932));
}

QString KxToQt(const std::string& strCp932) { return QString::fromStdString(kx::Cp932ToUtf8(strCp932)); }

std::string KxToCp932(const QString& str) { return kx::Utf8ToCp932(str.toStdString()); }

QString KxQtText(KxTextId nId) { return QString::fromUtf8(KxTextUtf8(nId)); }

QStringList KxToQtList(const std::vector<std::string>& items) {
  QStringList list;
  for (const std::string& strItem : items) list << KxToQt(strItem);
  return list;
}

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
  QString strText = KxToQt(message.strText);
  strText.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  QMessageBox box(nIcon, KxToQt(message.strTitle), strText, buttons, pParent);
  if (QAbstractButton* pButton = box.button(QMessageBox::Ok)) pButton->setText(KxQtText(KX_TEXT_OK));
  if (QAbstractButton* pButton = box.button(QMessageBox::Cancel)) pButton->setText(KxQtText(KX_TEXT_CANCEL));
  if (QAbstractButton* pButton = box.button(QMessageBox::Yes)) pButton->setText(KxQtText(KX_TEXT_YES));
  if (QAbstractButton* pButton = box.button(QMessageBox::No)) pButton->setText(KxQtText(KX_TEXT_NO));
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool KxAsk(QWidget* pParent, const std::string& strText, const std::string& strTitle,
           QMessageBox::StandardButtons buttons) {
  CKxCtrlMessage message;
  message.Set(strText, strTitle, KX_ICON_QUESTION);
  QMessageBox::StandardButton nAnswer = KxShowMessage(pParent, message, buttons);
  return nAnswer == QMessageBox::Ok || nAnswer == QMessageBox::Yes;
}

bool KxAskYesNo(QWidget* pParent, const CKxCtrlMessage& question) {
  return KxAsk(pParent, question.strText, question.strTitle, QMessageBox::Yes | QMessageBox::No);
}

void KxAddOkCancelButtons(QDialog* pDialog, QBoxLayout* pLayout) {
  QDialogButtonBox* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  pButtons->button(QDialogButtonBox::Ok)->setText(KxQtText(KX_TEXT_OK));
  pButtons->button(QDialogButtonBox::Cancel)->setText(KxQtText(KX_TEXT_CANCEL));
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
