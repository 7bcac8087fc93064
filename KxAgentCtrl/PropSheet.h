// The property sheet: five pages, OK and Cancel. At OK every page that was
// shown stores its values, and a modified model is saved; a page that refuses
// its values or a save that fails keeps the sheet open.
#pragma once

#include <QDialog>
#include <memory>

class CKxAgentAclPage;
class CKxAgentConfigManager;
class CKxAgentConfigPage;
class CKxAgentCtrlPluginReader;
class CKxAgentLogPage;
class CKxAgentPluginPage;
class CKxAgentPropertyPage;
class CKxAgentVersionInfoPage;
class CKxCtrlConfigFile;
class QTabWidget;

class CKxAgentPropSheet : public QDialog {
  Q_OBJECT

 public:
  // The reader's script hosts follow the manager's script option at start.
  // Saves go through pFile (the sheet keeps one of its own when it is null).
  CKxAgentPropSheet(CKxAgentConfigManager* pManager, CKxAgentCtrlPluginReader* pReader,
                    CKxCtrlConfigFile* pFile = nullptr, QWidget* pParent = nullptr);
  ~CKxAgentPropSheet() override;

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
  std::unique_ptr<CKxCtrlConfigFile> m_pOwnFile;
  CKxCtrlConfigFile* m_pFile;
};
