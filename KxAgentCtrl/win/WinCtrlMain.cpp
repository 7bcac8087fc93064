#include "KxAgentCtrl/win/WinCtrl.h"

#include "KxAgentCtrl/CtrlRun.h"

int KxWinCtrlMain(const std::vector<std::string>& arguments, const std::string& strBaseDir,
                  const CKxWinCtrlHooks& hooks) {
  CKxCtrlFrontEnd frontEnd;
  frontEnd.fnShowMessage = [](const CKxCtrlMessage& message) { KxWinShowMessage(nullptr, message, MB_OK); };
  frontEnd.fnWithWaitCursor = [](const std::function<void()>& fnWork) {
    HCURSOR hOld = ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
    fnWork();
    ::SetCursor(hOld);
  };
  frontEnd.fnShowSheet = [&hooks](CKxCtrlConfigFile* pFile, CKxAgentCtrlPluginReader* pReader) {
    KxWinShowSheet(pFile, pReader, hooks);
  };
  return KxRunCtrl(arguments, strBaseDir, frontEnd);
}
