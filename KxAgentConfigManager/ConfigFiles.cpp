// Reading sysconfig.xml and command.xml into the model and writing sysconfig.xml.

#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "KxAgentConfigManager/ConfigFileCheck.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentConfigManager/XmlSupport.h"
#include "platform/error_codes.h"
#include "platform/text_encoding.h"

using namespace xercesc;
using namespace kx::config;

namespace {

constexpr CXmlName kCoreFeature(u"Core");
constexpr CXmlName kFileEncoding(u"Shift_JIS");
constexpr CXmlName kNewLine(u"\r\n");

// Loading and saving need the XML library; a program that forgot Initialize
// gets a message instead of a crash inside the library. Counted like the
// library's own initialisation, so nested Initialize / Terminate pairs balance.
int g_nXmlLibraryUsers = 0;

bool IsXmlLibraryReady(const char* lpOperation) {
  if (g_nXmlLibraryUsers > 0) return true;
  std::printf("\n%s: the XML library is not initialized.\n", lpOperation);
  std::fflush(stdout);
  return false;
}

const char* SwitchText(BOOL bValue, const char* lpOn, const char* lpOff) {
  return bValue ? lpOn : lpOff;
}

void PrintSaveError(const std::string& strMessage) {
  std::printf("\nError during saving: %s\n", strMessage.c_str());
  std::fflush(stdout);
}

std::string SignedText(long long llValue) { return std::to_string(llValue); }

// The scalar settings are written as signed 32-bit decimals; ReadNumber reads
// the negative form back to the same unsigned value.
std::string DwordText(unsigned long dwValue) {
  return SignedText(static_cast<std::int32_t>(static_cast<DWORD>(dwValue)));
}

// Builds the sysconfig.xml document; every string is converted from the model's
// code page here.
class CDocumentBuilder {
 public:
  explicit CDocumentBuilder(DOMDocument* pDocument) : m_pDocument(pDocument) {}

  DOMElement* AddElement(DOMNode* pParent, const XMLCh* lpName) {
    DOMElement* pElement = m_pDocument->createElement(lpName);
    pParent->appendChild(pElement);
    return pElement;
  }

  DOMElement* AddTextElement(DOMNode* pParent, const XMLCh* lpName, const std::string& strText) {
    DOMElement* pElement = AddElement(pParent, lpName);
    pElement->appendChild(m_pDocument->createTextNode(ModelToXml(strText).c_str()));
    return pElement;
  }

  // The library keeps an element's attributes sorted by name, so that is the
  // order they are written in, whatever the order they are set.
  void SetAttribute(DOMElement* pElement, const XMLCh* lpName, const std::string& strValue) {
    pElement->setAttribute(lpName, ModelToXml(strValue).c_str());
  }

 private:
  DOMDocument* m_pDocument;
};

// Releases the library's objects in the right order on every path out of a save.
struct CSaveObjects {
  DOMDocument* pDocument = nullptr;
  DOMLSSerializer* pSerializer = nullptr;
  DOMLSOutput* pOutput = nullptr;
  ~CSaveObjects() {
    if (pOutput) pOutput->release();
    if (pSerializer) pSerializer->release();
    if (pDocument) pDocument->release();
  }
};

}  // namespace

class CKxAgentConfigManager::CXmlIO {
 public:
  // Applies the children of the system-config element to the model. Accounts
  // whose file entry has no id are appended and also listed in *pvecWithoutID.
  static void ReadSystemConfig(CKxAgentConfigManager& manager, const DOMElement* pRoot,
                               std::vector<CKxAgentLogonAccount*>* pvecWithoutID) {
    for (DOMNode* pNode = pRoot->getFirstChild(); pNode; pNode = pNode->getNextSibling()) {
      if (pNode->getNodeType() != DOMNode::ELEMENT_NODE) continue;
      const DOMElement* pElement = static_cast<const DOMElement*>(pNode);
      const XMLCh* lpName = pElement->getNodeName();
      if (IsNamed(lpName, name::kSystem)) {
        manager.SetMaxComPort(ReadNumber(ElementText(FirstChildElement(pElement, name::kMaxComPort))));
      } else if (IsNamed(lpName, name::kComPort)) {
        manager.SetComPort(ReadNumber(ElementText(FirstChildElement(pElement, name::kPort))));
        manager.SetComSpeed(ReadNumber(ElementText(FirstChildElement(pElement, name::kSpeed))));
      } else if (IsNamed(lpName, name::kOutputEncoding)) {
        manager.SetOutputEncoding(ElementText(pElement).c_str());
      } else if (IsNamed(lpName, name::kLogonTimeout)) {
        manager.SetLogonTimeout(ReadNumber(ElementText(pElement)));
      } else if (IsNamed(lpName, name::kEventLogNotification)) {
        manager.SetEventLogNotification(ElementText(pElement) == "on" ? TRUE : FALSE);
      } else if (IsNamed(lpName, name::kExecutionImproperCommand)) {
        manager.SetHiddenExecutionImproperCommand(ElementText(pElement) == "hidden" ? TRUE : FALSE);
      } else if (IsNamed(lpName, name::kCpuMonitoring)) {
        manager.SetCPUMonitoring(ElementText(pElement) == "on" ? TRUE : FALSE);
      } else if (IsNamed(lpName, name::kScriptPluginSupport)) {
        manager.SetScriptPluginSupport(ElementText(pElement) == "on" ? TRUE : FALSE);
      } else if (IsNamed(lpName, name::kLogSetting)) {
        ReadLogSetting(manager.m_logSetting, pElement);
      } else if (IsNamed(lpName, name::kPluginEntry)) {
        ReadPlugins(manager.m_vecPlugins, pElement);
      } else if (IsNamed(lpName, name::kLogonAccount)) {
        ReadAccounts(manager.m_vecAccounts, pElement, pvecWithoutID);
      }
    }
  }

  // Appends the records of every commandset below pRoot to vecCommands.
  static void ReadCommandSets(std::vector<CKxAgentCommand*>& vecCommands, const DOMElement* pRoot) {
    DOMNodeList* pSets = pRoot->getElementsByTagName(name::kCommandSet);
    for (XMLSize_t i = 0; i < pSets->getLength(); ++i) {
      const DOMElement* pSet = static_cast<const DOMElement*>(pSets->item(i));
      std::string strValue;
      int nType = ReadAttribute(pSet, name::kType, &strValue) ? ReadInteger(strValue) : 0;
      std::string strLibrary;
      ReadAttribute(pSet, name::kLibrary, &strLibrary);
      for (DOMNode* pNode = pSet->getFirstChild(); pNode; pNode = pNode->getNextSibling()) {
        if (!IsElementNamed(pNode, name::kCommand)) continue;
        const DOMElement* pCommand = static_cast<const DOMElement*>(pNode);
        // A catalogue record is looked up by its ID; one without it is unusable.
        if (!ReadAttribute(pCommand, name::kId, &strValue)) continue;
        int nCommandID = ReadInteger(strValue);
        std::string strDefinition = ElementText(FirstChildElement(pCommand, name::kCommandLineDef));
        int nPluginCommandID = -1;
        if (nType != KX_ENTRY_TYPE_BUILTIN) {
          nPluginCommandID =
              ReadInteger(ElementText(FirstChildElement(pCommand, name::kPluginCommandId)));
        }
        vecCommands.push_back(new CKxAgentCommand(nType, nCommandID, strDefinition.c_str(),
                                                  strLibrary.c_str(), nPluginCommandID));
      }
    }
  }

  // Builds the whole system-config document from the model.
  static void WriteSystemConfig(const CKxAgentConfigManager& manager, DOMDocument* pDocument) {
    CDocumentBuilder builder(pDocument);
    DOMElement* pRoot = pDocument->getDocumentElement();

    DOMElement* pSystem = builder.AddElement(pRoot, name::kSystem);
    builder.AddTextElement(pSystem, name::kMaxComPort, DwordText(manager.m_dwMaxComPort));
    DOMElement* pComPort = builder.AddElement(pRoot, name::kComPort);
    builder.AddTextElement(pComPort, name::kPort, DwordText(manager.m_dwComPort));
    builder.AddTextElement(pComPort, name::kSpeed, DwordText(manager.m_dwComSpeed));
    builder.AddTextElement(pRoot, name::kOutputEncoding, manager.m_strOutputEncoding);
    builder.AddTextElement(pRoot, name::kLogonTimeout, DwordText(manager.m_dwLogonTimeout));
    builder.AddTextElement(pRoot, name::kEventLogNotification,
                           SwitchText(manager.m_bEventLogNotification, "on", "off"));
    builder.AddTextElement(pRoot, name::kExecutionImproperCommand,
                           SwitchText(manager.m_bHiddenImproperCommand, "hidden", "visible"));
    builder.AddTextElement(pRoot, name::kCpuMonitoring, SwitchText(manager.m_bCPUMonitoring, "on", "off"));
    builder.AddTextElement(pRoot, name::kScriptPluginSupport,
                           SwitchText(manager.m_bScriptPluginSupport, "on", "off"));

    const CKxAgentLogSetting& setting = manager.m_logSetting;
    DOMElement* pLogSetting = builder.AddElement(pRoot, name::kLogSetting);
    builder.SetAttribute(pLogSetting, name::kLogDir, setting.GetLogFileDir());
    builder.SetAttribute(pLogSetting, name::kLogFileLimit, SwitchText(setting.IsLogFileLimit(), "yes", "no"));
    builder.SetAttribute(pLogSetting, name::kLogFileMaxSize, SignedText(setting.GetLogFileMaxSize()));
    builder.SetAttribute(pLogSetting, name::kLogging, SwitchText(setting.IsLogEnabled(), "yes", "no"));
    const struct {
      const char* lpSeverity;
      BOOL bEnabled;
    } levels[] = {{"INFO", setting.IsInfoLogEnabled()},
                  {"WARN", setting.IsWarningLogEnabled()},
                  {"ERROR", setting.IsErrorLogEnabled()},
                  {"DEBUG", setting.IsDebugLogEnabled()}};
    for (const auto& level : levels) {
      DOMElement* pLog = builder.AddElement(pLogSetting, name::kLog);
      builder.SetAttribute(pLog, name::kSeverity, level.lpSeverity);
      builder.SetAttribute(pLog, name::kLogging, SwitchText(level.bEnabled, "yes", "no"));
    }

    DOMElement* pPluginEntry = builder.AddElement(pRoot, name::kPluginEntry);
    for (const CKxAgentPluginEntry* pEntry : manager.m_vecPlugins) {
      // Every manager creates the built-in entry itself.
      if (pEntry->GetType() == KX_ENTRY_TYPE_BUILTIN) continue;
      DOMElement* pPlugin = builder.AddElement(pPluginEntry, name::kPlugin);
      builder.SetAttribute(pPlugin, name::kPluginId, SignedText(pEntry->GetPluginID()));
      builder.SetAttribute(pPlugin, name::kLibrary, pEntry->GetLibrary());
      builder.SetAttribute(pPlugin, name::kType, SignedText(pEntry->GetType()));
    }

    DOMElement* pLogonAccount = builder.AddElement(pRoot, name::kLogonAccount);
    for (const CKxAgentLogonAccount* pAccount : manager.m_vecAccounts) {
      DOMElement* pElement = builder.AddElement(pLogonAccount, name::kAccount);
      builder.SetAttribute(pElement, name::kId, SignedText(pAccount->GetAccountID()));
      builder.SetAttribute(pElement, name::kLogon, SwitchText(pAccount->IsLogonAllowed(), "yes", "no"));
      builder.SetAttribute(pElement, name::kDomain, SwitchText(pAccount->IsDomainAccount(), "yes", "no"));
      builder.AddTextElement(pElement, name::kAccountName, pAccount->GetAccountName());
      builder.AddTextElement(pElement, name::kDomainName, pAccount->GetDomainName());
      DOMElement* pAllow = builder.AddElement(pElement, name::kAllowCommands);
      for (int nCommandID : *pAccount->GetAllowCommandIDList()) {
        DOMElement* pCommand = builder.AddElement(pAllow, name::kCommand);
        builder.SetAttribute(pCommand, name::kId, SignedText(nCommandID));
      }
    }
  }

 private:
  static bool IsNamed(const XMLCh* lpName, const XMLCh* lpExpected) {
    return XMLString::compareString(lpName, lpExpected) == 0;
  }

  static bool IsYes(const std::string& strValue) { return strValue == "yes"; }

  // A missing attribute leaves its field as it is.
  static void ReadLogSetting(CKxAgentLogSetting& setting, const DOMElement* pElement) {
    std::string strValue;
    if (ReadAttribute(pElement, name::kLogDir, &strValue)) setting.SetLogFileDir(strValue.c_str());
    if (ReadAttribute(pElement, name::kLogFileLimit, &strValue)) setting.SetLogFileLimit(IsYes(strValue));
    if (ReadAttribute(pElement, name::kLogFileMaxSize, &strValue)) {
      setting.SetLogFileMaxSize(ReadInteger(strValue));
    }
    if (ReadAttribute(pElement, name::kLogging, &strValue)) setting.SetLogEnabled(IsYes(strValue));

    for (DOMNode* pNode = pElement->getFirstChild(); pNode; pNode = pNode->getNextSibling()) {
      if (!IsElementNamed(pNode, name::kLog)) continue;
      const DOMElement* pLog = static_cast<const DOMElement*>(pNode);
      std::string strSeverity;
      if (!ReadAttribute(pLog, name::kSeverity, &strSeverity)) continue;
      if (!ReadAttribute(pLog, name::kLogging, &strValue)) continue;
      BOOL bEnabled = IsYes(strValue) ? TRUE : FALSE;
      if (strSeverity == "INFO") {
        setting.SetInfoLogEnabled(bEnabled);
      } else if (strSeverity == "WARN") {
        setting.SetWarningLogEnabled(bEnabled);
      } else if (strSeverity == "ERROR") {
        setting.SetErrorLogEnabled(bEnabled);
      } else if (strSeverity == "DEBUG") {
        setting.SetDebugLogEnabled(bEnabled);
      }
    }
  }

  static void ReadPlugins(std::vector<CKxAgentPluginEntry*>& vecPlugins, const DOMElement* pElement) {
    for (DOMNode* pNode = pElement->getFirstChild(); pNode; pNode = pNode->getNextSibling()) {
      if (!IsElementNamed(pNode, name::kPlugin)) continue;
      const DOMElement* pPlugin = static_cast<const DOMElement*>(pNode);
      std::string strValue;
      // The ID fixes the plug-in's command ID block, which the accounts'
      // permissions refer to; inventing one could hand those permissions to
      // another plug-in, so such an entry is left out.
      if (!ReadAttribute(pPlugin, name::kPluginId, &strValue)) {
        std::printf("\nIgnored a plugin element without a plugin-id attribute.\n");
        std::fflush(stdout);
        continue;
      }
      int nID = ReadInteger(strValue);
      std::string strLibrary;
      ReadAttribute(pPlugin, name::kLibrary, &strLibrary);
      int nType = ReadAttribute(pPlugin, name::kType, &strValue) ? ReadInteger(strValue) : 0;
      vecPlugins.push_back(new CKxAgentPluginEntry(nID, strLibrary.c_str(), nType));
    }
  }

  static void ReadAccounts(std::vector<CKxAgentLogonAccount*>& vecAccounts, const DOMElement* pElement,
                           std::vector<CKxAgentLogonAccount*>* pvecWithoutID) {
    for (DOMNode* pNode = pElement->getFirstChild(); pNode; pNode = pNode->getNextSibling()) {
      if (!IsElementNamed(pNode, name::kAccount)) continue;
      const DOMElement* pAccountElement = static_cast<const DOMElement*>(pNode);
      std::string strValue;
      bool bHasID = ReadAttribute(pAccountElement, name::kId, &strValue);
      int nID = bHasID ? ReadInteger(strValue) : 0;
      BOOL bLogon = ReadAttribute(pAccountElement, name::kLogon, &strValue) && IsYes(strValue);
      BOOL bDomain = ReadAttribute(pAccountElement, name::kDomain, &strValue) && IsYes(strValue);
      std::string strAccountName = ElementText(FirstChildElement(pAccountElement, name::kAccountName));
      std::string strDomainName;
      if (bDomain) strDomainName = ElementText(FirstChildElement(pAccountElement, name::kDomainName));

      std::unique_ptr<CKxAgentLogonAccount> pAccount(new CKxAgentLogonAccount(
          nID, strAccountName.c_str(), strDomainName.c_str(), bLogon, bDomain));
      if (const DOMElement* pAllow = FirstChildElement(pAccountElement, name::kAllowCommands)) {
        DOMNodeList* pCommands = pAllow->getElementsByTagName(name::kCommand);
        for (XMLSize_t i = 0; i < pCommands->getLength(); ++i) {
          const DOMElement* pCommand = static_cast<const DOMElement*>(pCommands->item(i));
          if (ReadAttribute(pCommand, name::kId, &strValue)) {
            pAccount->AddAllowCommandID(ReadInteger(strValue));
          }
        }
      }
      vecAccounts.push_back(pAccount.release());
      if (!bHasID) pvecWithoutID->push_back(vecAccounts.back());
    }
  }
};

BOOL CKxAgentConfigManager::Initialize() {
  try {
    XMLPlatformUtils::Initialize();
  } catch (const XMLException& e) {
    PrintLoadException(e);
    return FALSE;
  }
  ++g_nXmlLibraryUsers;
  return TRUE;
}

void CKxAgentConfigManager::Terminate() {
  if (g_nXmlLibraryUsers == 0) return;
  --g_nXmlLibraryUsers;
  XMLPlatformUtils::Terminate();
}

BOOL CKxAgentConfigManager::LoadSystemConfig() {
  std::vector<CKxAgentLogonAccount*> vecWithoutID;
  if (IsXmlLibraryReady("LoadSystemConfig")) {
    RunGuardedLoad([&] {
      CConfigFileReader reader;
      if (const DOMElement* pRoot = reader.Parse(m_strSystemConfigPath)) {
        CXmlIO::ReadSystemConfig(*this, pRoot, &vecWithoutID);
      }
    });
  }
  // An account the file gives no ID still belongs in the list (the agent finds
  // accounts by name); it gets a fresh ID above every ID the file used.
  for (CKxAgentLogonAccount* pAccount : vecWithoutID) {
    int nMaxID = 0;
    for (const CKxAgentLogonAccount* pOther : m_vecAccounts) {
      if (pOther != pAccount && pOther->GetAccountID() > nMaxID) nMaxID = pOther->GetAccountID();
    }
    pAccount->m_nAccountID = nMaxID < INT32_MAX ? nMaxID + 1 : nMaxID;
  }
  m_bModified = FALSE;
  return TRUE;
}

DWORD KxAgentCheckConfigFile(const char* lpPath, char* lpProblem, DWORD cchProblem) {
  std::string strPath = lpPath != nullptr ? lpPath : "";
  DWORD dwResult = ERROR_SUCCESS;
  std::string strProblem;
  if (g_nXmlLibraryUsers == 0) {
    dwResult = ERROR_INVALID_FUNCTION;
    strProblem = strPath + ": the XML library is not initialized";
  } else {
    try {
      CConfigFileReader reader(false);
      if (reader.Parse(strPath) == nullptr) {
        dwResult = reader.GetProblemCode();
        strProblem = reader.GetProblem();
      }
    } catch (const XMLException& e) {
      dwResult = ERROR_INVALID_DATA;
      strProblem = strPath + ": " + XmlToModel(e.getMessage());
    } catch (const DOMException& e) {
      dwResult = ERROR_INVALID_DATA;
      strProblem = strPath + ": DOMException code " + std::to_string(e.code);
    } catch (...) {
      dwResult = ERROR_INVALID_DATA;
      strProblem = strPath + ": unexpected exception";
    }
  }
  if (lpProblem != nullptr && cchProblem > 0) {
    // Cut on a character boundary of code page 932.
    size_t cbKeep = 0;
    while (cbKeep < strProblem.size()) {
      size_t cbChar = kx::IsCp932LeadByte(static_cast<unsigned char>(strProblem[cbKeep])) ? 2 : 1;
      if (cbKeep + cbChar > cchProblem - 1 || cbKeep + cbChar > strProblem.size()) break;
      cbKeep += cbChar;
    }
    strProblem.copy(lpProblem, cbKeep);
    lpProblem[cbKeep] = '\0';
  }
  return dwResult;
}

BOOL CKxAgentConfigManager::LoadCommandConfig() {
  if (!IsXmlLibraryReady("LoadCommandConfig")) return TRUE;
  RunGuardedLoad([&] {
    CConfigFileReader reader;
    if (const DOMElement* pRoot = reader.Parse(m_strCommandConfigPath)) {
      CXmlIO::ReadCommandSets(m_vecCommands, pRoot);
    }
  });
  return TRUE;
}

BOOL CKxAgentConfigManager::SaveSystemConfig() {
  if (!IsXmlLibraryReady("SaveSystemConfig")) return FALSE;
  std::string strBytes;
  try {
    MemBufFormatTarget target;
    {
      CSaveObjects objects;
      DOMImplementation* pImpl = DOMImplementationRegistry::getDOMImplementation(kCoreFeature);
      objects.pDocument = pImpl->createDocument(nullptr, name::kSystemConfig, nullptr);
      CXmlIO::WriteSystemConfig(*this, objects.pDocument);

      objects.pSerializer = pImpl->createLSSerializer();
      objects.pSerializer->setNewLine(kNewLine);
      DOMConfiguration* pConfig = objects.pSerializer->getDomConfig();
      if (pConfig->canSetParameter(XMLUni::fgDOMWRTFormatPrettyPrint, true)) {
        pConfig->setParameter(XMLUni::fgDOMWRTFormatPrettyPrint, true);
      }
      // Xerces' own variant of pretty printing puts a blank line between elements.
      if (pConfig->canSetParameter(XMLUni::fgDOMWRTXercesPrettyPrint, false)) {
        pConfig->setParameter(XMLUni::fgDOMWRTXercesPrettyPrint, false);
      }
      objects.pOutput = pImpl->createLSOutput();
      objects.pOutput->setByteStream(&target);
      objects.pOutput->setEncoding(kFileEncoding);
      if (!objects.pSerializer->write(objects.pDocument, objects.pOutput)) return FALSE;
    }
    strBytes.assign(reinterpret_cast<const char*>(target.getRawBuffer()), target.getLen());
  } catch (const XMLException& e) {
    PrintSaveError(XmlToUtf8(e.getMessage()));
    return FALSE;
  } catch (const DOMException& e) {
    PrintSaveError("DOMException code " + std::to_string(e.code));
    return FALSE;
  } catch (...) {
    PrintSaveError("unexpected exception");
    return FALSE;
  }
  if (!ReplaceFileContents(m_strSystemConfigPath, strBytes)) {
    PrintSaveError("cannot write " + kx::Cp932ToUtf8(m_strSystemConfigPath));
    return FALSE;
  }
  m_bModified = FALSE;
  return TRUE;
}
