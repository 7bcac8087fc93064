// What every page of the tool shares: the page base with its first-show and
// OK steps, and the message box.
#pragma once

#include <QBoxLayout>
#include <QDialog>
#include <QMessageBox>
#include <QWidget>

#include "KxAgentCtrl/CtrlText.h"

class CKxAgentConfigManager;
class CKxAgentCtrlPluginLoader;
class QLineEdit;

// Shows a message box with Japanese button texts; returns the button pressed.
QMessageBox::StandardButton KxShowMessage(QWidget* pParent, const CKxCtrlMessage& message,
                                          QMessageBox::StandardButtons buttons = QMessageBox::Ok);
// Adds the OK and "キャンセル" buttons to the bottom of pDialog's layout,
// connected to its accept and reject.
void KxAddOkCancelButtons(QDialog* pDialog, QBoxLayout* pLayout);

// Asks a question (question icon); TRUE when the user chose OK or Yes.
bool KxAsk(QWidget* pParent, const QString& strText, const QString& strTitle, QMessageBox::StandardButtons buttons);

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
