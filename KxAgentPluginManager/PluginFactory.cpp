#include "KxAgentPluginManager/PluginFactory.h"

#include "KxAgentPluginManager/BuiltInCommand.h"
#include "KxAgentPluginManager/DLLPlugin.h"
#include "KxAgentPluginManager/WSHPlugin.h"
#include "platform/text_compare.h"

namespace {

template <class TPlugin>
void Destroy(CKxAgentPlugin* pPlugin) {
  delete static_cast<TPlugin*>(pPlugin);
}

}  // namespace

const CKxPluginKindRow* KxFindPluginKindByFileName(const std::string& strFileName) {
  std::size_t nDot = strFileName.rfind('.');
  if (nDot == std::string::npos) return nullptr;
  const char* lpExtension = strFileName.c_str() + nDot + 1;
  for (const CKxPluginKindRow& row : kKxPluginKinds) {
    for (const char* lpKnown : row.lpExtensions) {
      if (lpKnown != nullptr && kx::CompareNoCase(lpExtension, lpKnown) == 0) return &row;
    }
  }
  return nullptr;
}

CKxLoadedPlugin::CKxLoadedPlugin(EKxPluginKind eKind, CKxAgentPlugin* pPlugin, DestroyFunc pfnDestroy,
                                 int nCommandCount)
    : m_eKind(eKind), m_pPlugin(pPlugin), m_pfnDestroy(pfnDestroy), m_nCommandCount(nCommandCount) {}

CKxLoadedPlugin::~CKxLoadedPlugin() { m_pfnDestroy(m_pPlugin); }

void CKxLoadedPlugin::Unload() {
  if (m_eKind == EKxPluginKind::kDLL) static_cast<CDLLPlugin*>(m_pPlugin)->UnloadPluginLibrary();
}

CKxPluginFactory::CKxPluginFactory() = default;
CKxPluginFactory::~CKxPluginFactory() = default;

void CKxPluginFactory::CreateScriptHosts() {
  if (!m_pVBScriptHost) m_pVBScriptHost.reset(new CWSHManager(KxPluginKindRow(EKxPluginKind::kVBScript).lpLanguage));
  if (!m_pJScriptHost) m_pJScriptHost.reset(new CWSHManager(KxPluginKindRow(EKxPluginKind::kJScript).lpLanguage));
}

void CKxPluginFactory::DestroyScriptHosts() {
  m_pVBScriptHost.reset();
  m_pJScriptHost.reset();
}

bool CKxPluginFactory::HasScriptHosts() const { return m_pVBScriptHost != nullptr && m_pJScriptHost != nullptr; }

CWSHManager* CKxPluginFactory::GetHost(EKxPluginKind eKind) const {
  if (eKind == EKxPluginKind::kVBScript) return m_pVBScriptHost.get();
  if (eKind == EKxPluginKind::kJScript) return m_pJScriptHost.get();
  return nullptr;
}

bool CKxPluginFactory::CanLoad(EKxPluginKind eKind) const {
  return KxPluginKindRow(eKind).lpLanguage == nullptr || GetHost(eKind) != nullptr;
}

std::unique_ptr<CKxLoadedPlugin> CKxPluginFactory::Load(EKxPluginKind eKind, const std::string& strPath,
                                                        std::string* pstrReason) {
  std::string strReason;
  std::unique_ptr<CKxLoadedPlugin> pLoaded;
  switch (eKind) {
    case EKxPluginKind::kBuiltIn: {
      CBuiltInCommand* pPlugin = new CBuiltInCommand;
      pLoaded.reset(new CKxLoadedPlugin(eKind, pPlugin, &Destroy<CBuiltInCommand>, pPlugin->GetCommandCount()));
      break;
    }
    case EKxPluginKind::kDLL: {
      std::unique_ptr<CDLLPlugin> pPlugin(new CDLLPlugin);
      if (!pPlugin->LoadPluginLibrary(strPath.c_str())) {
        strReason = GetDLLPluginLoadError();
        break;
      }
      int nCount = pPlugin->GetCommandCount();
      pLoaded.reset(new CKxLoadedPlugin(eKind, pPlugin.release(), &Destroy<CDLLPlugin>, nCount));
      break;
    }
    case EKxPluginKind::kJScript:
    case EKxPluginKind::kVBScript: {
      CWSHManager* pHost = GetHost(eKind);
      if (pHost == nullptr) {
        strReason = "script plug-ins are not enabled";
        break;
      }
      bool bJScript = eKind == EKxPluginKind::kJScript;
      CKxLoadedPlugin::DestroyFunc pfnDestroy = bJScript ? &Destroy<CJSPlugin> : &Destroy<CVBSPlugin>;
      std::unique_ptr<CWSHPlugin, CKxLoadedPlugin::DestroyFunc> pPlugin(
          bJScript ? static_cast<CWSHPlugin*>(new CJSPlugin(pHost)) : new CVBSPlugin(pHost), pfnDestroy);
      if (!pPlugin->LoadPluginScript(strPath.c_str())) {
        strReason = "the script cannot be read, does not parse or has no command definition";
        break;
      }
      int nCount = pPlugin->GetCommandCount();
      pLoaded.reset(new CKxLoadedPlugin(eKind, pPlugin.release(), pfnDestroy, nCount));
      break;
    }
  }
  if (pstrReason != nullptr) *pstrReason = strReason;
  return pLoaded;
}
