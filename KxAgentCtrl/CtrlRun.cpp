#include "KxAgentCtrl/CtrlRun.h"

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/CtrlApp.h"
#include "KxAgentCtrl/CtrlCommandLine.h"
#include "KxAgentCtrl/PluginReader.h"

int KxRunCtrl(const std::vector<std::string>& arguments, const std::string& strBaseDir,
              const CKxCtrlFrontEnd& frontEnd) {
  CKxAgentConfigManager::Initialize();
  int nResult = 0;
  {
    CKxAgentConfigManager manager(strBaseDir.c_str());
    KxCtrlCommand nCommand = KxParseCtrlCommandLine(arguments);
    // Held until the run ends, so that a program may run the tool again.
    CKxCtrlSingleInstance instance;
    if (nCommand == KX_CTRL_REGISTER) {
      nResult = KxRegisterCtrl() ? 0 : 1;
    } else if (nCommand == KX_CTRL_UNREGISTER) {
      nResult = KxUnregisterCtrl() ? 0 : 1;
    } else if (CKxCtrlSingleInstance::Result nLock = instance.Acquire(manager.GetSystemConfigPath());
               nLock != CKxCtrlSingleInstance::KX_ACQUIRED) {
      frontEnd.fnShowMessage(nLock == CKxCtrlSingleInstance::KX_ALREADY_RUNNING
                                 ? CKxCtrlSingleInstance::GetAlreadyRunningMessage()
                                 : instance.GetFailedMessage());
      nResult = 1;
    } else {
      CKxCtrlConfigFile file(&manager);
      CKxCtrlMessage loadMessage;
      if (!file.Load(&loadMessage)) frontEnd.fnShowMessage(loadMessage);
      CKxAgentCtrlPluginReader reader;
      if (manager.IsScriptPluginSupport()) frontEnd.fnWithWaitCursor([&reader] { reader.CreateScriptHosts(); });
      frontEnd.fnShowSheet(&file, &reader);
    }
  }
  CKxAgentConfigManager::Terminate();
  return nResult;
}
