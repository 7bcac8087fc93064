// The configuration of the agent: one manager object that owns every setting,
// the logon accounts with their command permissions, the installed plug-ins and
// the command catalogue, and reads and writes them as XML files.
//
// Strings crossing this interface are narrow code page 932 text, zero-terminated.
// Paths use the system's separator (kx::kPathSeparator, written '/' below). Lists are handed out as read-only pointers to
// ordered std::vector sequences; a record pointer stays valid until that record
// is removed or the manager is destroyed. Nothing here throws.
#pragma once

#include <string>
#include <vector>

#include "platform/kx_types.h"

// Type codes shared by plug-in entries and catalogue records.
enum {
  KX_ENTRY_TYPE_BUILTIN = 1,
  KX_ENTRY_TYPE_VBSCRIPT = 2,
  KX_ENTRY_TYPE_JSCRIPT = 3,
  KX_ENTRY_TYPE_DLL = 4,
};

// Each installed plug-in owns the command ID block [plug-in ID, plug-in ID + 9999].
const int KX_PLUGIN_ID_STEP = 10000;

// Returns the display name of a type code: "Built-in", "VBScript", "JScript",
// "Win32 DLL", or "Unknown?" for any other code. The text is static.
const char* KxAgentGetTypeName(int nType);

// The agent's log configuration. Setters store unconditionally; the four file
// paths are derived from the log directory and never set on their own.
class CKxAgentLogSetting {
 public:
  // Log directory = current directory + "/log", everything switched off,
  // maximum file size 10 MiB, no file-size limit.
  CKxAgentLogSetting();

  const char* GetLogFileDir() const { return m_strLogFileDir.c_str(); }
  // Stores lpDir unchanged (no trailing '/') and derives the four file paths
  // lpDir + "/info.log", "/warning.log", "/error.log", "/debug.log".
  void SetLogFileDir(const char* lpDir);

  const char* GetInfoLogFilePath() const { return m_strInfoLogFilePath.c_str(); }
  const char* GetWarningLogFilePath() const { return m_strWarningLogFilePath.c_str(); }
  const char* GetErrorLogFilePath() const { return m_strErrorLogFilePath.c_str(); }
  const char* GetDebugLogFilePath() const { return m_strDebugLogFilePath.c_str(); }

  BOOL IsLogFileLimit() const { return m_bLogFileLimit; }
  void SetLogFileLimit(BOOL bLimit) { m_bLogFileLimit = bLimit; }
  // The size is a signed 32-bit quantity; larger values are clamped to its range.
  long GetLogFileMaxSize() const { return m_lLogFileMaxSize; }
  void SetLogFileMaxSize(long lSize);
  BOOL IsLogEnabled() const { return m_bLogEnabled; }
  void SetLogEnabled(BOOL bEnabled) { m_bLogEnabled = bEnabled; }
  BOOL IsInfoLogEnabled() const { return m_bInfoLogEnabled; }
  void SetInfoLogEnabled(BOOL bEnabled) { m_bInfoLogEnabled = bEnabled; }
  BOOL IsWarningLogEnabled() const { return m_bWarningLogEnabled; }
  void SetWarningLogEnabled(BOOL bEnabled) { m_bWarningLogEnabled = bEnabled; }
  BOOL IsErrorLogEnabled() const { return m_bErrorLogEnabled; }
  void SetErrorLogEnabled(BOOL bEnabled) { m_bErrorLogEnabled = bEnabled; }
  BOOL IsDebugLogEnabled() const { return m_bDebugLogEnabled; }
  void SetDebugLogEnabled(BOOL bEnabled) { m_bDebugLogEnabled = bEnabled; }

 private:
  std::string m_strLogFileDir;
  std::string m_strInfoLogFilePath;
  std::string m_strWarningLogFilePath;
  std::string m_strErrorLogFilePath;
  std::string m_strDebugLogFilePath;
  BOOL m_bLogFileLimit;
  long m_lLogFileMaxSize;
  BOOL m_bLogEnabled;
  BOOL m_bInfoLogEnabled;
  BOOL m_bWarningLogEnabled;
  BOOL m_bErrorLogEnabled;
  BOOL m_bDebugLogEnabled;
};

// A logon account that may use the console, with the command IDs it may run.
class CKxAgentLogonAccount {
 public:
  // lpDomain is kept only when bDomainAccount is TRUE; otherwise the domain is "".
  // Null strings read as "".
  CKxAgentLogonAccount(int nID, const char* lpAccountName, const char* lpDomain,
                       BOOL bLogonAllowed, BOOL bDomainAccount);

  int GetAccountID() const { return m_nAccountID; }
  const char* GetAccountName() const { return m_strAccountName.c_str(); }
  // "" whenever the account is not a domain account.
  const char* GetDomainName() const { return m_strDomainName.c_str(); }
  BOOL IsLogonAllowed() const { return m_bLogonAllowed; }
  void SetLogonAllowed(BOOL bAllowed) { m_bLogonAllowed = bAllowed; }
  BOOL IsDomainAccount() const { return m_bDomainAccount; }

  // The allowed command IDs in the order they were added; never holds duplicates
  // when built through AddAllowCommandID.
  const std::vector<int>* GetAllowCommandIDList() const { return &m_vecAllowCommandIDs; }
  // TRUE when nID is in the allowed list (linear scan).
  BOOL IsAllowedCommand(int nID) const;
  // Appends nID unless it is already present.
  void AddAllowCommandID(int nID);
  // Removes nID; FALSE when it was not in the list.
  BOOL RemoveAllowCommandID(int nID);

 private:
  friend class CKxAgentConfigManager;

  int m_nAccountID;
  std::string m_strAccountName;
  std::string m_strDomainName;
  BOOL m_bLogonAllowed;
  BOOL m_bDomainAccount;
  std::vector<int> m_vecAllowCommandIDs;
};

// An installed plug-in: its ID (start of its command ID block), its type code
// and its file name in the plug-in directory ("" for the built-in entry).
class CKxAgentPluginEntry {
 public:
  CKxAgentPluginEntry(int nID, const char* lpLibrary, int nType);

  int GetPluginID() const { return m_nPluginID; }
  int GetType() const { return m_nType; }
  const char* GetTypeName() const { return KxAgentGetTypeName(m_nType); }
  const char* GetLibrary() const { return m_strLibrary.c_str(); }

 private:
  int m_nPluginID;
  int m_nType;
  std::string m_strLibrary;
};

// One record of the command catalogue read from command.xml.
class CKxAgentCommand {
 public:
  CKxAgentCommand(int nType, int nCommandID, const char* lpDefinition, const char* lpLibrary,
                  int nPluginCommandID);

  int GetCommandID() const { return m_nCommandID; }
  int GetType() const { return m_nType; }
  const char* GetTypeName() const { return KxAgentGetTypeName(m_nType); }
  // The command-line definition text.
  const char* GetCommandDefinition() const { return m_strDefinition.c_str(); }
  // -1 for commands of the built-in set.
  int GetPluginCommandID() const { return m_nPluginCommandID; }
  const char* GetPluginLibraryName() const { return m_strLibrary.c_str(); }

 private:
  int m_nCommandID;
  int m_nType;
  std::string m_strDefinition;
  int m_nPluginCommandID;
  std::string m_strLibrary;
};

// Owns the whole configuration. One manager per process, used from one thread.
// Call order: Initialize, construct, LoadConfig, use, SaveSystemConfig (when
// IsModified), Terminate. Destroying a manager after Terminate is allowed.
class CKxAgentConfigManager {
 public:
  // Starts the XML library; FALSE when it cannot start. Call once per process
  // before loading or saving.
  static BOOL Initialize();
  // Shuts the XML library down; no load or save may follow.
  static void Terminate();

  // lpBaseDir is the program's directory and ends in '/'. The configuration
  // directory becomes lpBaseDir + "config/", the plug-in directory
  // lpBaseDir + "plugins/". The only plug-in entry is the built-in one (ID 0).
  explicit CKxAgentConfigManager(const char* lpBaseDir);
  ~CKxAgentConfigManager();
  CKxAgentConfigManager(const CKxAgentConfigManager&) = delete;
  CKxAgentConfigManager& operator=(const CKxAgentConfigManager&) = delete;

  // Reads sysconfig.xml (not the command catalogue). Always TRUE: a missing or
  // broken file prints its error to standard output and leaves the model as it was.
  BOOL LoadConfig();
  // Writes the model to sysconfig.xml, replacing the file only once the new one
  // is complete. TRUE and the modified flag cleared on success; FALSE with the
  // previous file untouched when it cannot be written.
  BOOL SaveSystemConfig();
  // TRUE after any change (or any hand-out of a changeable record) since the
  // last load or save.
  BOOL IsModified() const { return m_bModified; }

  // Sets the two file paths to lpDir + "sysconfig.xml" / "command.xml" (lpDir
  // ends in '/'). Does not touch the modified flag.
  void SetConfigDir(const char* lpDir);
  const char* GetSystemConfigPath() const { return m_strSystemConfigPath.c_str(); }
  const char* GetCommandConfigPath() const { return m_strCommandConfigPath.c_str(); }
  // Stores lpDir unchanged. Does not touch the modified flag.
  void SetPluginDir(const char* lpDir);
  const char* GetPluginDir() const { return m_strPluginDir.c_str(); }

  // Scalar settings. A setter stores the value and sets the modified flag only
  // when it differs from the current one (BOOLs compare as raw integers).
  // Unsigned settings are 32-bit quantities.
  unsigned long GetMaxComPort() const { return m_dwMaxComPort; }
  void SetMaxComPort(unsigned long dwValue);
  unsigned long GetComPort() const { return m_dwComPort; }
  void SetComPort(unsigned long dwValue);
  unsigned long GetComSpeed() const { return m_dwComSpeed; }
  void SetComSpeed(unsigned long dwValue);
  unsigned long GetLogonTimeout() const { return m_dwLogonTimeout; }
  void SetLogonTimeout(unsigned long dwValue);
  // The terminal encoding name; compared case-sensitively.
  const char* GetOutputEncoding() const { return m_strOutputEncoding.c_str(); }
  void SetOutputEncoding(const char* lpEncoding);
  BOOL IsEventLogNotification() const { return m_bEventLogNotification; }
  void SetEventLogNotification(BOOL bValue);
  BOOL IsHiddenExecutionImproperCommand() const { return m_bHiddenImproperCommand; }
  void SetHiddenExecutionImproperCommand(BOOL bValue);
  BOOL IsCPUMonitoring() const { return m_bCPUMonitoring; }
  void SetCPUMonitoring(BOOL bValue);
  BOOL IsScriptPluginSupport() const { return m_bScriptPluginSupport; }
  void SetScriptPluginSupport(BOOL bValue);

  // The log setting, changeable through the pointer; sets the modified flag on
  // every call.
  CKxAgentLogSetting* GetLogSetting();

  const std::vector<CKxAgentLogonAccount*>* GetLogonAccountList() const { return &m_vecAccounts; }
  // The first account with that ID, or null. Sets the modified flag when found.
  CKxAgentLogonAccount* GetLogonAccount(int nID);
  // The first account whose name and domain equal the arguments exactly
  // (case-sensitive; a local account has the domain ""), or null. Sets the
  // modified flag when found.
  CKxAgentLogonAccount* GetLogonAccount(const char* lpAccountName, const char* lpDomain);
  // Appends an account with ID 1 + the largest ID present (1 for an empty list).
  // No duplicate check. Sets the modified flag.
  CKxAgentLogonAccount* AddLogonAccount(const char* lpAccountName, const char* lpDomain,
                                        BOOL bLogonAllowed, BOOL bDomainAccount);
  // Removes and frees the first account with that ID; FALSE (flag untouched)
  // when there is none.
  BOOL RemoveLogonAccount(int nID);

  const std::vector<CKxAgentPluginEntry*>* GetPluginList() const { return &m_vecPlugins; }
  // The first entry with that ID, or null. Sets the modified flag when found.
  CKxAgentPluginEntry* GetPluginEntry(int nID);
  // Appends an entry with ID 10000 + the largest ID present. Sets the modified flag.
  CKxAgentPluginEntry* AddPlugin(const char* lpLibrary, int nType);
  // Removes and frees the first entry with that ID and takes its command ID
  // block out of every account's allowed list. FALSE (flag untouched) when there
  // is no such entry. The command catalogue is not touched.
  BOOL RemovePlugin(int nID);

  // The command catalogue; empty unless LoadCommandConfig has run.
  const std::vector<CKxAgentCommand*>* GetCommandList() const { return &m_vecCommands; }

 protected:
  // Reads sysconfig.xml into the model and clears the modified flag. Always TRUE.
  BOOL LoadSystemConfig();
  // Appends the records of command.xml to the command catalogue. Always TRUE;
  // the modified flag is not touched.
  BOOL LoadCommandConfig();

 private:
  // Reads and writes the XML files with access to the model's fields.
  class CXmlIO;

  void MarkModified() { m_bModified = TRUE; }

  BOOL m_bModified;
  std::string m_strSystemConfigPath;
  std::string m_strCommandConfigPath;
  std::string m_strPluginDir;
  std::vector<CKxAgentLogonAccount*> m_vecAccounts;
  std::vector<CKxAgentCommand*> m_vecCommands;
  std::vector<CKxAgentPluginEntry*> m_vecPlugins;
  CKxAgentLogSetting m_logSetting;
  DWORD m_dwMaxComPort;
  DWORD m_dwComPort;
  DWORD m_dwComSpeed;
  std::string m_strOutputEncoding;
  DWORD m_dwLogonTimeout;
  BOOL m_bEventLogNotification;
  BOOL m_bHiddenImproperCommand;
  BOOL m_bCPUMonitoring;
  BOOL m_bScriptPluginSupport;
};
