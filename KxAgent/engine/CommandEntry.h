// One registered command: its definition parsed once, its argument list and the
// plug-in that runs it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "engine/DefinitionToken.h"

class CScriptCommandRunner;  // KxAgentPluginManager/ScriptCommandRunner.h

// Results of CommandEntry::Match.
enum {
  KX_MATCH_OK = 0,              // every element accepts its word
  KX_MATCH_BAD_PARAMETER = 1,   // the first element that refuses is a parameter
  KX_MATCH_NONE = 2,            // the first element that refuses is a keyword
};

class CommandEntry {
 public:
  // Parses lpDefinition (null counts as empty); a definition that fails to parse
  // keeps the elements before the fault, and one with no elements matches any line.
  // pPlugin is not owned and must outlive the entry.
  CommandEntry(int nID, const char* lpDefinition, CKxAgentPlugin* pPlugin, int nIndex);
  CommandEntry(const CommandEntry&) = delete;
  CommandEntry& operator=(const CommandEntry&) = delete;

  // KX_MATCH_OK, KX_MATCH_BAD_PARAMETER or KX_MATCH_NONE for a typed line; words
  // beyond the last element are ignored, missing words count as empty.
  int Match(const std::string& strLine) const;
  // Stores the typed values in the argument list under the parameter names:
  // choices written out in full, left-out optional parameters set to their default.
  void BindArguments(const std::string& strLine);
  // Matches, binds and runs the command through its plug-in. Returns the plug-in's
  // result, or 0 without running anything when the line does not match, the plug-in
  // type is unknown, or a script command has no runner (pRunner null).
  int Execute(CWriter& writer, const std::string& strLine, CScriptCommandRunner* pRunner = nullptr);
  // The first nWords typed words (all when nWords is 0 or too large) with every word
  // at a keyword's position replaced by the full keyword, joined by single blanks.
  std::string CompleteWords(const std::string& strLine, int nWords) const;
  // The definition as the help listing shows it.
  std::string PrintDefinition() const;

  int GetID() const { return m_nID; }
  int GetIndex() const { return m_nIndex; }
  const std::string& GetDefinition() const { return m_strDefinition; }
  const std::vector<DefinitionToken>& GetTokens() const { return m_vecTokens; }
  // Element position -> parameter name, parameters only.
  const std::map<int, std::string>& GetNamesByPosition() const { return m_mapNames; }
  // The argument list: pre-filled at parsing, holding the last bound values after a run.
  CKxAgentCommandArgument& GetArgument() { return m_argument; }
  CKxAgentPlugin* GetPlugin() const { return m_pPlugin; }

 private:
  int m_nID;
  std::string m_strDefinition;
  std::vector<DefinitionToken> m_vecTokens;
  CKxAgentCommandArgument m_argument;
  std::map<int, std::string> m_mapNames;
  CKxAgentPlugin* m_pPlugin;
  int m_nIndex;
};
