// CKxPluginFactory: the one place a plug-in of any kind is made. It owns the
// two script hosts (while script plug-ins are enabled) and loads a plug-in by
// kind and path into a CKxLoadedPlugin, which destroys it through its own type.
// The agent keeps what it loads until it ends; the configuration tool reads a
// plug-in and lets it go again.
#pragma once

#include <memory>
#include <string>

#include "KxAgentPluginManager/PluginKind.h"

class CWSHManager;

// One loaded plug-in. A script plug-in runs in its factory's host: it must not be
// used after that factory's hosts are destroyed.
class CKxLoadedPlugin {
 public:
  ~CKxLoadedPlugin();
  CKxLoadedPlugin(const CKxLoadedPlugin&) = delete;
  CKxLoadedPlugin& operator=(const CKxLoadedPlugin&) = delete;

  EKxPluginKind GetKind() const { return m_eKind; }
  CKxAgentPlugin& GetPlugin() { return *m_pPlugin; }
  // The number of commands the plug-in has: the built-in set's, the DLL's
  // (at most ten), one for a script.
  int GetCommandCount() const { return m_nCommandCount; }
  // Releases and frees a DLL's library; nothing for the other kinds. Without
  // it a DLL stays mapped after this object is gone, as the agent wants.
  void Unload();

 private:
  friend class CKxPluginFactory;
  typedef void (*DestroyFunc)(CKxAgentPlugin*);
  CKxLoadedPlugin(EKxPluginKind eKind, CKxAgentPlugin* pPlugin, DestroyFunc pfnDestroy, int nCommandCount);

  EKxPluginKind m_eKind;
  CKxAgentPlugin* m_pPlugin;
  DestroyFunc m_pfnDestroy;
  int m_nCommandCount;
};

class CKxPluginFactory {
 public:
  CKxPluginFactory();
  ~CKxPluginFactory();
  CKxPluginFactory(const CKxPluginFactory&) = delete;
  CKxPluginFactory& operator=(const CKxPluginFactory&) = delete;

  // Creates the VBScript and the JScript host when they are missing.
  void CreateScriptHosts();
  // Destroys both hosts.
  void DestroyScriptHosts();
  // TRUE while the hosts exist.
  bool HasScriptHosts() const;
  // TRUE when a plug-in of eKind can be loaded now: always the built-in set
  // and DLLs, scripts only with the hosts.
  bool CanLoad(EKxPluginKind eKind) const;

  // Loads the plug-in of eKind from strPath (code page 932; ignored for the
  // built-in set, which is its definitions without handlers). Null when it
  // cannot be loaded; *pstrReason (when given) then says why, for the log.
  std::unique_ptr<CKxLoadedPlugin> Load(EKxPluginKind eKind, const std::string& strPath,
                                        std::string* pstrReason = nullptr);

 private:
  CWSHManager* GetHost(EKxPluginKind eKind) const;

  std::unique_ptr<CWSHManager> m_pVBScriptHost;
  std::unique_ptr<CWSHManager> m_pJScriptHost;
};
