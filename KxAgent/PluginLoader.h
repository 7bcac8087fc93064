// The agent's plug-ins: the two script hosts, every plug-in loaded from the
// configuration, and the runner that gives each script command a fresh host.
// Made and used on the agent's construction thread; the plug-ins then run on the
// input thread. Nothing is unloaded: the agent keeps its plug-ins until it ends.
#pragma once

#include <memory>
#include <vector>

#include "KxAgentPluginManager/PluginFactory.h"
#include "KxAgentPluginManager/WSHPlugin.h"

class CAgentBuiltInCommands;
class CKxAgentConfigManager;
class CKxAgentPluginEntry;
class CommandDispatcher;

class CPluginLoader {
 public:
  // Creates the VBScript and the JScript host when bScriptSupport is set.
  explicit CPluginLoader(bool bScriptSupport);
  CPluginLoader(const CPluginLoader&) = delete;
  CPluginLoader& operator=(const CPluginLoader&) = delete;
  ~CPluginLoader();

  // Walks the configured plug-in list in order: registers the built-in set's
  // commands for its entry, loads every script and DLL entry and registers its
  // commands under the entry's ID plus the command's index. An entry that cannot
  // be loaded writes its load-error entry to the log and is left out.
  void LoadPlugins(CKxAgentConfigManager& config, CAgentBuiltInCommands& builtIn,
                   CommandDispatcher& dispatcher);
  // The runner the dispatcher uses for script commands.
  CScriptCommandRunner* GetScriptCommandRunner() { return &m_runner; }

 private:
  void RegisterPluginCommands(const CKxAgentPluginEntry& entry, CKxLoadedPlugin& loaded,
                              CommandDispatcher& dispatcher);

  // Declared first: the loaded scripts run in its hosts.
  CKxPluginFactory m_factory;
  std::vector<std::unique_ptr<CKxLoadedPlugin>> m_vecPlugins;
  CWSHCommandRunner m_runner;
};
