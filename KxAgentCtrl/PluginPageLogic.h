// The plug-in page's rules: the rows of the installed plug-ins, showing one,
// installing a file into the plug-in directory, uninstalling, and the script
// option. Install, uninstall and turning scripts off write the configuration
// file at once.
#pragma once

#include <string>
#include <vector>

#include "KxAgentCtrl/CtrlText.h"

class CKxAgentConfigManager;
class CKxAgentCtrlPluginReader;
class CKxAgentPluginEntry;
struct CKxAgentPluginSummary;

struct CKxPluginRow {
  int nPluginID = 0;
  std::string strName;
  std::string strTypeName;
  std::string strVersion;
  std::string strCommandCount;
  std::string strTooltip;
};

class CKxAgentPluginPageLogic {
 public:
  // The built-in entry and twenty installed plug-ins.
  enum { KX_MAX_PLUGIN_ENTRIES = 21 };
  // The longest row tooltip, in bytes.
  enum { KX_TOOLTIP_LENGTH = 80 };

  CKxAgentPluginPageLogic(CKxCtrlConfigFile* pFile, CKxAgentCtrlPluginReader* pReader);

  // A row for every entry that loads, in list order. Script entries are left
  // out while there are no script hosts; every other entry that does not load
  // adds its message to *pFailures.
  std::vector<CKxPluginRow> BuildRows(std::vector<CKxCtrlMessage>* pFailures);
  // The command definitions and the information text of plug-in nPluginID;
  // FALSE when it does not load.
  bool Show(int nPluginID, std::vector<std::string>* pCommands, std::string* pstrInformation);

  // FALSE with the message when no further plug-in may be installed.
  bool CanInstall(CKxCtrlMessage* pMessage) const;
  // The file dialog's filter: its name and the file patterns ("*.dll", ...).
  std::string GetFileFilterName() const;
  std::vector<std::string> GetFilePatterns() const;
  // Installs the chosen file: checks it, registers it, copies it into the
  // plug-in directory and saves. The new row in *pRow (ID -1 when the copy
  // does not load). FALSE with the message when it was refused or failed; the
  // model is then as before. *pbSaveFailed tells a completed install whose
  // save failed or was declined (message set when there is one).
  bool Install(const std::string& strPath, CKxPluginRow* pRow, CKxCtrlMessage* pMessage, bool* pbSaveFailed);

  // FALSE with the message when plug-in nPluginID may not be uninstalled;
  // otherwise the question to ask first in *pstrQuestion.
  bool CheckUninstall(int nPluginID, const CKxPluginRow& row, CKxCtrlMessage* pMessage, std::string* pstrQuestion);
  static std::string GetUninstallTitle();
  // Deletes the plug-in's file, removes its entry (and its command IDs from
  // every account) and saves. FALSE with the message when the save failed.
  bool Uninstall(int nPluginID, CKxCtrlMessage* pMessage);

  // The question before script plug-ins are turned off, and its title.
  static std::string GetScriptOffQuestion();
  static std::string GetScriptOffTitle();
  // Creates the script hosts.
  void TurnScriptsOn();
  // Uninstalls every script plug-in, destroys the hosts and saves. Returns the
  // removed IDs; *pMessage is set when the save failed.
  std::vector<int> TurnScriptsOff(CKxCtrlMessage* pMessage);
  // At OK: the option box's state.
  void Store(bool bScriptPlugins);

  // Whether two file names name the same file in the plug-in directory: equal,
  // or equal but for letter case where that directory's file system ignores it.
  bool IsSameFileName(const std::string& strFirst, const std::string& strSecond) const;
  // The file name of a path (after its last separator).
  static std::string GetFileName(const std::string& strPath);

 private:
  // Loads an entry's plug-in from the plug-in directory; FALSE for a library
  // name that is no plain file name.
  bool LoadEntry(const CKxAgentPluginEntry* pEntry, CKxAgentPluginSummary* pSummary);
  bool MakeRow(int nPluginID, CKxPluginRow* pRow);
  void RemovePluginAndFile(int nPluginID);

  CKxCtrlConfigFile* m_pFile;
  CKxAgentConfigManager* m_pManager;
  CKxAgentCtrlPluginReader* m_pReader;
};
