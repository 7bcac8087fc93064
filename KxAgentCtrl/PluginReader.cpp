#include "KxAgentCtrl/PluginReader.h"

CKxAgentCtrlPluginReader::CKxAgentCtrlPluginReader() = default;
CKxAgentCtrlPluginReader::~CKxAgentCtrlPluginReader() = default;

bool CKxAgentCtrlPluginReader::CanLoad(int nType) const {
  const CKxPluginKindRow* pKind = KxFindPluginKindByEntryType(nType);
  return pKind != nullptr && m_factory.CanLoad(pKind->eKind);
}

bool CKxAgentCtrlPluginReader::Load(int nType, const std::string& strPath, CKxAgentPluginSummary* pSummary) {
  const CKxPluginKindRow* pKind = KxFindPluginKindByEntryType(nType);
  if (pKind == nullptr) return false;
  std::unique_ptr<CKxLoadedPlugin> pLoaded = m_factory.Load(pKind->eKind, strPath);
  if (!pLoaded) return false;
  CKxAgentPlugin& plugin = pLoaded->GetPlugin();
  *pSummary = CKxAgentPluginSummary();
  if (CKxAgentPluginInfo* pInfo = plugin.GetPluginVersionInfo()) {
    pSummary->strName = pInfo->GetName();
    pSummary->strDescription = pInfo->GetDescription();
    pSummary->strCopyright = pInfo->GetCopyright();
    pSummary->nMajorVersion = pInfo->GetMajorVersion();
    pSummary->nMinorVersion = pInfo->GetMinorVersion();
  }
  for (int i = 0; i < pLoaded->GetCommandCount(); ++i) {
    const char* lpDefinition = plugin.GetCommandLineDefinition(i);
    pSummary->vecCommands.push_back(lpDefinition != nullptr ? lpDefinition : "");
  }
  pLoaded->Unload();
  return true;
}
