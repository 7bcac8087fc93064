#include "KxAgentCtrl/CtrlCommandLine.h"

#include "platform/error_codes.h"
#include "platform/registration.h"
#include "platform/text_compare.h"

namespace {

const char* const kAppIdGuid = "{B3D4E6A1-2C7F-4E58-9A10-5F2C8D47E6B9}";
const char* const kAppIdKey = "AppID/{B3D4E6A1-2C7F-4E58-9A10-5F2C8D47E6B9}";
const char* const kExeKey = "AppID/KxAgentCtrl.EXE";

}  // namespace

KxCtrlCommand KxParseCtrlCommandLine(const std::vector<std::string>& arguments) {
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& strArgument = arguments[i];
    if (strArgument.empty() || (strArgument[0] != '-' && strArgument[0] != '/')) continue;
    const char* lpSwitch = strArgument.c_str() + 1;
    if (kx::CompareNoCase(lpSwitch, "Regserver") == 0) return KX_CTRL_REGISTER;
    if (kx::CompareNoCase(lpSwitch, "Unregserver") == 0 || kx::CompareNoCase(lpSwitch, "Unregister") == 0) {
      return KX_CTRL_UNREGISTER;
    }
  }
  return KX_CTRL_RUN;
}

bool KxRegisterCtrl() {
  return kx::SetRegistrationValue(kAppIdKey, "", "KxAgentCtrl") == ERROR_SUCCESS &&
         kx::SetRegistrationValue(kExeKey, "AppID", kAppIdGuid) == ERROR_SUCCESS;
}

bool KxUnregisterCtrl() {
  bool bApp = kx::DeleteRegistrationKey(kAppIdKey) == ERROR_SUCCESS;
  bool bExe = kx::DeleteRegistrationKey(kExeKey) == ERROR_SUCCESS;
  return bApp && bExe;
}
