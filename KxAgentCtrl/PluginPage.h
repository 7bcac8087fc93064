// The plug-in page: the installed plug-ins, their commands and information,
// install and uninstall, and the script option.
#pragma once

#include <QString>
#include <functional>

#include "KxAgentCtrl/CtrlWidgets.h"
#include "KxAgentCtrl/PluginPageLogic.h"

class CKxAgentAclPage;
class QCheckBox;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class CKxAgentPluginPage : public CKxAgentPropertyPage {
  Q_OBJECT

 public:
  // Chooses the file to install (name filters); "" when the user cancels.
  typedef std::function<QString(QWidget*, const QStringList&)> FileChooser;

  CKxAgentPluginPage(CKxCtrlConfigFile* pFile, CKxAgentCtrlPluginReader* pReader, CKxAgentAclPage* pAclPage,
                     QWidget* pParent = nullptr);

  bool OnOK() override;
  void SetFileChooser(FileChooser fnChooser) { m_fnChooseFile = std::move(fnChooser); }

  QTreeWidget* m_pPlugins;
  QListWidget* m_pCommands;
  QPlainTextEdit* m_pInformation;
  QPushButton* m_pInstall;
  QPushButton* m_pUninstall;
  QCheckBox* m_pScripts;

 protected:
  void OnFirstShow() override;

 private:
  void AddRow(const CKxPluginRow& row);
  void ShowPlugin(int nPluginID);
  void OnInstall();
  void OnUninstall();
  void OnScriptOption(bool bChecked);
  void AfterChange(const CKxCtrlMessage& saveMessage);

  CKxAgentPluginPageLogic m_logic;
  CKxAgentAclPage* m_pAclPage;
  FileChooser m_fnChooseFile;
  bool m_bSettingOption = false;
};
