#include "KxAgentConfigManager/KxAgentConfigManager.h"

#include <climits>

#include "platform/native_path.h"

namespace {

const DWORD kDefaultMaxComPort = 8;
const DWORD kDefaultComPort = 1;
const DWORD kDefaultComSpeed = 9600;
const DWORD kDefaultLogonTimeout = 180;
const char kDefaultOutputEncoding[] = "Shift_JIS";

std::string SafeString(const char* lpText) { return lpText ? std::string(lpText) : std::string(); }

template <typename T>
void DeleteAll(std::vector<T*>& vec) {
  for (T* p : vec) delete p;
  vec.clear();
}

// The scalar settings are 32-bit on every platform; unsigned long may be wider.
DWORD ToDword(unsigned long dwValue) { return static_cast<DWORD>(dwValue); }

bool IsPluginBlockFree(const std::vector<CKxAgentPluginEntry*>& vecPlugins, long long llBlock) {
  for (const CKxAgentPluginEntry* pEntry : vecPlugins) {
    long long llID = pEntry->GetPluginID();
    if (llID >= llBlock && llID < llBlock + KX_PLUGIN_ID_STEP) return false;
  }
  return true;
}

}  // namespace

CKxAgentConfigManager::CKxAgentConfigManager(const char* lpBaseDir)
    : m_bModified(FALSE),
      m_dwMaxComPort(kDefaultMaxComPort),
      m_dwComPort(kDefaultComPort),
      m_dwComSpeed(kDefaultComSpeed),
      m_strOutputEncoding(kDefaultOutputEncoding),
      m_dwLogonTimeout(kDefaultLogonTimeout),
      m_bEventLogNotification(TRUE),
      m_bHiddenImproperCommand(TRUE),
      m_bCPUMonitoring(FALSE),
      m_bScriptPluginSupport(FALSE) {
  std::string strBase = SafeString(lpBaseDir);
  SetConfigDir((strBase + "config" + kx::kPathSeparator).c_str());
  SetPluginDir((strBase + "plugins" + kx::kPathSeparator).c_str());
  m_vecPlugins.push_back(new CKxAgentPluginEntry(0, "", KX_ENTRY_TYPE_BUILTIN));
}

CKxAgentConfigManager::~CKxAgentConfigManager() {
  DeleteAll(m_vecAccounts);
  DeleteAll(m_vecCommands);
  DeleteAll(m_vecPlugins);
}

void CKxAgentConfigManager::SetConfigDir(const char* lpDir) {
  std::string strDir = SafeString(lpDir);
  m_strSystemConfigPath = strDir + "sysconfig.xml";
  m_strCommandConfigPath = strDir + "command.xml";
}

void CKxAgentConfigManager::SetPluginDir(const char* lpDir) { m_strPluginDir = SafeString(lpDir); }

void CKxAgentConfigManager::SetMaxComPort(unsigned long dwValue) {
  if (m_dwMaxComPort == ToDword(dwValue)) return;
  m_dwMaxComPort = ToDword(dwValue);
  MarkModified();
}

void CKxAgentConfigManager::SetComPort(unsigned long dwValue) {
  if (m_dwComPort == ToDword(dwValue)) return;
  m_dwComPort = ToDword(dwValue);
  MarkModified();
}

void CKxAgentConfigManager::SetComSpeed(unsigned long dwValue) {
  if (m_dwComSpeed == ToDword(dwValue)) return;
  m_dwComSpeed = ToDword(dwValue);
  MarkModified();
}

void CKxAgentConfigManager::SetLogonTimeout(unsigned long dwValue) {
  if (m_dwLogonTimeout == ToDword(dwValue)) return;
  m_dwLogonTimeout = ToDword(dwValue);
  MarkModified();
}

void CKxAgentConfigManager::SetOutputEncoding(const char* lpEncoding) {
  std::string strEncoding = SafeString(lpEncoding);
  if (m_strOutputEncoding == strEncoding) return;
  m_strOutputEncoding = strEncoding;
  MarkModified();
}

void CKxAgentConfigManager::SetEventLogNotification(BOOL bValue) {
  if (m_bEventLogNotification == bValue) return;
  m_bEventLogNotification = bValue;
  MarkModified();
}

void CKxAgentConfigManager::SetHiddenExecutionImproperCommand(BOOL bValue) {
  if (m_bHiddenImproperCommand == bValue) return;
  m_bHiddenImproperCommand = bValue;
  MarkModified();
}

void CKxAgentConfigManager::SetCPUMonitoring(BOOL bValue) {
  if (m_bCPUMonitoring == bValue) return;
  m_bCPUMonitoring = bValue;
  MarkModified();
}

void CKxAgentConfigManager::SetScriptPluginSupport(BOOL bValue) {
  if (m_bScriptPluginSupport == bValue) return;
  m_bScriptPluginSupport = bValue;
  MarkModified();
}

CKxAgentLogSetting* CKxAgentConfigManager::GetLogSetting() {
  // The caller may change the setting through the pointer, which the manager
  // cannot see afterwards.
  MarkModified();
  return &m_logSetting;
}

CKxAgentLogonAccount* CKxAgentConfigManager::GetLogonAccount(int nID) {
  for (CKxAgentLogonAccount* pAccount : m_vecAccounts) {
    if (pAccount->GetAccountID() == nID) {
      MarkModified();
      return pAccount;
    }
  }
  return nullptr;
}

CKxAgentLogonAccount* CKxAgentConfigManager::GetLogonAccount(const char* lpAccountName,
                                                             const char* lpDomain) {
  std::string strName = SafeString(lpAccountName);
  std::string strDomain = SafeString(lpDomain);
  for (CKxAgentLogonAccount* pAccount : m_vecAccounts) {
    if (strName == pAccount->GetAccountName() && strDomain == pAccount->GetDomainName()) {
      MarkModified();
      return pAccount;
    }
  }
  return nullptr;
}

CKxAgentLogonAccount* CKxAgentConfigManager::AddLogonAccount(const char* lpAccountName,
                                                             const char* lpDomain,
                                                             BOOL bLogonAllowed,
                                                             BOOL bDomainAccount) {
  MarkModified();
  int nMaxID = 0;
  for (const CKxAgentLogonAccount* pAccount : m_vecAccounts) {
    if (pAccount->GetAccountID() > nMaxID) nMaxID = pAccount->GetAccountID();
  }
  int nNewID = nMaxID + (nMaxID < INT_MAX ? 1 : 0);
  if (nMaxID == INT_MAX) {
    // A file may carry the largest int as an ID; then take the smallest free one
    // instead of overflowing.
    for (nNewID = 1; nNewID < INT_MAX; ++nNewID) {
      bool bUsed = false;
      for (const CKxAgentLogonAccount* pAccount : m_vecAccounts) {
        if (pAccount->GetAccountID() == nNewID) {
          bUsed = true;
          break;
        }
      }
      if (!bUsed) break;
    }
  }
  CKxAgentLogonAccount* pAccount =
      new CKxAgentLogonAccount(nNewID, lpAccountName, lpDomain, bLogonAllowed, bDomainAccount);
  m_vecAccounts.push_back(pAccount);
  return pAccount;
}

BOOL CKxAgentConfigManager::RemoveLogonAccount(int nID) {
  for (auto it = m_vecAccounts.begin(); it != m_vecAccounts.end(); ++it) {
    if ((*it)->GetAccountID() == nID) {
      delete *it;
      m_vecAccounts.erase(it);
      MarkModified();
      return TRUE;
    }
  }
  return FALSE;
}

CKxAgentPluginEntry* CKxAgentConfigManager::GetPluginEntry(int nID) {
  for (CKxAgentPluginEntry* pEntry : m_vecPlugins) {
    if (pEntry->GetPluginID() == nID) {
      MarkModified();
      return pEntry;
    }
  }
  return nullptr;
}

CKxAgentPluginEntry* CKxAgentConfigManager::AddPlugin(const char* lpLibrary, int nType) {
  MarkModified();
  long long llMaxID = 0;
  for (const CKxAgentPluginEntry* pEntry : m_vecPlugins) {
    if (pEntry->GetPluginID() > llMaxID) llMaxID = pEntry->GetPluginID();
  }
  long long llNewID = llMaxID + KX_PLUGIN_ID_STEP;
  if (llNewID > INT_MAX) {
    // The blocks above are exhausted (only a hand-edited file gets here): take
    // the lowest block that no entry occupies.
    for (llNewID = KX_PLUGIN_ID_STEP; llNewID <= INT_MAX - (KX_PLUGIN_ID_STEP - 1);
         llNewID += KX_PLUGIN_ID_STEP) {
      if (IsPluginBlockFree(m_vecPlugins, llNewID)) break;
    }
  }
  CKxAgentPluginEntry* pEntry =
      new CKxAgentPluginEntry(static_cast<int>(llNewID), lpLibrary, nType);
  m_vecPlugins.push_back(pEntry);
  return pEntry;
}

BOOL CKxAgentConfigManager::RemovePlugin(int nID) {
  auto itEntry = m_vecPlugins.begin();
  while (itEntry != m_vecPlugins.end() && (*itEntry)->GetPluginID() != nID) ++itEntry;
  if (itEntry == m_vecPlugins.end()) return FALSE;

  for (CKxAgentLogonAccount* pAccount : m_vecAccounts) {
    std::vector<int> vecInBlock;
    for (int nCommandID : *pAccount->GetAllowCommandIDList()) {
      if (nCommandID / KX_PLUGIN_ID_STEP * KX_PLUGIN_ID_STEP == nID) vecInBlock.push_back(nCommandID);
    }
    for (int nCommandID : vecInBlock) pAccount->RemoveAllowCommandID(nCommandID);
  }

  delete *itEntry;
  m_vecPlugins.erase(itEntry);
  MarkModified();
  return TRUE;
}

BOOL CKxAgentConfigManager::LoadConfig() { return LoadSystemConfig(); }
