// Accounts: verifying a user's password, with the results of LogonUser.
#pragma once

#include <string>

#include "platform/kx_types.h"

namespace kx {

// Proof of a successful logon; null means none. Close it with CloseLogonToken.
typedef struct CLogonTokenData* HLOGONTOKEN;

// Verifies `lpUserName` in `lpDomain` with `lpPassword` as an interactive logon.
// An empty or "." domain means the local machine. On Linux the check runs through
// the PAM service "kxagent" (authentication, then account management) with the
// logon name "user@domain", or "user" for the local machine.
// Returns ERROR_SUCCESS and sets *phToken, or an error code with *phToken null:
//   1326 ERROR_LOGON_FAILURE       wrong password, unknown user, empty user name
//   1330 ERROR_PASSWORD_EXPIRED    the password must be changed
//   1793 ERROR_ACCOUNT_EXPIRED     the account has expired
//   1327 ERROR_ACCOUNT_RESTRICTION the account may not log on here (access denied)
//   1909 ERROR_ACCOUNT_LOCKED_OUT  too many tries
//      8 ERROR_NOT_ENOUGH_MEMORY   out of memory
//     87 ERROR_INVALID_PARAMETER   a null argument
//     31 ERROR_GEN_FAILURE         the logon service itself failed (configuration, modules)
// The password is not kept: every copy made for the check is wiped before return.
// Any thread; calls may run at the same time.
DWORD LogonUserAccount(const char* lpUserName, const char* lpDomain, const char* lpPassword,
                       HLOGONTOKEN* phToken);
// The user name a token was issued for (as given to LogonUserAccount); "" for null.
const char* GetLogonTokenUser(HLOGONTOKEN hToken);
// Releases a token; null is ignored.
void CloseLogonToken(HLOGONTOKEN hToken);

// A logon name as LogonUser wants it. With no domain given (empty or "."):
// "DOMAIN\user" becomes user "user" in domain "DOMAIN"; "user@domain" (a user
// principal name) stays whole and *pbNoDomain is set, since LogonUser takes a
// principal name only with no domain at all. Otherwise the names pass as given
// (*pstrDomain "." for the local machine). The backslash is found as a
// character of code page 932, never as the second byte of a double-byte one.
void SplitLogonName(const char* lpUserName, const char* lpDomain, std::string* pstrUser,
                    std::string* pstrDomain, BOOL* pbNoDomain);

}  // namespace kx
