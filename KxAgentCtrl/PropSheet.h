// The property sheet: five pages, OK and Cancel. At OK every page that was
// shown stores its values, and a modified model is saved; a page that refuses
// its values or a save that fails keeps the sheet open.
#pragma once

#include <QDialog>

class CKxAgentAclPage;
class CKxAgentConfigManager;
class CKxAgentConfigPage;
class CKxAgentCtrlPluginLoader;
class CKxAgentLogPage;
class CKxAgentPluginPage;
class CKxAgentPropertyPage;
class CKxAgentVersionInfoPage;
class QTabWidget;

class CKxAgentPropSheet : public QDialog {
  Q_OBJECT

 public:
  // The loader's script hosts follow the manager's script option at start.
  CKxAgentPropSheet(CKxAgentConfigManager* pManager, CKxAgentCtrlPluginLoader* pLoader, QWidget* pParent = nullptr);

  static QString GetCaption();

  void accept() override;
  void reject() override;

  QTabWidget* m_pTabs;
  CKxAgentConfigPage* m_pConfigPage;
  CKxAgentPluginPage* m_pPluginPage;
  CKxAgentAclPage* m_pAclPage;
  CKxAgentLogPage* m_pLogPage;
  CKxAgentVersionInfoPage* m_pVersionPage;

 protected:
  void showEvent(QShowEvent* pEvent) override;

 private:
  CKxAgentPropertyPage* Page(int nIndex) const;

  CKxAgentConfigManager* m_pManager;
};
