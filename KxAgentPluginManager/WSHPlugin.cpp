#include "KxAgentPluginManager/WSHPlugin.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/native_path.h"

namespace {

const char kRunFunction[] = "Run";
const char kScriptErrorText[] = "[Error] Script Error!!";

}  // namespace

CWSHManager::CWSHManager(const char* lpLanguage) : m_pEngine(new kx::CScriptEngine(lpLanguage)) {}

CWSHManager::~CWSHManager() {}

int CWSHManager::ParseScript(const char* lpText) { return m_pEngine->ParseScript(lpText) ? 1 : 0; }

int CWSHManager::InvokeFunction(const char* lpName, const kx::CScriptValue* pArguments,
                                unsigned nCount, kx::CScriptValue* pResult) {
  return m_pEngine->InvokeFunction(lpName, pArguments, nCount, pResult) ? 1 : 0;
}

void CWSHManager::AddNamedItem(const char*, void*) {}


CWSHPlugin::CWSHPlugin(CWSHManager* pHost) : m_pHost(pHost) {}

CWSHPlugin::~CWSHPlugin() {}

CWSHManager* CWSHPlugin::SetWSHManager(CWSHManager* pHost) {
  CWSHManager* pPrevious = m_pHost;
  m_pHost = pHost;
  return pPrevious;
}

int CWSHPlugin::SetScriptText(const char* lpText) {
  if (lpText != nullptr) m_strScript = lpText;
  if (m_pHost == nullptr || !m_pHost->ParseScript(m_strScript.c_str())) return 0;
  kx::CScriptValue result;
  std::string strDefinition;
  if (!m_pHost->InvokeFunction("GetCommandLineDef", nullptr, 0, &result) ||
      !result.GetText(&strDefinition)) {
    return 0;
  }
  // An unchanged definition keeps its buffer, so a pointer handed out stays valid.
  if (m_pDefinition && strDefinition == m_pDefinition.get()) return 1;
  m_pDefinition.reset(new char[strDefinition.size() + 1]);
  std::memcpy(m_pDefinition.get(), strDefinition.c_str(), strDefinition.size() + 1);
  return 1;
}

int CWSHPlugin::LoadPluginScript(const char* lpPath) {
  if (lpPath == nullptr) return 0;
  std::error_code error;
  std::filesystem::path path = kx::ToFileSystemPath(lpPath);
  if (!std::filesystem::is_regular_file(path, error)) return 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  std::string strScript((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return 0;
  return SetScriptText(strScript.c_str());
}

int CWSHPlugin::GetCommandCount() const { return 1; }

CKxAgentPluginInfo* CWSHPlugin::GetPluginVersionInfo() {
  if (m_pInfo) return m_pInfo.get();
  std::string strName = CallForText("GetPluginName");
  std::string strDescription = CallForText("GetPluginDescription");
  std::string strCopyright = CallForText("GetPluginCopyright");
  short nVersion[2] = {0, 0};
  const char* const lpVersionFunctions[2] = {"GetPluginMajorVersion", "GetPluginMinorVersion"};
  for (int i = 0; i < 2; ++i) {
    kx::CScriptValue result;
    if (m_pHost == nullptr || !m_pHost->InvokeFunction(lpVersionFunctions[i], nullptr, 0, &result) ||
        !result.GetShort(&nVersion[i])) {
      nVersion[i] = 0;
    }
  }
  m_pInfo.reset(new CKxAgentPluginInfo(strName.c_str(), strDescription.c_str(), strCopyright.c_str(),
                                       nVersion[0], nVersion[1], GetPluginType()));
  return m_pInfo.get();
}

const char* CWSHPlugin::GetCommandLineDefinition(int nIndex) {
  return nIndex == 0 ? m_pDefinition.get() : nullptr;
}

int CWSHPlugin::Execute(int, CWriter& writer, CKxAgentCommandArgument& argument) {
  if (!SetScriptText(nullptr)) {
    writer.WriteLine(kScriptErrorText);
    return 0;
  }
  kx::CScriptValue arguments[2];
  BuildRunArguments(argument, arguments);
  kx::CScriptValue result;
  std::string strText;
  if (!m_pHost->InvokeFunction(kRunFunction, arguments, 2, &result) || !result.GetText(&strText)) {
    writer.WriteLine(kScriptErrorText);
    return 0;
  }
  writer.WriteLine(strText.c_str());
  return 1;
}

void CWSHPlugin::OnTimeout(int) {}

void CWSHPlugin::BuildRunArguments(const CKxAgentCommandArgument& argument,
                                   kx::CScriptValue* pArguments) {
  int nCount = argument.GetCount();
  if (GetPluginType() == TYPE_VBSCRIPT) {
    if (nCount > 0) {
      std::vector<std::string> vecValues;
      for (int i = 0; i < nCount; ++i) {
        const char* lpValue = argument.GetValue(i);
        vecValues.push_back(lpValue != nullptr ? lpValue : "");
      }
      pArguments[0] = kx::CScriptValue::MakeStringArray(vecValues);
    }
    pArguments[1] = kx::CScriptValue::MakeNumber(nCount);
    return;
  }
  // JScript gets the first value only, and the number 1 beside it.
  if (nCount > 0) {
    pArguments[0] = kx::CScriptValue::MakeString(argument.GetValue(0));
    pArguments[1] = kx::CScriptValue::MakeNumber(1);
  }
}

std::string CWSHPlugin::CallForText(const char* lpName) {
  kx::CScriptValue result;
  std::string strText;
  if (m_pHost == nullptr || !m_pHost->InvokeFunction(lpName, nullptr, 0, &result) ||
      !result.GetText(&strText)) {
    return std::string();
  }
  return strText;
}

int CJSPlugin::GetPluginType() { return TYPE_JSCRIPT; }

int CVBSPlugin::GetPluginType() { return TYPE_VBSCRIPT; }

int CWSHCommandRunner::RunScriptCommand(CKxAgentPlugin* pPlugin, const char* lpLanguage,
                                        int nIndex, CWriter& writer,
                                        CKxAgentCommandArgument& argument) {
  CWSHPlugin* pScript = dynamic_cast<CWSHPlugin*>(pPlugin);
  if (pScript == nullptr) return 0;
  CWSHManager host(lpLanguage);
  CWSHManager* pPrevious = pScript->SetWSHManager(&host);
  int nResult = pScript->Execute(nIndex, writer, argument);
  pScript->SetWSHManager(pPrevious);
  return nResult;
}
