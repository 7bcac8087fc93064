// The contract shared by every plug-in and the command engine: the abstract
// plug-in, the named argument list of one command and a plug-in's information
// record. All strings are narrow, zero-terminated, code page 932.
#pragma once

#include "KxAgentPluginManager/Writer.h"

class CKxAgentPluginInfo;
class CKxAgentCommandArgument;

// A source of commands. Commands are numbered from 0 in the order the plug-in
// lists them. The virtual slot order below is part of the contract.
class CKxAgentPlugin {
 public:
  // Type codes of GetPluginType: the plug-in manager's own numbers, which differ
  // from the configuration file's plug-in types.
  enum {
    TYPE_BUILTIN = 0,
    TYPE_DLL = 1,
    TYPE_JSCRIPT = 2,
    TYPE_VBSCRIPT = 3,
  };

  // One of the TYPE_* codes.
  virtual int GetPluginType() = 0;
  // The plug-in's information record (owned by the plug-in), or null when it has none yet.
  virtual CKxAgentPluginInfo* GetPluginVersionInfo() = 0;
  // Definition text of command nIndex (owned by the plug-in, valid while it lives),
  // or null when nIndex is out of range.
  virtual const char* GetCommandLineDefinition(int nIndex) = 0;
  // Runs command nIndex with the bound arguments, writing all output to writer.
  // Returns the command's own result; 0 when nIndex is out of range or has no handler.
  virtual int Execute(int nIndex, CWriter& writer, CKxAgentCommandArgument& argument) = 0;
  // Tells command nIndex that the session timed out; accepted at any time, any index.
  virtual void OnTimeout(int nIndex) = 0;

 protected:
  CKxAgentPlugin() {}
  CKxAgentPlugin(const CKxAgentPlugin&) {}
  CKxAgentPlugin& operator=(const CKxAgentPlugin&) { return *this; }
  // Not virtual: a plug-in is destroyed through its own type, never through this
  // interface, so deleting through a base pointer is made a compile error.
  ~CKxAgentPlugin() {}
};

// Ordered list of at most KX_MAX_ARGUMENTS name/value pairs. Names compare exactly
// (case-sensitive); the first pair with a name wins on look-up. Not copyable.
class CKxAgentCommandArgument {
 public:
  enum { KX_MAX_ARGUMENTS = 10 };

  // An empty list.
  CKxAgentCommandArgument();
  // Frees every pair in use.
  ~CKxAgentCommandArgument();
  CKxAgentCommandArgument(const CKxAgentCommandArgument&) = delete;
  CKxAgentCommandArgument& operator=(const CKxAgentCommandArgument&) = delete;

  // Appends a pair holding copies of both strings (null counts as empty).
  // Returns 1, or 0 when the list already holds KX_MAX_ARGUMENTS pairs.
  int Add(const char* lpName, const char* lpValue);
  // Replaces the value of the first pair named lpName with a copy of lpValue,
  // or appends the pair when there is none. Returns 1, or what Add returns.
  int SetValue(const char* lpName, const char* lpValue);
  // Value of the first pair named exactly lpName, or null.
  const char* GetValue(const char* lpName) const;
  // Value of pair nIndex, or null unless 0 <= nIndex < GetCount().
  const char* GetValue(int nIndex) const;
  // Name of pair nIndex, or null unless 0 <= nIndex < GetCount().
  const char* GetName(int nIndex) const;
  // Number of pairs in use, 0 to KX_MAX_ARGUMENTS.
  int GetCount() const;

 protected:
  // Slot of the first pair named lpName, or -1; the look-up behind GetValue and SetValue.
  int FindSlot(const char* lpName) const;
  // The stored value buffer of the first pair named lpName, or null.
  char* GetTargetValuePtr(const char* lpName) const;

 private:
  int m_nCount;
  char* m_lpNames[KX_MAX_ARGUMENTS];
  char* m_lpValues[KX_MAX_ARGUMENTS];
};

// A plug-in's name, description, copyright line, version and type in fixed
// buffers. Longer texts are cut and always zero-terminated. Plainly copyable.
class CKxAgentPluginInfo {
 public:
  enum {
    KX_NAME_COPY = 250,         // bytes copied into the name, terminator included
    KX_DESCRIPTION_COPY = 1000,
    KX_COPYRIGHT_COPY = 250,
  };

  // An empty record of type 0.
  CKxAgentPluginInfo();
  // Copies the texts (null counts as empty) cut at 249, 999 and 249 characters.
  CKxAgentPluginInfo(const char* lpName, const char* lpDescription, const char* lpCopyright,
                     int nMajorVersion, int nMinorVersion, int nType);

  const char* GetName() const { return m_szName; }
  const char* GetDescription() const { return m_szDescription; }
  const char* GetCopyright() const { return m_szCopyright; }
  int GetMajorVersion() const { return m_nMajorVersion; }
  int GetMinorVersion() const { return m_nMinorVersion; }
  // "Win32 DLL", "JScript" or "VBScript" for types 1 to 3; "Unknown" otherwise
  // (the built-in set, type 0, included).
  const char* GetType() const;

 private:
  char m_szName[251];
  char m_szDescription[1001];
  char m_szCopyright[250];
  int m_nMajorVersion;
  int m_nMinorVersion;
  int m_nType;
};
