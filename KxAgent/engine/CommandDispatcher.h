// Turns a typed command line into a call of the right plug-in's Execute, and
// serves the session's help listing and completion. Runs on the input thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "engine/CommandContext.h"
#include "engine/CommandEntry.h"

class CScriptCommandRunner;  // KxAgentPluginManager/ScriptCommandRunner.h

// Results of CommandDispatcher::FindCommand.
enum {
  KX_FIND_FOUND = 0,             // one command matches and its arguments are valid
  KX_FIND_INVALID_ARGUMENTS = 1, // one command matches by keywords, a parameter is wrong
  KX_FIND_NOT_FOUND = 2,         // no command matches
  KX_FIND_UNTERMINATED_QUOTE = 3,// the line's quotes are unbalanced
  KX_FIND_NOT_ALLOWED = 9,       // the one match is not allowed for the account
  KX_FIND_AMBIGUOUS = -1,        // more than one command matches
};

class CommandDispatcher {
 public:
  // pContext answers the permission questions and pWriter (the serial channel)
  // takes all output; neither is owned, both must outlive the dispatcher.
  CommandDispatcher(CCommandContext* pContext, CWriter* pWriter);
  CommandDispatcher(const CommandDispatcher&) = delete;
  CommandDispatcher& operator=(const CommandDispatcher&) = delete;
  ~CommandDispatcher();

  // Sets the runner used for commands of script plug-ins (not owned; null, the
  // default, makes such commands do nothing and return 0).
  void SetScriptCommandRunner(CScriptCommandRunner* pRunner);

  // Appends a command under configuration ID nID: command nIndex of pPlugin with
  // definition lpDefinition (null counts as empty). Registration order is listing order.
  void Register(int nID, const char* lpDefinition, CKxAgentPlugin* pPlugin, int nIndex);

  // Runs one typed line. A line ending in '?' writes the listing for the rest and
  // returns 1; otherwise returns the command's result, or 0 after writing the
  // "[Error] ..." line (and listing) that says why nothing ran.
  int Dispatch(const std::string& strLine);
  // Writes " <printed definition>" per command that the prefix selects (all for an
  // empty prefix), in registration order; nothing else.
  void ListCommands(const std::string& strPrefix);
  // The line with keywords written out as far as the matching commands agree, or
  // an empty text when nothing matches or the quotes are unbalanced.
  std::string CompleteLine(const std::string& strLine);
  // One of the KX_FIND_* codes; *ppEntry receives the one matching entry for codes
  // 0, 1 and 9, null otherwise (ppEntry may be null).
  int FindCommand(const std::string& strLine, CommandEntry** ppEntry);

  // The registered entries in registration order.
  size_t GetEntryCount() const { return m_vecEntries.size(); }
  CommandEntry* GetEntry(size_t nIndex) const;

 private:
  bool IsAllowed(const CommandEntry& entry) const;
  bool IsVisible(const CommandEntry& entry) const;
  std::vector<CommandEntry*> CollectCandidates(const std::string& strLine) const;
  void WriteLine(const std::string& strText);

  CCommandContext* m_pContext;
  CWriter* m_pWriter;
  CScriptCommandRunner* m_pScriptRunner;
  std::vector<std::unique_ptr<CommandEntry>> m_vecEntries;
};
