#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/accounts.h"
#include "platform/error_codes.h"

struct kx::CLogonTokenData {
  std::string strUser;
  std::string strDomain;
};

namespace kx {
namespace {

const char kPamService[] = "kxagent";

// Overwrites memory in a way the optimiser may not drop.
void WipeMemory(void* lpData, size_t nSize) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(lpData);
  while (nSize-- > 0) *p++ = 0;
}

// Answers PAM's hidden prompts with the password and its visible prompts with
// nothing; messages are ignored. PAM frees the answers, so each is a malloc'ed copy.
int Conversation(int nMessages, const struct pam_message** ppMessages,
                 struct pam_response** ppResponses, void* lpPassword) {
  if (nMessages <= 0 || ppMessages == nullptr || ppResponses == nullptr) return PAM_CONV_ERR;
  struct pam_response* pResponses =
      static_cast<struct pam_response*>(std::calloc(nMessages, sizeof(struct pam_response)));
  if (pResponses == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < nMessages; ++i) {
    const char* lpAnswer = nullptr;
    switch (ppMessages[i]->msg_style) {
      case PAM_PROMPT_ECHO_OFF:
        lpAnswer = static_cast<const char*>(lpPassword);
        break;
      case PAM_PROMPT_ECHO_ON:
        lpAnswer = "";
        break;
      default:
        break;
    }
    if (lpAnswer == nullptr) continue;
    pResponses[i].resp = strdup(lpAnswer);
    if (pResponses[i].resp == nullptr) {
      for (int j = 0; j < i; ++j) {
        if (pResponses[j].resp != nullptr) {
          WipeMemory(pResponses[j].resp, std::strlen(pResponses[j].resp));
          std::free(pResponses[j].resp);
        }
      }
      std::free(pResponses);
      return PAM_BUF_ERR;
    }
  }
  *ppResponses = pResponses;
  return PAM_SUCCESS;
}

DWORD PamResultToWinError(int nResult) {
  switch (nResult) {
    case PAM_SUCCESS:
      return ERROR_SUCCESS;
    case PAM_AUTH_ERR:
    case PAM_USER_UNKNOWN:
    case PAM_CRED_INSUFFICIENT:
    case PAM_CRED_ERR:
    case PAM_CONV_ERR:
      return ERROR_LOGON_FAILURE;
    case PAM_NEW_AUTHTOK_REQD:
    case PAM_AUTHTOK_EXPIRED:
    case PAM_CRED_EXPIRED:
      return ERROR_PASSWORD_EXPIRED;
    case PAM_ACCT_EXPIRED:
      return ERROR_ACCOUNT_EXPIRED;
    case PAM_PERM_DENIED:
      return ERROR_ACCOUNT_RESTRICTION;
    case PAM_MAXTRIES:
      return ERROR_ACCOUNT_LOCKED_OUT;
    case PAM_BUF_ERR:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace

DWORD LogonUserAccount(const char* lpUserName, const char* lpDomain, const char* lpPassword,
                       HLOGONTOKEN* phToken) {
  if (phToken != nullptr) *phToken = nullptr;
  if (lpUserName == nullptr || lpPassword == nullptr || phToken == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  if (lpUserName[0] == '\0') return ERROR_LOGON_FAILURE;

  std::string strDomain = (lpDomain == nullptr || std::strcmp(lpDomain, ".") == 0) ? "" : lpDomain;
  std::string strLogonName = lpUserName;
  if (!strDomain.empty()) strLogonName += "@" + strDomain;

  // PAM may keep the conversation pointer until pam_end, so the password copy
  // lives on the heap of this call and is wiped before it is released.
  size_t nPasswordLength = std::strlen(lpPassword);
  char* lpPasswordCopy = static_cast<char*>(std::malloc(nPasswordLength + 1));
  if (lpPasswordCopy == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  std::memcpy(lpPasswordCopy, lpPassword, nPasswordLength + 1);

  struct pam_conv conversation = {Conversation, lpPasswordCopy};
  pam_handle_t* pHandle = nullptr;
  int nResult = pam_start(kPamService, strLogonName.c_str(), &conversation, &pHandle);
  if (nResult == PAM_SUCCESS) {
    nResult = pam_authenticate(pHandle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (nResult == PAM_SUCCESS) nResult = pam_acct_mgmt(pHandle, PAM_SILENT);
  }
  if (pHandle != nullptr) pam_end(pHandle, nResult);
  WipeMemory(lpPasswordCopy, nPasswordLength);
  std::free(lpPasswordCopy);

  DWORD dwError = PamResultToWinError(nResult);
  if (dwError != ERROR_SUCCESS) return dwError;
  CLogonTokenData* pToken = new (std::nothrow) CLogonTokenData;
  if (pToken == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  pToken->strUser = lpUserName;
  pToken->strDomain = strDomain;
  *phToken = pToken;
  return ERROR_SUCCESS;
}

const char* GetLogonTokenUser(HLOGONTOKEN hToken) {
  return hToken == nullptr ? "" : hToken->strUser.c_str();
}

void CloseLogonToken(HLOGONTOKEN hToken) { delete hToken; }

}  // namespace kx
