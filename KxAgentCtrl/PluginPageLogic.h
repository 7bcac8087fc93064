// The plug-in page's rules: the rows of the installed plug-ins, showing one,
// installing a file into the plug-in directory, uninstalling, and the script
// option. Install, uninstall and turning scripts off write the configuration
// file at once.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

#include "KxAgentCtrl/CtrlText.h"

class CKxAgentConfigManager;
class CKxAgentCtrlPluginLoader;
class CKxAgentPluginEntry;
struct CKxAgentPluginSummary;

struct CKxPluginRow {
  int nPluginID = 0;
  QString strName;
  QString strTypeName;
  QString strVersion;
  QString strCommandCount;
  QString strTooltip;
};

class CKxAgentPluginPageLogic {
 public:
  // The built-in entry and twenty installed plug-ins.
  enum { KX_MAX_PLUGIN_ENTRIES = 21 };

  CKxAgentPluginPageLogic(CKxAgentConfigManager* pManager, CKxAgentCtrlPluginLoader* pLoader)
      : m_pManager(pManager), m_pLoader(pLoader) {}

  // A row for every entry that loads, in list order. Script entries are left
  // out while there are no script hosts; every other entry that does not load
  // adds its message to *pFailures.
  std::vector<CKxPluginRow> BuildRows(QList<CKxCtrlMessage>* pFailures);
  // The command definitions and the information text of plug-in nPluginID;
  // FALSE when it does not load.
  bool Show(int nPluginID, QStringList* pCommands, QString* pstrInformation);

  // FALSE with the message when no further plug-in may be installed.
  bool CanInstall(CKxCtrlMessage* pMessage) const;
  // The file dialog's name filters.
  QStringList GetFileFilters() const;
  // Installs the chosen file: checks it, registers it, copies it into the
  // plug-in directory and saves. The new row in *pRow. FALSE with the message
  // when it was refused or failed; the model is then as before.
  // *pbSaveFailed tells a completed install whose save failed (message set).
  bool Install(const QString& strPath, CKxPluginRow* pRow, CKxCtrlMessage* pMessage, bool* pbSaveFailed);

  // FALSE with the message when plug-in nPluginID may not be uninstalled;
  // otherwise the question to ask first in *pstrQuestion.
  bool CheckUninstall(int nPluginID, const CKxPluginRow& row, CKxCtrlMessage* pMessage, QString* pstrQuestion);
  static QString GetUninstallTitle();
  // Deletes the plug-in's file, removes its entry (and its command IDs from
  // every account) and saves. FALSE with the message when the save failed.
  bool Uninstall(int nPluginID, CKxCtrlMessage* pMessage);

  // The question before script plug-ins are turned off, and its title.
  static QString GetScriptOffQuestion();
  static QString GetScriptOffTitle();
  // Creates the script hosts.
  void TurnScriptsOn();
  // Uninstalls every script plug-in, destroys the hosts and saves. Returns the
  // removed IDs; *pMessage is set when the save failed.
  QList<int> TurnScriptsOff(CKxCtrlMessage* pMessage);
  // At OK: the option box's state.
  void Store(bool bScriptPlugins);

  // Whether two file names name the same file in the plug-in directory: equal,
  // or equal but for letter case where that directory's file system ignores it.
  bool IsSameFileName(const QString& strFirst, const QString& strSecond) const;

 private:
  QString GetPluginDir() const;
  // Loads an entry's plug-in from the plug-in directory; FALSE for a library
  // name that is no plain file name.
  bool LoadEntry(const CKxAgentPluginEntry* pEntry, CKxAgentPluginSummary* pSummary);
  bool MakeRow(int nPluginID, CKxPluginRow* pRow);
  void RemovePluginAndFile(int nPluginID);

  CKxAgentConfigManager* m_pManager;
  CKxAgentCtrlPluginLoader* m_pLoader;
};
