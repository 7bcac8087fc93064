// What every page of the Qt tool shares: the page base with its first-show and
// OK steps, the message box, and the conversions between the logic's code
// page 932 texts and Qt strings.
#pragma once

#include <QBoxLayout>
#include <QDialog>
#include <QMessageBox>
#include <QWidget>
#include <string>
#include <vector>

#include "KxAgentCtrl/CtrlText.h"

class CKxAgentConfigManager;
class CKxCtrlConfigFile;
class CKxAgentCtrlPluginReader;
class QLineEdit;

// Code page 932 (null reads as "") -> Qt string.
QString KxToQt(const char* lpCp932);
QString KxToQt(const std::string& strCp932);
// Qt string -> code page 932; characters without a mapping become '?'.
std::string KxToCp932(const QString& str);
// A text of the tool's table.
QString KxQtText(KxTextId nId);
QStringList KxToQtList(const std::vector<std::string>& items);

// Shows a message box with Japanese button texts; returns the button pressed.
QMessageBox::StandardButton KxShowMessage(QWidget* pParent, const CKxCtrlMessage& message,
                                          QMessageBox::StandardButtons buttons = QMessageBox::Ok);
// Adds the OK and "キャンセル" buttons to the bottom of pDialog's layout,
// connected to its accept and reject.
void KxAddOkCancelButtons(QDialog* pDialog, QBoxLayout* pLayout);

// Asks a question (question icon); TRUE when the user chose OK or Yes.
bool KxAsk(QWidget* pParent, const std::string& strText, const std::string& strTitle,
           QMessageBox::StandardButtons buttons);
// The yes/no question of the configuration file, asked over pParent.
bool KxAskYesNo(QWidget* pParent, const CKxCtrlMessage& question);

// A page of the property sheet. A page fills itself when it is first shown
// and only a page that has been shown stores anything at OK.
class CKxAgentPropertyPage : public QWidget {
  Q_OBJECT

 public:
  CKxAgentPropertyPage(CKxAgentConfigManager* pManager, QWidget* pParent = nullptr)
      : QWidget(pParent), m_pManager(pManager) {}

  // The sheet calls this whenever the page becomes the current one.
  void Activate() {
    if (!m_bShown) {
      m_bShown = true;
      OnFirstShow();
    }
  }
  bool IsShown() const { return m_bShown; }
  // Moves the control values into the model; FALSE (message shown) keeps the sheet open.
  virtual bool OnOK() { return true; }

 protected:
  virtual void OnFirstShow() {}
  // Shows why a field's value was refused and puts the user back in the field;
  // returns FALSE for OnOK to return.
  bool RefuseField(const CKxCtrlMessage& message, QLineEdit* pField);

  CKxAgentConfigManager* m_pManager;

 private:
  bool m_bShown = false;
};
