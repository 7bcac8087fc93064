#include "KxAgentPluginManager/DLLPlugin.h"

#include <string>

namespace {
thread_local std::string g_strLoadError;
}  // namespace

const char* GetDLLPluginLoadError() { return g_strLoadError.c_str(); }

CDLLPlugin::CDLLPlugin()
    : m_hModule(nullptr),
      m_ppCommands(nullptr),
      m_nCommandCount(0),
      m_pfnGetPluginInfo(nullptr),
      m_pfnGetPluginInstance(nullptr),
      m_pfnRelease(nullptr) {}

CDLLPlugin::~CDLLPlugin() {}

int CDLLPlugin::LoadPluginLibrary(const char* lpPath) {
  UnloadPluginLibrary();
  m_pInfo.reset();
  g_strLoadError.clear();
  m_hModule = kx::LoadDynamicLibrary(lpPath, &g_strLoadError);
  if (m_hModule == nullptr) return 0;

  m_pfnGetPluginInfo = reinterpret_cast<KxGetPluginInfoFunc>(
      kx::FindLibraryFunction(m_hModule, KX_PLUGIN_EXPORT_GET_INFO));
  m_pfnGetPluginInstance = reinterpret_cast<KxGetPluginInstanceFunc>(
      kx::FindLibraryFunction(m_hModule, KX_PLUGIN_EXPORT_GET_INSTANCE));
  m_pfnRelease =
      reinterpret_cast<KxReleaseFunc>(kx::FindLibraryFunction(m_hModule, KX_PLUGIN_EXPORT_RELEASE));
  if (m_pfnGetPluginInfo == nullptr || m_pfnGetPluginInstance == nullptr || m_pfnRelease == nullptr) {
    g_strLoadError = "the library does not export GetPluginInfo, GetPluginInstance and Release";
    UnloadPluginLibrary();
    return 0;
  }

  // A library without a record has nothing to describe or register.
  plugin_info* pInfo = GetPluginInfo();
  if (pInfo == nullptr) {
    g_strLoadError = "GetPluginInfo returned no record";
    UnloadPluginLibrary();
    return 0;
  }
  m_pInfo.reset(new CKxAgentPluginInfo(pInfo->name, pInfo->description, pInfo->copyright,
                                       pInfo->major, pInfo->minor, TYPE_DLL));
  m_nCommandCount = pInfo->count;
  m_ppCommands = GetPluginInstance();
  return 1;
}

void CDLLPlugin::UnloadPluginLibrary() {
  if (m_hModule == nullptr) return;
  ReleasePluginInstance();
  kx::FreeDynamicLibrary(m_hModule);
  m_hModule = nullptr;
  m_ppCommands = nullptr;
  m_nCommandCount = 0;
  m_pfnGetPluginInfo = nullptr;
  m_pfnGetPluginInstance = nullptr;
  m_pfnRelease = nullptr;
  // The record was copied out of the library and stays readable.
}

int CDLLPlugin::GetPluginType() { return TYPE_DLL; }

CKxAgentPluginInfo* CDLLPlugin::GetPluginVersionInfo() { return m_pInfo.get(); }

const char* CDLLPlugin::GetCommandLineDefinition(int nIndex) {
  if (!IsExistInstance(nIndex)) return nullptr;
  return m_ppCommands[nIndex]->GetCommandLineDefinition();
}

int CDLLPlugin::Execute(int nIndex, CWriter& writer, CKxAgentCommandArgument& argument) {
  if (!IsExistInstance(nIndex)) return 0;
  const char* lpValues[CKxAgentCommandArgument::KX_MAX_ARGUMENTS] = {};
  int nCount = argument.GetCount();
  for (int i = 0; i < nCount; ++i) lpValues[i] = argument.GetValue(i);
  return m_ppCommands[nIndex]->Execute(writer, nCount, lpValues);
}

void CDLLPlugin::OnTimeout(int nIndex) {
  if (IsExistInstance(nIndex)) m_ppCommands[nIndex]->OnTimeout();
}

int CDLLPlugin::GetCommandCount() const {
  if (m_nCommandCount < 0) return 0;
  return m_nCommandCount < KX_MAX_DLL_COMMANDS ? m_nCommandCount : KX_MAX_DLL_COMMANDS;
}

plugin_info* CDLLPlugin::GetPluginInfo() {
  return m_pfnGetPluginInfo != nullptr ? m_pfnGetPluginInfo() : nullptr;
}

CKxAgentDLLPlugin** CDLLPlugin::GetPluginInstance() {
  return m_pfnGetPluginInstance != nullptr ? m_pfnGetPluginInstance() : nullptr;
}

void CDLLPlugin::ReleasePluginInstance() {
  if (m_pfnRelease != nullptr) m_pfnRelease();
}

bool CDLLPlugin::IsExistInstance(int nIndex) const {
  // Bounded by the reported count as well: the array need not have more slots.
  return m_ppCommands != nullptr && nIndex >= 0 && nIndex < GetCommandCount() &&
         m_ppCommands[nIndex] != nullptr;
}
