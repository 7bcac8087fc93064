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
  if (bScriptSupport) m_factory.CreateScriptHosts();
}

CPluginLoader::~CPluginLoader() {}

void CPluginLoader::LoadPlugins(CKxAgentConfigManager& config, CAgentBuiltInCommands& builtIn,
                                CommandDispatcher& dispatcher) {
  for (CKxAgentPluginEntry* pEntry : *config.GetPluginList()) {
    const CKxPluginKindRow* pKind = KxFindPluginKindByEntryType(pEntry->GetType());
    if (pKind == nullptr) continue;
    if (pKind->eKind == EKxPluginKind::kBuiltIn) {
      for (int i = 0; i < builtIn.GetCommandCount(); ++i) {
        dispatcher.Register(pEntry->GetPluginID() + i, builtIn.GetCommandLineDefinition(i), &builtIn, i);
      }
      continue;
    }
    // Only a plain file name is looked for, and only in the plug-in directory.
    std::string strPath = MakePluginFilePath(config.GetPluginDir(), pEntry->GetLibrary());
    std::string strReason = "not a plain file name in the plug-in directory";
    std::unique_ptr<CKxLoadedPlugin> pLoaded;
    if (!strPath.empty()) pLoaded = m_factory.Load(pKind->eKind, strPath, &strReason);
    if (!pLoaded) {
      // Without script support there is no host, and the load fails like any other.
      if (pKind->eKind == EKxPluginKind::kDLL) {
        CKxAgentLog::LogError(kLogSource, "Plug-in DLL load error. (file=%s)", pEntry->GetLibrary());
        CKxAgentLog::LogWarning(kLogSource, "%s (file=%s)", strReason.c_str(), pEntry->GetLibrary());
      } else {
        CKxAgentLog::LogError(kLogSource, "Plug-in script load error. (file=%s)", pEntry->GetLibrary());
      }
      continue;
    }
    m_vecPlugins.push_back(std::move(pLoaded));
    RegisterPluginCommands(*pEntry, *m_vecPlugins.back(), dispatcher);
  }
}

void CPluginLoader::RegisterPluginCommands(const CKxAgentPluginEntry& entry, CKxLoadedPlugin& loaded,
                                           CommandDispatcher& dispatcher) {
  CKxAgentPlugin& plugin = loaded.GetPlugin();
  for (int i = 0; i < loaded.GetCommandCount(); ++i) {
    const char* lpDefinition = plugin.GetCommandLineDefinition(i);
    if (!HasElements(lpDefinition)) {
      CKxAgentLog::LogWarning(kLogSource, "Plug-in command without a definition left out. (file=%s, index=%d)",
                              entry.GetLibrary(), i);
      continue;
    }
    dispatcher.Register(entry.GetPluginID() + i, lpDefinition, &plugin, i);
  }
}
