// The agent's built-in command set: the definitions and information record of
// the plug-in manager's built-in set, each command run by its handler here
// with the agent's context.
#pragma once

#include "KxAgentPluginManager/BuiltInCommand.h"

class CAgentContext;

// A built-in command handler of the agent.
typedef int (*KxAgentCommandFunc)(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);

// The handler of a built-in command, or null when there is none.
KxAgentCommandFunc GetBuiltInHandler(int nId);

class CAgentBuiltInCommands final : public CKxAgentPlugin {
 public:
  // Runs every handler with `context`, which outlives this set.
  explicit CAgentBuiltInCommands(CAgentContext& context);
  CAgentBuiltInCommands(const CAgentBuiltInCommands&) = delete;
  CAgentBuiltInCommands& operator=(const CAgentBuiltInCommands&) = delete;

  // CKxAgentPlugin: the built-in set's type, record and definitions.
  int GetPluginType() override { return m_definitions.GetPluginType(); }
  CKxAgentPluginInfo* GetPluginVersionInfo() override { return m_definitions.GetPluginVersionInfo(); }
  const char* GetCommandLineDefinition(int nIndex) override { return m_definitions.GetCommandLineDefinition(nIndex); }
  // The handler's result; 0 when nIndex names no built-in command (nothing is
  // written then).
  int Execute(int nIndex, CWriter& writer, CKxAgentCommandArgument& argument) override;
  void OnTimeout(int nIndex) override { m_definitions.OnTimeout(nIndex); }
  int GetCommandCount() const { return m_definitions.GetCommandCount(); }

 private:
  CBuiltInCommand m_definitions;
  CAgentContext& m_context;
};
