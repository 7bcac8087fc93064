#include "KxAgentConfigManager/KxAgentConfigManager.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "KxAgentPluginManager/PluginKind.h"
#include "platform/native_path.h"

namespace {

const long kDefaultLogFileMaxSize = 10485760;

std::string SafeString(const char* lpText) { return lpText ? std::string(lpText) : std::string(); }

}  // namespace

// The stored numbers are the plug-in kinds' own.
static_assert(KxPluginKindRow(EKxPluginKind::kBuiltIn).nEntryType == KX_ENTRY_TYPE_BUILTIN &&
                  KxPluginKindRow(EKxPluginKind::kVBScript).nEntryType == KX_ENTRY_TYPE_VBSCRIPT &&
                  KxPluginKindRow(EKxPluginKind::kJScript).nEntryType == KX_ENTRY_TYPE_JSCRIPT &&
                  KxPluginKindRow(EKxPluginKind::kDLL).nEntryType == KX_ENTRY_TYPE_DLL,
              "one numbering of the plug-in kinds");

const char* KxAgentGetTypeName(int nType) {
  const CKxPluginKindRow* pKind = KxFindPluginKindByEntryType(nType);
  return pKind != nullptr ? pKind->lpDisplayName : "Unknown?";
}

CKxAgentLogSetting::CKxAgentLogSetting()
    : m_bLogFileLimit(FALSE),
      m_lLogFileMaxSize(kDefaultLogFileMaxSize),
      m_bLogEnabled(FALSE),
      m_bInfoLogEnabled(FALSE),
      m_bWarningLogEnabled(FALSE),
      m_bErrorLogEnabled(FALSE),
      m_bDebugLogEnabled(FALSE) {
  // "." when the current directory is unknown keeps the log at a usable relative location.
  SetLogFileDir((kx::GetCurrentDirectoryPath() + kx::kPathSeparator + "log").c_str());
}

void CKxAgentLogSetting::SetLogFileDir(const char* lpDir) {
  m_strLogFileDir = SafeString(lpDir);
  const std::string strPrefix = m_strLogFileDir + kx::kPathSeparator;
  m_strInfoLogFilePath = strPrefix + "info.log";
  m_strWarningLogFilePath = strPrefix + "warning.log";
  m_strErrorLogFilePath = strPrefix + "error.log";
  m_strDebugLogFilePath = strPrefix + "debug.log";
}

void CKxAgentLogSetting::SetLogFileMaxSize(long lSize) {
  // The file format and the log writer carry the size as a 32-bit value.
  m_lLogFileMaxSize = std::clamp<long>(lSize, INT32_MIN, INT32_MAX);
}

CKxAgentLogonAccount::CKxAgentLogonAccount(int nID, const char* lpAccountName,
                                           const char* lpDomain, BOOL bLogonAllowed,
                                           BOOL bDomainAccount)
    : m_nAccountID(nID),
      m_strAccountName(SafeString(lpAccountName)),
      m_strDomainName(bDomainAccount ? SafeString(lpDomain) : std::string()),
      m_bLogonAllowed(bLogonAllowed),
      m_bDomainAccount(bDomainAccount) {}

BOOL CKxAgentLogonAccount::IsAllowedCommand(int nID) const {
  return std::find(m_vecAllowCommandIDs.begin(), m_vecAllowCommandIDs.end(), nID) !=
                 m_vecAllowCommandIDs.end()
             ? TRUE
             : FALSE;
}

void CKxAgentLogonAccount::AddAllowCommandID(int nID) {
  if (!IsAllowedCommand(nID)) m_vecAllowCommandIDs.push_back(nID);
}

BOOL CKxAgentLogonAccount::RemoveAllowCommandID(int nID) {
  auto it = std::find(m_vecAllowCommandIDs.begin(), m_vecAllowCommandIDs.end(), nID);
  if (it == m_vecAllowCommandIDs.end()) return FALSE;
  m_vecAllowCommandIDs.erase(it);
  return TRUE;
}

CKxAgentPluginEntry::CKxAgentPluginEntry(int nID, const char* lpLibrary, int nType)
    : m_nPluginID(nID), m_nType(nType), m_strLibrary(SafeString(lpLibrary)) {}

CKxAgentCommand::CKxAgentCommand(int nType, int nCommandID, const char* lpDefinition,
                                 const char* lpLibrary, int nPluginCommandID)
    : m_nCommandID(nCommandID),
      m_nType(nType),
      m_strDefinition(SafeString(lpDefinition)),
      m_nPluginCommandID(nPluginCommandID),
      m_strLibrary(SafeString(lpLibrary)) {}
