#include "KxAgentCtrl/win/WinCtrl.h"

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/CtrlApp.h"
#include "KxAgentCtrl/CtrlCommandLine.h"
#include "KxAgentCtrl/CtrlText.h"
#include "KxAgentCtrl/PluginLoader.h"

namespace {

int ShowBox(const CKxCtrlMessage& message, UINT uIcon) {
  return ::MessageBoxA(nullptr, message.strText.c_str(), message.strTitle.c_str(), MB_OK | uIcon);
}

}  // namespace

int KxWinCtrlMain(const std::vector<std::string>& arguments, const std::string& strBaseDir,
                  const CKxWinCtrlHooks& hooks) {
  CKxAgentConfigManager::Initialize();
  int nResult = 0;
  {
    CKxAgentConfigManager manager(strBaseDir.c_str());
    KxCtrlCommand nCommand = KxParseCtrlCommandLine(arguments);
    CKxCtrlSingleInstance instance;
    if (nCommand == KX_CTRL_REGISTER) {
      nResult = KxRegisterCtrl() ? 0 : 1;
    } else if (nCommand == KX_CTRL_UNREGISTER) {
      nResult = KxUnregisterCtrl() ? 0 : 1;
    } else if (CKxCtrlSingleInstance::Result nLock = instance.Acquire(manager.GetSystemConfigPath());
               nLock != CKxCtrlSingleInstance::KX_ACQUIRED) {
      if (nLock == CKxCtrlSingleInstance::KX_ALREADY_RUNNING) {
        ShowBox(CKxCtrlSingleInstance::GetAlreadyRunningMessage(), MB_ICONEXCLAMATION);
      } else {
        ShowBox(instance.GetFailedMessage(), MB_ICONERROR);
      }
      nResult = 1;
    } else {
      CKxCtrlConfigFile file(&manager);
      CKxCtrlMessage loadMessage;
      if (!file.Load(&loadMessage)) ShowBox(loadMessage, MB_ICONEXCLAMATION);
      CKxAgentCtrlPluginLoader loader;
      if (manager.IsScriptPluginSupport()) {
        HCURSOR hOld = ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
        loader.CreateScriptHosts();
        ::SetCursor(hOld);
      }
      KxWinShowSheet(&file, &loader, hooks);
    }
  }
  CKxAgentConfigManager::Terminate();
  return nResult;
}
