// The seam through which the agent's command engine runs a command of a script
// plug-in. Every run gets a script engine of its own, created for that run and
// destroyed after it, so no state of one run reaches the next. The script
// plug-in code of this library implements it; the engine only calls it.
#pragma once

#include "KxAgentPluginManager/KxAgentPlugin.h"

class CScriptCommandRunner {
 public:
  virtual ~CScriptCommandRunner() {}

  // Creates a fresh engine for lpLanguage ("JScript" or "VBScript"), installs it in
  // pPlugin (a script plug-in of that language) in place of its current host, runs
  // pPlugin->Execute(nIndex, writer, argument), puts the previous host back and
  // destroys the fresh engine. Returns Execute's result, 0 when no engine could be made.
  // Called on the agent's input thread only.
  virtual int RunScriptCommand(CKxAgentPlugin* pPlugin, const char* lpLanguage, int nIndex,
                               CWriter& writer, CKxAgentCommandArgument& argument) = 0;
};
