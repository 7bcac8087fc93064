#include "KxAgentCtrl/PluginPageLogic.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/PluginReader.h"
#include "KxAgentPluginManager/PluginFile.h"
#include "platform/error_codes.h"
#include "platform/native_path.h"
#include "platform/replace_file.h"
#include "platform/text_compare.h"
#include "platform/text_encoding.h"

namespace fs = std::filesystem;

namespace {

// A library name the configuration may hold: a plain file name. Anything else
// would reach outside the plug-in directory when it is loaded or deleted.
bool IsBareFileName(const std::string& strName) { return IsPluginFileName(strName.c_str()); }

std::string ToUpperAscii(std::string strText) {
  for (char& c : strText) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return strText;
}

// The entry type of a file, from its extension; 0 when it is no plug-in kind.
int TypeOfFile(const std::string& strName) {
  const CKxPluginKindRow* pKind = KxFindPluginKindByFileName(strName);
  return pKind != nullptr ? pKind->nEntryType : 0;
}

// Whether entries of type nType are scripts, which need the script hosts.
bool IsScriptType(int nType) {
  const CKxPluginKindRow* pKind = KxFindPluginKindByEntryType(nType);
  return pKind != nullptr && pKind->lpLanguage != nullptr;
}

// Whether the file system holding strDir (or its nearest existing parent)
// finds a file by its name in other letter case.
bool IsCaseInsensitiveFileSystem(const std::string& strDir) {
  std::error_code error;
  fs::path dir = kx::ToFileSystemPath(strDir);
  while (!fs::is_directory(dir, error)) {
    fs::path parent = dir.parent_path();
    if (parent.empty() || parent == dir) return false;
    dir = parent;
  }
  fs::path probe = dir / ("kxcase_probe_" + std::to_string(std::random_device{}()));
  { std::ofstream file(probe); if (!file) return false; }
  bool bInsensitive = fs::exists(dir / ToUpperAscii(probe.filename().string()), error);
  fs::remove(probe, error);
  return bInsensitive;
}

// Copies the chosen file into the plug-in directory, replacing a file of that
// name. A file chosen inside the plug-in directory is already in place;
// removing the target first would delete the only copy.
bool CopyPluginFile(const std::string& strSource, const std::string& strDir, const std::string& strName) {
  std::error_code error;
  fs::path source = kx::ToFileSystemPath(strSource);
  fs::path target = kx::ToFileSystemPath(strDir + strName);
  // A file chosen inside the plug-in directory is already in place; replacing
  // the target would copy the file onto itself.
  if (fs::exists(target, error) && fs::equivalent(source, target, error)) return true;
  return kx::InstallFileCopy(strSource.c_str(), strDir.c_str(), strName.c_str()) == ERROR_SUCCESS;
}

}  // namespace

CKxAgentPluginPageLogic::CKxAgentPluginPageLogic(CKxCtrlConfigFile* pFile, CKxAgentCtrlPluginReader* pReader)
    : m_pFile(pFile), m_pManager(pFile->GetManager()), m_pReader(pReader) {}

std::string CKxAgentPluginPageLogic::GetFileName(const std::string& strPath) {
  size_t nStart = 0;
  for (size_t i = 0; i < strPath.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(strPath[i]);
    if (kx::IsCp932LeadByte(c) && i + 1 < strPath.size()) {
      ++i;  // a trail byte may be 0x5C, the back-slash
    } else if (c == '/' || c == static_cast<unsigned char>(kx::kPathSeparator)) {
      nStart = i + 1;
    }
  }
  return strPath.substr(nStart);
}

bool CKxAgentPluginPageLogic::LoadEntry(const CKxAgentPluginEntry* pEntry, CKxAgentPluginSummary* pSummary) {
  return m_pReader->Load(pEntry->GetType(), MakePluginFilePath(m_pManager->GetPluginDir(), pEntry->GetLibrary()),
                         pSummary);
}

bool CKxAgentPluginPageLogic::MakeRow(int nPluginID, CKxPluginRow* pRow) {
  CKxAgentPluginEntry* pEntry = m_pManager->GetPluginEntry(nPluginID);
  if (pEntry == nullptr) return false;
  CKxAgentPluginSummary summary;
  if (!LoadEntry(pEntry, &summary)) return false;
  pRow->nPluginID = nPluginID;
  pRow->strName = summary.strName;
  pRow->strTypeName = pEntry->GetTypeName();
  pRow->strVersion = KxFormatText(KX_TEXT_PLUGIN_VERSION, summary.nMajorVersion, summary.nMinorVersion);
  pRow->strCommandCount = std::to_string(summary.vecCommands.size());
  if (pEntry->GetType() == KX_ENTRY_TYPE_BUILTIN) {
    pRow->strTooltip = KxFormatText(KX_TEXT_TOOLTIP_BUILTIN, pRow->strName.c_str());
  } else {
    pRow->strTooltip = KxFormatText(KX_TEXT_TOOLTIP_PLUGIN, pRow->strName.c_str(), pEntry->GetLibrary());
  }
  pRow->strTooltip = kx::CutCp932(pRow->strTooltip, KX_TOOLTIP_LENGTH);
  return true;
}

std::vector<CKxPluginRow> CKxAgentPluginPageLogic::BuildRows(std::vector<CKxCtrlMessage>* pFailures) {
  std::vector<CKxPluginRow> rows;
  std::vector<std::pair<int, int>> entries;  // ID, type: the list may not change while rows are made
  for (const CKxAgentPluginEntry* pEntry : *m_pManager->GetPluginList()) {
    entries.emplace_back(pEntry->GetPluginID(), pEntry->GetType());
  }
  for (const auto& entry : entries) {
    if (IsScriptType(entry.second) && !m_pReader->HasScriptHosts()) continue;
    CKxPluginRow row;
    if (MakeRow(entry.first, &row)) {
      rows.push_back(row);
    } else {
      CKxCtrlMessage message;
      message.Set(KxFormatText(KX_TEXT_PLUGIN_LOAD_FAILED, m_pManager->GetPluginEntry(entry.first)->GetLibrary()),
                  KxText(KX_TEXT_PLUGIN_LOAD_ERROR_TITLE), KX_ICON_ERROR);
      pFailures->push_back(message);
    }
  }
  return rows;
}

bool CKxAgentPluginPageLogic::Show(int nPluginID, std::vector<std::string>* pCommands, std::string* pstrInformation) {
  CKxAgentPluginEntry* pEntry = m_pManager->GetPluginEntry(nPluginID);
  if (pEntry == nullptr) return false;
  CKxAgentPluginSummary summary;
  if (!LoadEntry(pEntry, &summary)) return false;
  *pCommands = summary.vecCommands;
  *pstrInformation = KxFormatText(KX_TEXT_PLUGIN_INFO, summary.strDescription.c_str(), summary.strCopyright.c_str());
  return true;
}

bool CKxAgentPluginPageLogic::CanInstall(CKxCtrlMessage* pMessage) const {
  if (m_pManager->GetPluginList()->size() < KX_MAX_PLUGIN_ENTRIES) return true;
  pMessage->Set(KxText(KX_TEXT_PLUGIN_LIMIT), KxText(KX_TEXT_INSTALL_ERROR_TITLE), KX_ICON_ERROR);
  return false;
}

std::string CKxAgentPluginPageLogic::GetFileFilterName() const { return KxText(KX_TEXT_FILE_FILTER_NAME); }

std::vector<std::string> CKxAgentPluginPageLogic::GetFilePatterns() const {
  // Plug-in libraries are shared objects on POSIX systems, DLLs on Windows.
  std::vector<std::string> patterns{"*.so", "*.dll"};
  if (m_pReader->HasScriptHosts()) {
    patterns.push_back("*.vbs");
    patterns.push_back("*.js");
  }
  return patterns;
}

bool CKxAgentPluginPageLogic::IsSameFileName(const std::string& strFirst, const std::string& strSecond) const {
  if (strFirst == strSecond) return true;
  if (kx::CompareNoCase(strFirst.c_str(), strSecond.c_str()) != 0) return false;
  return IsCaseInsensitiveFileSystem(m_pManager->GetPluginDir());
}

bool CKxAgentPluginPageLogic::Install(const std::string& strPath, CKxPluginRow* pRow, CKxCtrlMessage* pMessage,
                                      bool* pbSaveFailed) {
  *pbSaveFailed = false;
  std::string strName = GetFileName(strPath);
  if (!IsBareFileName(strName)) {
    pMessage->Set(KxFormatText(KX_TEXT_BAD_FILE_NAME, strName.c_str()), KxText(KX_TEXT_INSTALL_ERROR_TITLE),
                  KX_ICON_ERROR);
    return false;
  }
  for (const CKxAgentPluginEntry* pEntry : *m_pManager->GetPluginList()) {
    if (pEntry->GetType() != KX_ENTRY_TYPE_BUILTIN && IsSameFileName(strName, pEntry->GetLibrary())) {
      pMessage->Set(KxText(KX_TEXT_SAME_FILE_NAME), KxText(KX_TEXT_INSTALL_ERROR_TITLE), KX_ICON_ERROR);
      return false;
    }
  }
  int nType = TypeOfFile(strName);
  CKxAgentPluginSummary summary;
  if (nType == 0 || !m_pReader->Load(nType, strPath, &summary)) {
    pMessage->Set(KxText(IsScriptType(nType) ? KX_TEXT_SCRIPT_LOAD_FAILED : KX_TEXT_DLL_LOAD_FAILED),
                  KxText(KX_TEXT_PLUGIN_LOAD_ERROR_TITLE), KX_ICON_ERROR);
    return false;
  }
  int nPluginID = m_pManager->AddPlugin(strName.c_str(), nType)->GetPluginID();
  std::string strDir = m_pManager->GetPluginDir();
  std::error_code error;
  fs::create_directories(kx::ToFileSystemPath(strDir), error);
  if (!fs::is_directory(kx::ToFileSystemPath(strDir), error)) {
    pMessage->Set(KxText(KX_TEXT_PLUGIN_DIR_FAILED), KxText(KX_TEXT_INSTALL_ERROR_TITLE), KX_ICON_ERROR);
    m_pManager->RemovePlugin(nPluginID);
    return false;
  }
  if (!CopyPluginFile(strPath, strDir, strName)) {
    pMessage->Set(KxText(KX_TEXT_COPY_FAILED), KxText(KX_TEXT_INSTALL_ERROR_TITLE), KX_ICON_ERROR);
    m_pManager->RemovePlugin(nPluginID);
    return false;
  }
  bool bRow = MakeRow(nPluginID, pRow);
  if (!m_pFile->Save(pMessage)) *pbSaveFailed = true;
  if (!bRow) pRow->nPluginID = -1;
  return true;
}

bool CKxAgentPluginPageLogic::CheckUninstall(int nPluginID, const CKxPluginRow& row, CKxCtrlMessage* pMessage,
                                             std::string* pstrQuestion) {
  CKxAgentPluginEntry* pEntry = m_pManager->GetPluginEntry(nPluginID);
  if (pEntry == nullptr) return false;
  if (pEntry->GetType() == KX_ENTRY_TYPE_BUILTIN) {
    pMessage->Set(KxText(KX_TEXT_BUILTIN_NOT_REMOVABLE), KxText(KX_TEXT_UNINSTALL_ERROR_TITLE), KX_ICON_ERROR);
    return false;
  }
  *pstrQuestion =
      KxFormatText(KX_TEXT_UNINSTALL_QUESTION, row.strName.c_str(), pEntry->GetLibrary(), row.strTypeName.c_str());
  return true;
}

std::string CKxAgentPluginPageLogic::GetUninstallTitle() { return KxText(KX_TEXT_UNINSTALL_TITLE); }

void CKxAgentPluginPageLogic::RemovePluginAndFile(int nPluginID) {
  CKxAgentPluginEntry* pEntry = m_pManager->GetPluginEntry(nPluginID);
  if (pEntry == nullptr) return;
  std::string strLibrary = pEntry->GetLibrary();
  // A file that cannot be deleted still leaves the configuration.
  if (IsBareFileName(strLibrary)) {
    std::error_code error;
    fs::remove(kx::ToFileSystemPath(m_pManager->GetPluginDir() + strLibrary), error);
  }
  m_pManager->RemovePlugin(nPluginID);
}

bool CKxAgentPluginPageLogic::Uninstall(int nPluginID, CKxCtrlMessage* pMessage) {
  RemovePluginAndFile(nPluginID);
  return m_pFile->Save(pMessage);
}

std::string CKxAgentPluginPageLogic::GetScriptOffQuestion() { return KxText(KX_TEXT_SCRIPTS_OFF_QUESTION); }

std::string CKxAgentPluginPageLogic::GetScriptOffTitle() { return KxText(KX_TEXT_SCRIPTS_OFF_TITLE); }

void CKxAgentPluginPageLogic::TurnScriptsOn() { m_pReader->CreateScriptHosts(); }

std::vector<int> CKxAgentPluginPageLogic::TurnScriptsOff(CKxCtrlMessage* pMessage) {
  std::vector<int> removed;
  for (const CKxAgentPluginEntry* pEntry : *m_pManager->GetPluginList()) {
    if (IsScriptType(pEntry->GetType())) {
      removed.push_back(pEntry->GetPluginID());
    }
  }
  for (int nPluginID : removed) RemovePluginAndFile(nPluginID);
  m_pReader->DestroyScriptHosts();
  m_pFile->Save(pMessage);
  return removed;
}

void CKxAgentPluginPageLogic::Store(bool bScriptPlugins) {
  m_pManager->SetScriptPluginSupport(bScriptPlugins ? TRUE : FALSE);
}
