#include "KxAgentCtrl/CtrlMain.h"

#include <QApplication>
#include <memory>

#include "KxAgentCtrl/CtrlRun.h"
#include "KxAgentCtrl/CtrlWidgets.h"
#include "KxAgentCtrl/PropSheet.h"
#include "platform/program_path.h"

int KxCtrlMain(const QStringList& arguments) {
  return KxCtrlMain(arguments, QString::fromStdString(kx::GetProgramDirectory()));
}

int KxCtrlMain(const QStringList& arguments, const QString& strBaseDir) {
  std::vector<std::string> vecArguments;
  for (const QString& strArgument : arguments) vecArguments.push_back(KxToCp932(strArgument));
  CKxCtrlFrontEnd frontEnd;
  frontEnd.fnShowMessage = [](const CKxCtrlMessage& message) { KxShowMessage(nullptr, message); };
  frontEnd.fnWithWaitCursor = [](const std::function<void()>& fnWork) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    fnWork();
    QApplication::restoreOverrideCursor();
  };
  frontEnd.fnShowSheet = [](CKxCtrlConfigFile* pFile, CKxAgentCtrlPluginReader* pReader) {
    CKxAgentPropSheet sheet(pFile->GetManager(), pReader, pFile);
    sheet.exec();
  };
  return KxRunCtrl(vecArguments, KxToCp932(strBaseDir), frontEnd);
}
