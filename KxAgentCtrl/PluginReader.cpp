#include "KxAgentCtrl/PluginLoader.h"

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentPluginManager/BuiltInCommand.h"
#include "KxAgentPluginManager/DLLPlugin.h"
#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/WSHPlugin.h"

struct CKxAgentCtrlPluginLoader::CHosts {
  CWSHManager vbscript{"VBScript"};
  CWSHManager jscript{"JScript"};
};

namespace {

template <class TPlugin>
void Summarize(TPlugin& plugin, CKxAgentPluginSummary* pSummary) {
  *pSummary = CKxAgentPluginSummary();
  if (CKxAgentPluginInfo* pInfo = plugin.GetPluginVersionInfo()) {
    pSummary->strName = pInfo->GetName();
    pSummary->strDescription = pInfo->GetDescription();
    pSummary->strCopyright = pInfo->GetCopyright();
    pSummary->nMajorVersion = pInfo->GetMajorVersion();
    pSummary->nMinorVersion = pInfo->GetMinorVersion();
  }
  for (int i = 0; i < plugin.GetCommandCount(); ++i) {
    const char* lpDefinition = plugin.GetCommandLineDefinition(i);
    pSummary->vecCommands.push_back(lpDefinition != nullptr ? lpDefinition : "");
  }
}

template <class TScriptPlugin>
bool LoadScript(CWSHManager* pHost, const std::string& strPath, CKxAgentPluginSummary* pSummary) {
  TScriptPlugin plugin(pHost);
  if (!plugin.LoadPluginScript(strPath.c_str())) return false;
  Summarize(plugin, pSummary);
  return true;
}

}  // namespace

CKxAgentCtrlPluginLoader::CKxAgentCtrlPluginLoader() = default;
CKxAgentCtrlPluginLoader::~CKxAgentCtrlPluginLoader() = default;

void CKxAgentCtrlPluginLoader::CreateScriptHosts() {
  if (!m_pHosts) m_pHosts = std::make_unique<CHosts>();
}

void CKxAgentCtrlPluginLoader::DestroyScriptHosts() { m_pHosts.reset(); }

bool CKxAgentCtrlPluginLoader::HasScriptHosts() const { return m_pHosts != nullptr; }

bool CKxAgentCtrlPluginLoader::CanLoad(int nType) const {
  if (nType == KX_ENTRY_TYPE_VBSCRIPT || nType == KX_ENTRY_TYPE_JSCRIPT) return HasScriptHosts();
  return nType == KX_ENTRY_TYPE_BUILTIN || nType == KX_ENTRY_TYPE_DLL;
}

bool CKxAgentCtrlPluginLoader::Load(int nType, const std::string& strPath, CKxAgentPluginSummary* pSummary) {
  if (!CanLoad(nType)) return false;
  switch (nType) {
    case KX_ENTRY_TYPE_BUILTIN: {
      CBuiltInCommand builtIn;
      Summarize(builtIn, pSummary);
      return true;
    }
    case KX_ENTRY_TYPE_DLL: {
      CDLLPlugin plugin;
      if (!plugin.LoadPluginLibrary(strPath.c_str())) return false;
      Summarize(plugin, pSummary);
      plugin.UnloadPluginLibrary();
      return true;
    }
    case KX_ENTRY_TYPE_VBSCRIPT: return LoadScript<CVBSPlugin>(&m_pHosts->vbscript, strPath, pSummary);
    case KX_ENTRY_TYPE_JSCRIPT: return LoadScript<CJSPlugin>(&m_pHosts->jscript, strPath, pSummary);
    default: return false;
  }
}
