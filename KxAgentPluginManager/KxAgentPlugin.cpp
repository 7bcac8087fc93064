#include "KxAgentPluginManager/KxAgentPlugin.h"

#include <cstring>

#include "KxAgentPluginManager/PluginKind.h"

namespace {

char* DuplicateText(const char* lpText) {
  if (lpText == nullptr) lpText = "";
  size_t nLength = std::strlen(lpText);
  char* lpCopy = new char[nLength + 1];
  std::memcpy(lpCopy, lpText, nLength + 1);
  return lpCopy;
}

// Copies at most nCount - 1 bytes and always terminates, so an over-long text
// can never run past the record's buffer.
void CopyCut(char* lpBuffer, const char* lpText, size_t nCount) {
  if (lpText == nullptr) lpText = "";
  size_t nLength = strnlen(lpText, nCount - 1);
  std::memcpy(lpBuffer, lpText, nLength);
  lpBuffer[nLength] = '\0';
}

}  // namespace

CKxAgentCommandArgument::CKxAgentCommandArgument() : m_nCount(0) {
  for (int i = 0; i < KX_MAX_ARGUMENTS; ++i) {
    m_lpNames[i] = nullptr;
    m_lpValues[i] = nullptr;
  }
}

CKxAgentCommandArgument::~CKxAgentCommandArgument() {
  for (int i = 0; i < m_nCount; ++i) {
    delete[] m_lpNames[i];
    delete[] m_lpValues[i];
  }
}

int CKxAgentCommandArgument::Add(const char* lpName, const char* lpValue) {
  if (m_nCount >= KX_MAX_ARGUMENTS) return 0;
  m_lpNames[m_nCount] = DuplicateText(lpName);
  m_lpValues[m_nCount] = DuplicateText(lpValue);
  ++m_nCount;
  return 1;
}

int CKxAgentCommandArgument::SetValue(const char* lpName, const char* lpValue) {
  int nSlot = FindSlot(lpName);
  if (nSlot < 0) return Add(lpName, lpValue);
  // Copy before freeing: lpValue may point into the value being replaced.
  char* lpCopy = DuplicateText(lpValue);
  delete[] m_lpValues[nSlot];
  m_lpValues[nSlot] = lpCopy;
  return 1;
}

const char* CKxAgentCommandArgument::GetValue(const char* lpName) const {
  return GetTargetValuePtr(lpName);
}

const char* CKxAgentCommandArgument::GetValue(int nIndex) const {
  if (nIndex < 0 || nIndex >= m_nCount) return nullptr;
  return m_lpValues[nIndex];
}

const char* CKxAgentCommandArgument::GetName(int nIndex) const {
  if (nIndex < 0 || nIndex >= m_nCount) return nullptr;
  return m_lpNames[nIndex];
}

int CKxAgentCommandArgument::GetCount() const { return m_nCount; }

int CKxAgentCommandArgument::FindSlot(const char* lpName) const {
  if (lpName == nullptr) return -1;
  for (int i = 0; i < m_nCount; ++i) {
    if (std::strcmp(m_lpNames[i], lpName) == 0) return i;
  }
  return -1;
}

char* CKxAgentCommandArgument::GetTargetValuePtr(const char* lpName) const {
  int nSlot = FindSlot(lpName);
  return nSlot < 0 ? nullptr : m_lpValues[nSlot];
}

CKxAgentPluginInfo::CKxAgentPluginInfo() : CKxAgentPluginInfo(nullptr, nullptr, nullptr, 0, 0, 0) {}

CKxAgentPluginInfo::CKxAgentPluginInfo(const char* lpName, const char* lpDescription,
                                       const char* lpCopyright, int nMajorVersion,
                                       int nMinorVersion, int nType)
    : m_nMajorVersion(nMajorVersion), m_nMinorVersion(nMinorVersion), m_nType(nType) {
  std::memset(m_szName, 0, sizeof(m_szName));
  std::memset(m_szDescription, 0, sizeof(m_szDescription));
  std::memset(m_szCopyright, 0, sizeof(m_szCopyright));
  CopyCut(m_szName, lpName, KX_NAME_COPY);
  CopyCut(m_szDescription, lpDescription, KX_DESCRIPTION_COPY);
  CopyCut(m_szCopyright, lpCopyright, KX_COPYRIGHT_COPY);
}

const char* CKxAgentPluginInfo::GetType() const {
  // The built-in set has no name of its own here.
  const CKxPluginKindRow* pKind = KxFindPluginKindByPluginType(m_nType);
  if (pKind == nullptr || pKind->eKind == EKxPluginKind::kBuiltIn) return "Unknown";
  return pKind->lpDisplayName;
}
