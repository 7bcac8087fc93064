#include "commands/BuiltInTable.h"

#include "commands/BuiltInHandlers.h"
#include "commands/EventLogCommands.h"
#include "commands/PowerCommands.h"
#include "commands/SystemCommands.h"

namespace {

struct CHandlerRow {
  KxBuiltInCommandId nId;
  KxAgentCommandFunc pFunc;
};

// One row per built-in command, in command ID order.
constexpr CHandlerRow kHandlers[] = {
    {KX_BUILTIN_SHOW_VERSION, CmdShowVersion},
    {KX_BUILTIN_SHOW_DATE, CmdShowDate},
    {KX_BUILTIN_SET_ENCODING, CmdSetEncoding},
    {KX_BUILTIN_SET_TIMEOUT, CmdSetTimeout},
    {KX_BUILTIN_DOSPROMPT, CmdDosPrompt},
    {KX_BUILTIN_LOGOFF, CmdLogoff},
    {KX_BUILTIN_SHUTDOWN, CmdShutdown},
    {KX_BUILTIN_REBOOT, CmdReboot},
    {KX_BUILTIN_ABORT, CmdAbort},
    {KX_BUILTIN_SHOW_DISKINFO, CmdShowDiskInfo},
    {KX_BUILTIN_SHOW_EVENTLOG, CmdShowEventLog},
    {KX_BUILTIN_SET_EVENTLOG_NOTIFICATION, CmdSetEventLogNotification},
    {KX_BUILTIN_SHOW_PROCESS, CmdShowProcess},
    {KX_BUILTIN_KILL, CmdKill},
    {KX_BUILTIN_SHOW_SERVICE, CmdShowService},
    {KX_BUILTIN_START_SERVICE, CmdStartService},
    {KX_BUILTIN_STOP_SERVICE, CmdStopService},
};
constexpr int kHandlerCount = static_cast<int>(sizeof(kHandlers) / sizeof(kHandlers[0]));

constexpr bool IsInIdOrder() {
  for (int i = 0; i < kHandlerCount; ++i) {
    if (kHandlers[i].nId != i) return false;
  }
  return true;
}
static_assert(kHandlerCount == CBuiltInCommand::KX_BUILTIN_COMMAND_COUNT, "one handler per built-in command");
static_assert(IsInIdOrder(), "handlers in command ID order");

}  // namespace

KxAgentCommandFunc GetBuiltInHandler(int nId) {
  return nId >= 0 && nId < kHandlerCount ? kHandlers[nId].pFunc : nullptr;
}

CAgentBuiltInCommands::CAgentBuiltInCommands(CAgentContext& context) : m_context(context) {}

int CAgentBuiltInCommands::Execute(int nIndex, CWriter& writer, CKxAgentCommandArgument& argument) {
  KxAgentCommandFunc pFunc = GetBuiltInHandler(nIndex);
  return pFunc != nullptr ? pFunc(m_context, writer, argument) : 0;
}
