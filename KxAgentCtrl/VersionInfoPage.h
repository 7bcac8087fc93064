// The version page: product name, version and the product web page.
#pragma once

#include <QString>
#include <functional>

#include "KxAgentCtrl/CtrlWidgets.h"

class QPushButton;

class CKxAgentVersionInfoPage : public CKxAgentPropertyPage {
  Q_OBJECT

 public:
  // Opens an address in the desktop's browser; FALSE when it could not.
  typedef std::function<bool(const QString&)> UrlOpener;

  explicit CKxAgentVersionInfoPage(CKxAgentConfigManager* pManager, QWidget* pParent = nullptr);

  static QString GetVersionText();
  static QString GetProductUrl();
  // The message when the browser could not be started.
  static CKxCtrlMessage GetBrowserErrorMessage(long lResult);
  void SetUrlOpener(UrlOpener fnOpener) { m_fnOpenUrl = std::move(fnOpener); }

  QPushButton* m_pWebPage;

 private:
  void OnWebPage();

  UrlOpener m_fnOpenUrl;
};
