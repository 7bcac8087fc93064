#include "KxAgentCtrl/CtrlMain.h"

#include <QApplication>
#include <memory>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/CtrlApp.h"
#include "KxAgentCtrl/CtrlCommandLine.h"
#include "KxAgentCtrl/CtrlWidgets.h"
#include "KxAgentCtrl/PluginLoader.h"
#include "KxAgentCtrl/PropSheet.h"
#include "platform/program_path.h"

int KxCtrlMain(const QStringList& arguments) {
  return KxCtrlMain(arguments, QString::fromStdString(kx::GetProgramDirectory()));
}

int KxCtrlMain(const QStringList& arguments, const QString& strBaseDir) {
  CKxAgentConfigManager::Initialize();
  int nResult = 0;
  {
    CKxAgentConfigManager manager(KxToCp932(strBaseDir).c_str());
    std::vector<std::string> vecArguments;
    for (const QString& strArgument : arguments) vecArguments.push_back(KxToCp932(strArgument));
    KxCtrlCommand nCommand = KxParseCtrlCommandLine(vecArguments);
    CKxCtrlSingleInstance instance;
    if (nCommand == KX_CTRL_REGISTER) {
      nResult = KxRegisterCtrl() ? 0 : 1;
    } else if (nCommand == KX_CTRL_UNREGISTER) {
      nResult = KxUnregisterCtrl() ? 0 : 1;
    } else if (CKxCtrlSingleInstance::Result nLock = instance.Acquire(manager.GetSystemConfigPath());
               nLock != CKxCtrlSingleInstance::KX_ACQUIRED) {
      KxShowMessage(nullptr, nLock == CKxCtrlSingleInstance::KX_ALREADY_RUNNING
                                 ? CKxCtrlSingleInstance::GetAlreadyRunningMessage()
                                 : instance.GetFailedMessage());
      nResult = 1;
    } else {
      CKxCtrlConfigFile file(&manager);
      CKxCtrlMessage loadMessage;
      if (!file.Load(&loadMessage)) KxShowMessage(nullptr, loadMessage);
      CKxAgentCtrlPluginLoader loader;
      if (manager.IsScriptPluginSupport()) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        loader.CreateScriptHosts();
        QApplication::restoreOverrideCursor();
      }
      CKxAgentPropSheet sheet(&manager, &loader, &file);
      sheet.exec();
    }
  }
  CKxAgentConfigManager::Terminate();
  return nResult;
}
