#include "KxAgentCtrl/CtrlText.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "KxAgentConfigManager/ConfigFileCheck.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "platform/error_codes.h"
#include "platform/native_path.h"
#include "platform/text_compare.h"
#include "platform/text_encoding.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string KxTrim(const std::string& strText) {
  size_t nBegin = 0;
  size_t nEnd = strText.size();
  while (nBegin < nEnd && IsBlank(strText[nBegin])) ++nBegin;
  while (nEnd > nBegin && IsBlank(strText[nEnd - 1])) --nEnd;
  return strText.substr(nBegin, nEnd - nBegin);
}

std::string KxToLower(const std::string& strText) { return kx::LowerCaseSingleByte(strText); }

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
  // A missing file is a new installation's: the defaults are shown and saved.
  char szProblem[1024] = "";
  DWORD dwCheck = KxAgentCheckConfigFile(m_pManager->GetSystemConfigPath(), szProblem, sizeof(szProblem));
  m_pManager->LoadConfig();
  m_bUnreadable = dwCheck != ERROR_SUCCESS && dwCheck != ERROR_FILE_NOT_FOUND;
  if (!m_bUnreadable) return true;
  pMessage->Set(KxFormatText(KX_TEXT_LOAD_FAILED, m_pManager->GetSystemConfigPath(), szProblem),
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
