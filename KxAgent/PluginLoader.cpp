#include "PluginLoader.h"

#include <map>
#include <string>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentLog.h"
#include "commands/BuiltInTable.h"
#include "KxAgentPluginManager/PluginFile.h"
#include "engine/CommandDispatcher.h"
#include "engine/CommandLine.h"

namespace {

const char kLogSource[] = "initialize";

// TRUE when the definition has at least one element. A command without elements
// would match every typed line and make every other command ambiguous.
bool HasElements(const char* lpDefinition) {
  std::vector<DefinitionToken> vecTokens;
  std::map<int, std::string> mapNames;
  CKxAgentCommandArgument argument;
  ParseDefinition(lpDefinition, vecTokens, mapNames, argument);
  return !vecTokens.empty();
}

}  // namespace

CPluginLoader::CPluginLoader(bool bScriptSupport) {
  if (bScriptSupport) {
    m_pVBScriptHost.reset(new CWSHManager("VBScript"));
    m_pJScriptHost.reset(new CWSHManager("JScript"));
  }
}

CPluginLoader::~CPluginLoader() {}

void CPluginLoader::LoadPlugins(CKxAgentConfigManager& config, CAgentBuiltInCommands& builtIn,
                                CommandDispatcher& dispatcher) {
  for (CKxAgentPluginEntry* pEntry : *config.GetPluginList()) {
    int nType = pEntry->GetType();
    if (nType == KX_ENTRY_TYPE_BUILTIN) {
      for (int i = 0; i < builtIn.GetCommandCount(); ++i) {
        dispatcher.Register(pEntry->GetPluginID() + i, builtIn.GetCommandLineDefinition(i), &builtIn, i);
      }
      continue;
    }
    if (nType != KX_ENTRY_TYPE_VBSCRIPT && nType != KX_ENTRY_TYPE_JSCRIPT && nType != KX_ENTRY_TYPE_DLL) {
      continue;
    }
    // Only a plain file name is looked for, and only in the plug-in directory.
    std::string strPath = MakePluginFilePath(config.GetPluginDir(), pEntry->GetLibrary());
    CKxAgentPlugin* pPlugin = nullptr;
    int nCount = 0;
    if (nType == KX_ENTRY_TYPE_DLL) {
      pPlugin = LoadDLLPlugin(*pEntry, strPath);
      if (pPlugin != nullptr) nCount = m_vecDLLPlugins.back()->GetCommandCount();
    } else {
      pPlugin = LoadScriptPlugin(*pEntry, strPath);
      nCount = 1;
    }
    if (pPlugin != nullptr) RegisterPluginCommands(*pEntry, *pPlugin, nCount, dispatcher);
  }
}

CKxAgentPlugin* CPluginLoader::LoadDLLPlugin(const CKxAgentPluginEntry& entry,
                                             const std::string& strPath) {
  std::unique_ptr<CDLLPlugin> pPlugin(new CDLLPlugin);
  if (strPath.empty() || !pPlugin->LoadPluginLibrary(strPath.c_str())) {
    CKxAgentLog::LogError(kLogSource, "Plug-in DLL load error. (file=%s)", entry.GetLibrary());
    CKxAgentLog::LogWarning(kLogSource, "%s (file=%s)",
                            strPath.empty() ? "not a plain file name in the plug-in directory"
                                            : GetDLLPluginLoadError(),
                            entry.GetLibrary());
    return nullptr;
  }
  m_vecDLLPlugins.push_back(std::move(pPlugin));
  return m_vecDLLPlugins.back().get();
}

CKxAgentPlugin* CPluginLoader::LoadScriptPlugin(const CKxAgentPluginEntry& entry,
                                                const std::string& strPath) {
  CWSHPlugin* pLoaded = nullptr;
  // Without script support there is no host, and the load fails like any other.
  if (entry.GetType() == KX_ENTRY_TYPE_JSCRIPT) {
    std::unique_ptr<CJSPlugin> pPlugin(new CJSPlugin(m_pJScriptHost.get()));
    if (!strPath.empty() && pPlugin->LoadPluginScript(strPath.c_str())) {
      m_vecJScriptPlugins.push_back(std::move(pPlugin));
      pLoaded = m_vecJScriptPlugins.back().get();
    }
  } else {
    std::unique_ptr<CVBSPlugin> pPlugin(new CVBSPlugin(m_pVBScriptHost.get()));
    if (!strPath.empty() && pPlugin->LoadPluginScript(strPath.c_str())) {
      m_vecVBScriptPlugins.push_back(std::move(pPlugin));
      pLoaded = m_vecVBScriptPlugins.back().get();
    }
  }
  if (pLoaded == nullptr) {
    CKxAgentLog::LogError(kLogSource, "Plug-in script load error. (file=%s)", entry.GetLibrary());
  }
  return pLoaded;
}

void CPluginLoader::RegisterPluginCommands(const CKxAgentPluginEntry& entry, CKxAgentPlugin& plugin,
                                           int nCount, CommandDispatcher& dispatcher) {
  for (int i = 0; i < nCount; ++i) {
    const char* lpDefinition = plugin.GetCommandLineDefinition(i);
    if (!HasElements(lpDefinition)) {
      CKxAgentLog::LogWarning(kLogSource, "Plug-in command without a definition left out. (file=%s, index=%d)",
                              entry.GetLibrary(), i);
      continue;
    }
    dispatcher.Register(entry.GetPluginID() + i, lpDefinition, &plugin, i);
  }
}
