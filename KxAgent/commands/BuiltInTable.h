// The agent's built-in command set: the definitions of the plug-in manager's
// built-in set, each run by its handler here with the agent's context.
#pragma once

#include "KxAgentPluginManager/BuiltInCommand.h"

class CAgentContext;

// A built-in command handler of the agent.
typedef int (*KxAgentCommandFunc)(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);

// The handler of a built-in command, or null when there is none.
KxAgentCommandFunc GetBuiltInHandler(int nId);

class CAgentBuiltInCommands final : public CBuiltInCommand {
 public:
  // Runs every handler with `context`, which outlives this set.
  explicit CAgentBuiltInCommands(CAgentContext& context);

  // The handler's result; 0 when nIndex names no built-in command (nothing is
  // written then).
  int Execute(int nIndex, CWriter& writer, CKxAgentCommandArgument& argument) override;

 private:
  CAgentContext& m_context;
};
