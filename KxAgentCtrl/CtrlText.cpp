#include "KxAgentCtrl/CtrlText.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "platform/native_path.h"
#include "platform/stdout_capture.h"
#include "platform/text_encoding.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The configuration library reports a file it cannot parse only on standard
// output; the report, without its blank lines, is the reason the tool shows.
std::string LoadAndTakeReport(CKxAgentConfigManager* pManager) {
  std::string strReport = kx::CaptureStandardOutput([pManager] { pManager->LoadConfig(); });
  std::string strLines;
  size_t nStart = 0;
  while (nStart < strReport.size()) {
    size_t nEnd = strReport.find('\n', nStart);
    if (nEnd == std::string::npos) nEnd = strReport.size();
    std::string strLine = KxTrim(strReport.substr(nStart, nEnd - nStart));
    if (!strLine.empty()) strLines += (strLines.empty() ? "" : "\r\n") + strLine;
    nStart = nEnd + 1;
  }
  return strLines;
}

}  // namespace

std::string KxTrim(const std::string& strText) {
  size_t nBegin = 0;
  size_t nEnd = strText.size();
  while (nBegin < nEnd && IsBlank(strText[nBegin])) ++nBegin;
  while (nEnd > nBegin && IsBlank(strText[nEnd - 1])) --nEnd;
  return strText.substr(nBegin, nEnd - nBegin);
}

std::string KxToLower(const std::string& strText) {
  std::string strLower = strText;
  for (size_t i = 0; i < strLower.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(strLower[i]);
    if (kx::IsCp932LeadByte(c) && i + 1 < strLower.size()) {
      ++i;  // the trail byte of a double-byte character may look like a letter
    } else if (c >= 'A' && c <= 'Z') {
      strLower[i] = static_cast<char>(c - 'A' + 'a');
    }
  }
  return strLower;
}

bool KxParseIntegerField(const std::string& strText, int nMin, int nMax, int* pnValue, CKxCtrlMessage* pMessage) {
  std::string strNumber = KxTrim(strText);
  const char* lpBegin = strNumber.c_str();
  char* lpEnd = nullptr;
  errno = 0;
  long lValue = std::strtol(lpBegin, &lpEnd, 10);
  bool bNumber = !strNumber.empty() && *lpEnd == '\0' && !IsBlank(strNumber[0]) && errno == 0 &&
                 lValue >= -2147483647L - 1 && lValue <= 2147483647L;
  if (!bNumber) {
    pMessage->Set(KxText(KX_TEXT_ENTER_INTEGER), KxText(KX_TEXT_FRAMEWORK_TITLE), KX_ICON_EXCLAMATION);
    return false;
  }
  if (lValue < nMin || lValue > nMax) {
    pMessage->Set(KxFormatText(KX_TEXT_ENTER_INTEGER_RANGE, nMin, nMax), KxText(KX_TEXT_FRAMEWORK_TITLE),
                  KX_ICON_EXCLAMATION);
    return false;
  }
  *pnValue = static_cast<int>(lValue);
  return true;
}

bool CKxCtrlConfigFile::Load(CKxCtrlMessage* pMessage) {
  std::error_code error;
  bool bExists = std::filesystem::exists(kx::ToFileSystemPath(m_pManager->GetSystemConfigPath()), error);
  std::string strReport = LoadAndTakeReport(m_pManager);
  m_bUnreadable = bExists && !strReport.empty();
  if (!m_bUnreadable) return true;
  pMessage->Set(KxFormatText(KX_TEXT_LOAD_FAILED, m_pManager->GetSystemConfigPath(), strReport.c_str()),
                KxText(KX_TEXT_LOAD_FAILED_TITLE), KX_ICON_EXCLAMATION);
  return false;
}

std::string CKxCtrlConfigFile::GetKeptCopyPath() const { return std::string(m_pManager->GetSystemConfigPath()) + ".bad"; }

bool CKxCtrlConfigFile::Save(CKxCtrlMessage* pMessage) {
  *pMessage = CKxCtrlMessage();
  std::string strPath = m_pManager->GetSystemConfigPath();
  if (m_bUnreadable) {
    CKxCtrlMessage question;
    question.Set(KxFormatText(KX_TEXT_REPLACE_UNREADABLE, strPath.c_str(), GetKeptCopyPath().c_str()),
                 KxText(KX_TEXT_REPLACE_UNREADABLE_TITLE), KX_ICON_QUESTION);
    if (!m_fnAsk || !m_fnAsk(question)) return false;
    std::error_code error;
    std::filesystem::path source = kx::ToFileSystemPath(strPath);
    if (std::filesystem::exists(source, error)) {
      std::filesystem::copy_file(source, kx::ToFileSystemPath(GetKeptCopyPath()),
                                 std::filesystem::copy_options::overwrite_existing, error);
      if (error) {
        pMessage->Set(KxFormatText(KX_TEXT_KEEP_UNREADABLE_FAILED, GetKeptCopyPath().c_str()),
                      KxText(KX_TEXT_SAVE_FAILED_TITLE), KX_ICON_ERROR);
        return false;
      }
    }
    m_bUnreadable = false;
  }
  if (m_pManager->SaveSystemConfig()) return true;
  pMessage->Set(KxFormatText(KX_TEXT_SAVE_FAILED, strPath.c_str()), KxText(KX_TEXT_SAVE_FAILED_TITLE), KX_ICON_ERROR);
  return false;
}

bool CKxCtrlConfigFile::SaveAtOK(CKxCtrlMessage* pMessage) {
  *pMessage = CKxCtrlMessage();
  return !m_pManager->IsModified() || Save(pMessage);
}
