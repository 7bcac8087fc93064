// How the tool reads a plug-in: it loads the plug-in through the plug-in
// library's factory, copies what the pages show (information and command
// definitions) and unloads it again. It never runs a command. The factory's two
// script hosts exist only while script plug-ins are enabled.
#pragma once

#include <string>
#include <vector>

#include "KxAgentPluginManager/PluginFactory.h"

// What the pages show of one plug-in. Texts are code page 932.
struct CKxAgentPluginSummary {
  std::string strName;
  std::string strDescription;
  std::string strCopyright;
  int nMajorVersion = 0;
  int nMinorVersion = 0;
  std::vector<std::string> vecCommands;  // definitions in command order
};

class CKxAgentCtrlPluginReader {
 public:
  CKxAgentCtrlPluginReader();
  ~CKxAgentCtrlPluginReader();
  CKxAgentCtrlPluginReader(const CKxAgentCtrlPluginReader&) = delete;
  CKxAgentCtrlPluginReader& operator=(const CKxAgentCtrlPluginReader&) = delete;

  // Creates the VBScript and JScript hosts when they are missing.
  void CreateScriptHosts() { m_factory.CreateScriptHosts(); }
  // Destroys both hosts.
  void DestroyScriptHosts() { m_factory.DestroyScriptHosts(); }
  // TRUE while script plug-ins are enabled (the hosts were created).
  bool HasScriptHosts() const { return m_factory.HasScriptHosts(); }
  // TRUE when an entry of configuration type nType can be loaded now: always
  // for the built-in set and DLLs, only with the hosts for scripts.
  bool CanLoad(int nType) const;

  // Loads the plug-in of configuration type nType from strPath (code page 932,
  // ignored for the built-in set), fills *pSummary and unloads it. FALSE when
  // the file is not a usable plug-in of that kind or its host is missing.
  bool Load(int nType, const std::string& strPath, CKxAgentPluginSummary* pSummary);

 private:
  CKxPluginFactory m_factory;
};
