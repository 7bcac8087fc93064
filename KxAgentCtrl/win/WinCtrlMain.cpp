#include "KxAgentCtrl/win/WinCtrl.h"

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/CtrlCommandLine.h"
#include "KxAgentCtrl/CtrlText.h"
#include "KxAgentCtrl/PluginLoader.h"

namespace {

enum SingleInstance { KX_FIRST_INSTANCE, KX_ALREADY_RUNNING, KX_NO_MUTEX };

// One instance at a time: the named mutex "KxAgentCtrlMutex", held in
// *phMutex until the tool's run ends.
SingleInstance AcquireSingleInstance(HANDLE* phMutex) {
  *phMutex = ::CreateMutexA(nullptr, TRUE, "KxAgentCtrlMutex");
  if (*phMutex == nullptr) return KX_NO_MUTEX;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(*phMutex);
    *phMutex = nullptr;
    return KX_ALREADY_RUNNING;
  }
  return KX_FIRST_INSTANCE;
}

int ShowBox(const CKxCtrlMessage& message, UINT uIcon) {
  return ::MessageBoxA(nullptr, message.strText.c_str(), message.strTitle.c_str(), MB_OK | uIcon);
}

}  // namespace

int KxWinCtrlMain(const std::vector<std::string>& arguments, const std::string& strBaseDir,
                  const CKxWinCtrlHooks& hooks) {
  CKxAgentConfigManager::Initialize();
  int nResult = 0;
  HANDLE hMutex = nullptr;
  {
    CKxAgentConfigManager manager(strBaseDir.c_str());
    KxCtrlCommand nCommand = KxParseCtrlCommandLine(arguments);
    if (nCommand == KX_CTRL_REGISTER) {
      nResult = KxRegisterCtrl() ? 0 : 1;
    } else if (nCommand == KX_CTRL_UNREGISTER) {
      nResult = KxUnregisterCtrl() ? 0 : 1;
    } else if (SingleInstance nInstance = AcquireSingleInstance(&hMutex); nInstance != KX_FIRST_INSTANCE) {
      if (nInstance == KX_ALREADY_RUNNING) {
        CKxCtrlMessage message;
        message.Set(KxText(KX_TEXT_ALREADY_RUNNING), KxText(KX_TEXT_FRAMEWORK_TITLE), KX_ICON_EXCLAMATION);
        ShowBox(message, MB_ICONEXCLAMATION);
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
  if (hMutex != nullptr) {
    ::ReleaseMutex(hMutex);
    ::CloseHandle(hMutex);
  }
  return nResult;
}
