// The log page: which logs the agent writes, where, and how large they may grow.
#pragma once

#include <QString>
#include <functional>

#include "KxAgentCtrl/CtrlWidgets.h"
#include "KxAgentCtrl/LogPageLogic.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CKxAgentLogPage : public CKxAgentPropertyPage {
  Q_OBJECT

 public:
  // Chooses a folder (title, start folder); "" when the user cancels.
  typedef std::function<QString(QWidget*, const QString&, const QString&)> FolderChooser;
  // Opens a folder in the desktop's file manager; FALSE when it could not.
  typedef std::function<bool(const QString&)> FolderOpener;

  explicit CKxAgentLogPage(CKxAgentConfigManager* pManager, QWidget* pParent = nullptr);

  bool OnOK() override;
  void SetFolderChooser(FolderChooser fnChooser) { m_fnChooseFolder = std::move(fnChooser); }
  void SetFolderOpener(FolderOpener fnOpener) { m_fnOpenFolder = std::move(fnOpener); }

  QCheckBox* m_pLog;
  QCheckBox* m_pError;
  QCheckBox* m_pWarning;
  QCheckBox* m_pInfo;
  QCheckBox* m_pDebug;
  QLabel* m_pErrorText;
  QLabel* m_pWarningText;
  QLabel* m_pInfoText;
  QLabel* m_pDebugText;
  QLabel* m_pDirectoryLabel;
  QLineEdit* m_pDirectory;
  QPushButton* m_pOpen;
  QPushButton* m_pChange;
  QCheckBox* m_pLimit;
  QLabel* m_pSizeLabel;
  QLineEdit* m_pSize;
  QLabel* m_pSizeUnit;
  QLabel* m_pSizeNote;
  QLabel* m_pWarningNote;

 protected:
  void OnFirstShow() override;

 private:
  CKxLogPageValues GetValues() const;
  void UpdateEnabling();
  void OnSwitch(CKxAgentLogPageLogic::Switch nSwitch, bool bOn);
  void OnChange();
  void OnOpen();

  CKxAgentLogPageLogic m_logic;
  FolderChooser m_fnChooseFolder;
  FolderOpener m_fnOpenFolder;
  bool m_bFilling = false;
};
