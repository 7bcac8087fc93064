// Test doubles for the command engine: a writer that records what it is given,
// an in-memory logon account and a plug-in that records its runs.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "engine/CommandContext.h"
#include "KxAgentPluginManager/ScriptCommandRunner.h"
#include "tests/support/RecordingWriter.h"


// One logged-on account with an allowed-ID list, and the hidden-execution switch.
class CFakeContext : public CCommandContext {
 public:
  bool IsLoggedOn() override { return m_bLoggedOn; }
  bool IsAllowedCommand(int nID) override { return m_setAllowed.count(nID) != 0; }
  bool IsHiddenExecutionImproperCommand() override { return m_bHidden; }

  bool m_bLoggedOn = true;
  bool m_bHidden = false;
  std::set<int> m_setAllowed;
};

// Arguments as "NAME=value NAME=value" so a whole binding compares in one go.
inline std::string DescribeArguments(const CKxAgentCommandArgument& argument) {
  std::string strText;
  for (int i = 0; i < argument.GetCount(); ++i) {
    if (i > 0) strText += ' ';
    strText += std::string(argument.GetName(i)) + "=" + argument.GetValue(i);
  }
  return strText;
}

// A plug-in of any type code whose commands record their index and arguments.
class CFakePlugin final : public CKxAgentPlugin {
 public:
  explicit CFakePlugin(int nType) : m_nType(nType) {}
  int GetPluginType() override { return m_nType; }
  CKxAgentPluginInfo* GetPluginVersionInfo() override { return nullptr; }
  const char* GetCommandLineDefinition(int) override { return nullptr; }
  int Execute(int nIndex, CWriter& writer, CKxAgentCommandArgument& argument) override {
    m_vecRuns.emplace_back(nIndex, DescribeArguments(argument));
    writer.WriteLine("fake ran");
    return 1000 + nIndex;
  }
  void OnTimeout(int) override {}

  int m_nType;
  std::vector<std::pair<int, std::string>> m_vecRuns;
};

// Records the language each script command asked for and runs the plug-in directly.
class CFakeScriptRunner : public CScriptCommandRunner {
 public:
  int RunScriptCommand(CKxAgentPlugin* pPlugin, const char* lpLanguage, int nIndex,
                       CWriter& writer, CKxAgentCommandArgument& argument) override {
    m_vecLanguages.push_back(lpLanguage);
    return pPlugin->Execute(nIndex, writer, argument);
  }
  std::vector<std::string> m_vecLanguages;
};
