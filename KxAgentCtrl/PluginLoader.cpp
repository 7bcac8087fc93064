#include "KxAgentCtrl/PluginLoader.h"

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentPluginManager/BuiltInCommand.h"
#include "KxAgentPluginManager/KxAgentPlugin.h"

struct CKxAgentCtrlPluginLoader::CHosts {};

namespace {

template <class TPlugin>
void Summarize(TPlugin& plugin, int nCount, CKxAgentPluginSummary* pSummary) {
  *pSummary = CKxAgentPluginSummary();
  if (CKxAgentPluginInfo* pInfo = plugin.GetPluginVersionInfo()) {
    pSummary->strName = pInfo->GetName();
    pSummary->strDescription = pInfo->GetDescription();
    pSummary->strCopyright = pInfo->GetCopyright();
    pSummary->nMajorVersion = pInfo->GetMajorVersion();
    pSummary->nMinorVersion = pInfo->GetMinorVersion();
  }
  for (int i = 0; i < nCount; ++i) {
    const char* lpDefinition = plugin.GetCommandLineDefinition(i);
    pSummary->vecCommands.push_back(lpDefinition != nullptr ? lpDefinition : "");
  }
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
  (void)strPath;
  if (!CanLoad(nType)) return false;
  if (nType == KX_ENTRY_TYPE_BUILTIN) {
    CBuiltInCommand builtIn;
    Summarize(builtIn, builtIn.GetCommandCount(), pSummary);
    return true;
  }
  return false;
}
