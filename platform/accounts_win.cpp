#include "platform/windows_win.h"

#include <new>
#include <string>

#include "platform/accounts.h"
#include "platform/error_codes.h"

struct kx::CLogonTokenData {
  HANDLE hToken;
  std::string strUserName;
};

namespace kx {

DWORD LogonUserAccount(const char* lpUserName, const char* lpDomain, const char* lpPassword,
                       HLOGONTOKEN* phToken) {
  if (phToken == nullptr) return ERROR_INVALID_PARAMETER;
  *phToken = nullptr;
  if (lpUserName == nullptr || lpPassword == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpUserName[0] == '\0') return ERROR_LOGON_FAILURE;
  std::string strUser, strDomain;
  BOOL bNoDomain = FALSE;
  SplitLogonName(lpUserName, lpDomain, &strUser, &strDomain, &bNoDomain);
  HANDLE hToken = nullptr;
  if (!::LogonUserA(strUser.c_str(), bNoDomain ? nullptr : strDomain.c_str(), lpPassword, LOGON32_LOGON_INTERACTIVE,
                    LOGON32_PROVIDER_DEFAULT, &hToken)) {
    DWORD dwError = ::GetLastError();
    return dwError == ERROR_SUCCESS ? ERROR_LOGON_FAILURE : dwError;
  }
  CLogonTokenData* pData = new (std::nothrow) CLogonTokenData{hToken, lpUserName};
  if (pData == nullptr) {
    ::CloseHandle(hToken);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  *phToken = pData;
  return ERROR_SUCCESS;
}

const char* GetLogonTokenUser(HLOGONTOKEN hToken) { return hToken == nullptr ? "" : hToken->strUserName.c_str(); }

void CloseLogonToken(HLOGONTOKEN hToken) {
  if (hToken == nullptr) return;
  CloseKernelHandle(hToken->hToken);
  delete hToken;
}

}  // namespace kx
