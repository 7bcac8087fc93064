#include "commands/PowerCommands.h"

#include <cstdlib>
#include <string>

#include "AgentContext.h"
#include "KxAgentLog.h"
#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/Writer.h"
#include "SystemErrorText.h"
#include "commands/HandlerSupport.h"
#include "platform/power.h"
#include "platform/text_encoding.h"

namespace {

const char* const kShutdownPrivilege = "SeShutdownPrivilege";
const unsigned long kMinDelay = 10;
const unsigned long kMaxDelay = 3600;


int RunRequest(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument, BOOL bReboot) {
  const char* lpDelay = ArgumentText(argument, "DELAY");
  CKxAgentLog::LogInfo(kCommandExecute, bReboot ? "reboot %s" : "shutdown %s", lpDelay);
  CShutdownControl control;
  return RequestShutdown(writer, lpDelay, bReboot, context.GetShutdownState(), control);
}

}  // namespace

BOOL CShutdownControl::EnablePrivilege(const char* lpPrivilegeName, BOOL bEnable) {
  return ::EnablePrivilege(lpPrivilegeName, bEnable);
}

DWORD CShutdownControl::InitiateShutdown(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed,
                                         BOOL bRebootAfterShutdown) {
  return kx::RequestSystemShutdown(lpMessage, dwTimeout, bForceAppsClosed, bRebootAfterShutdown);
}

DWORD CShutdownControl::AbortShutdown() { return kx::CancelSystemShutdown(); }

BOOL EnablePrivilege(const char* lpPrivilegeName, BOOL bEnable) {
  return kx::SetProcessPrivilege(lpPrivilegeName, bEnable);
}

const char* GetShutdownMessage() {
  static const std::string strMessage = kx::Utf8ToCp932(
      "コンピュータのシャットダウンが行われます。データを保存し、すべてのアプリケーションを終了してください。");
  return strMessage.c_str();
}

const char* GetRebootMessage() {
  static const std::string strMessage = kx::Utf8ToCp932(
      "コンピュータの再起動が行われます。データを保存し、すべてのアプリケーションを終了してください。");
  return strMessage.c_str();
}

int RequestShutdown(CWriter& writer, const char* lpDelay, BOOL bReboot, CShutdownState& state,
                    CShutdownControl& control) {
  // The privilege is switched on before the check and off after it in every
  // case, so that no path leaves it on.
  control.EnablePrivilege(kShutdownPrivilege, TRUE);
  int nResult = 1;
  unsigned long dwDelay = ParseNumber(lpDelay);
  if (dwDelay < kMinDelay || dwDelay > kMaxDelay) {
    writer.WriteLine("[Error] Please input an integer between 10 and 3600 into 'DELAY'.");
  } else {
    DWORD dwError = control.InitiateShutdown(bReboot ? GetRebootMessage() : GetShutdownMessage(),
                                             static_cast<DWORD>(dwDelay), bReboot, bReboot);
    if (dwError == 0) {
      state.SetShutdownPending(1);
      state.StartShutdownNotice(static_cast<int>(dwDelay), bReboot);
    } else {
      writer.WriteLine(GetSystemErrorText(dwError).c_str());
      nResult = 0;
    }
  }
  control.EnablePrivilege(kShutdownPrivilege, FALSE);
  return nResult;
}

int CancelShutdown(CWriter& writer, CShutdownState& state, CShutdownControl& control) {
  control.EnablePrivilege(kShutdownPrivilege, TRUE);
  DWORD dwError = control.AbortShutdown();
  if (dwError == 0) {
    state.SetShutdownPending(0);
    state.SetShutdownDelay(0);
    writer.WriteLine("Shutdown canceled.");
  } else {
    writer.WriteLine(GetSystemErrorText(dwError).c_str());
  }
  control.EnablePrivilege(kShutdownPrivilege, FALSE);
  return 1;
}

int CmdShutdown(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument) { return RunRequest(context, writer, argument, FALSE); }

int CmdReboot(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument) { return RunRequest(context, writer, argument, TRUE); }

int CmdAbort(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& /*argument*/) {
  CKxAgentLog::LogInfo(kCommandExecute, "abort");
  CShutdownControl control;
  return CancelShutdown(writer, context.GetShutdownState(), control);
}
