#include "engine/CommandDispatcher.h"

#include "engine/CommandLine.h"

namespace {

std::string TrimWhiteSpace(const std::string& strText) {
  const char kWhiteSpace[] = " \t\r\n\v\f";
  size_t nStart = strText.find_first_not_of(kWhiteSpace);
  if (nStart == std::string::npos) return std::string();
  size_t nEnd = strText.find_last_not_of(kWhiteSpace);
  return strText.substr(nStart, nEnd - nStart + 1);
}

}  // namespace

CommandDispatcher::CommandDispatcher(CCommandContext* pContext, CWriter* pWriter)
    : m_pContext(pContext), m_pWriter(pWriter), m_pScriptRunner(nullptr) {}

CommandDispatcher::~CommandDispatcher() {}

void CommandDispatcher::SetScriptCommandRunner(CScriptCommandRunner* pRunner) {
  m_pScriptRunner = pRunner;
}

void CommandDispatcher::Register(int nID, const char* lpDefinition, CKxAgentPlugin* pPlugin,
                                 int nIndex) {
  m_vecEntries.emplace_back(new CommandEntry(nID, lpDefinition, pPlugin, nIndex));
}

CommandEntry* CommandDispatcher::GetEntry(size_t nIndex) const {
  return nIndex < m_vecEntries.size() ? m_vecEntries[nIndex].get() : nullptr;
}

bool CommandDispatcher::IsAllowed(const CommandEntry& entry) const {
  // Nobody logged on means no account to grant anything.
  if (m_pContext == nullptr || !m_pContext->IsLoggedOn()) return false;
  return m_pContext->IsAllowedCommand(entry.GetID());
}

bool CommandDispatcher::IsVisible(const CommandEntry& entry) const {
  bool bHidden = m_pContext == nullptr || m_pContext->IsHiddenExecutionImproperCommand();
  return !bHidden || IsAllowed(entry);
}

std::vector<CommandEntry*> CommandDispatcher::CollectCandidates(const std::string& strLine) const {
  std::vector<CommandEntry*> vecCandidates;
  for (const auto& pEntry : m_vecEntries) {
    if (!IsVisible(*pEntry)) continue;
    int nMatch = pEntry->Match(strLine);
    if (nMatch == KX_MATCH_OK || nMatch == KX_MATCH_BAD_PARAMETER) vecCandidates.push_back(pEntry.get());
  }
  return vecCandidates;
}

int CommandDispatcher::FindCommand(const std::string& strLine, CommandEntry** ppEntry) {
  if (ppEntry != nullptr) *ppEntry = nullptr;
  if (!IsQuotesBalanced(strLine)) return KX_FIND_UNTERMINATED_QUOTE;
  CommandEntry* pFound = nullptr;
  int nFound = KX_FIND_NOT_FOUND;
  for (const auto& pEntry : m_vecEntries) {
    if (!IsVisible(*pEntry)) continue;
    int nMatch = pEntry->Match(strLine);
    if (nMatch != KX_MATCH_OK && nMatch != KX_MATCH_BAD_PARAMETER) continue;
    if (pFound != nullptr) return KX_FIND_AMBIGUOUS;
    pFound = pEntry.get();
    nFound = nMatch;
  }
  if (pFound == nullptr) return KX_FIND_NOT_FOUND;
  if (ppEntry != nullptr) *ppEntry = pFound;
  if (!IsAllowed(*pFound)) return KX_FIND_NOT_ALLOWED;
  return nFound;
}

int CommandDispatcher::Dispatch(const std::string& strLine) {
  if (!strLine.empty() && strLine.back() == '?') {
    ListCommands(strLine.substr(0, strLine.size() - 1));
    return 1;
  }
  CommandEntry* pEntry = nullptr;
  switch (FindCommand(strLine, &pEntry)) {
    case KX_FIND_FOUND:
      if (m_pWriter == nullptr) return 0;
      return pEntry->Execute(*m_pWriter, strLine, m_pScriptRunner);
    case KX_FIND_INVALID_ARGUMENTS:
      WriteLine("[Error] invalid arguments.");
      ListCommands(strLine);
      break;
    case KX_FIND_NOT_FOUND:
      WriteLine("[Error] '" + TrimWhiteSpace(strLine) + "' command not found.");
      break;
    case KX_FIND_UNTERMINATED_QUOTE:
      WriteLine("[Error] Unterminated quoted string.");
      break;
    case KX_FIND_NOT_ALLOWED:
      WriteLine("[Error] Permission denied.");
      break;
    case KX_FIND_AMBIGUOUS:
      ListCommands(strLine);
      break;
  }
  return 0;
}

void CommandDispatcher::ListCommands(const std::string& strPrefix) {
  for (const auto& pEntry : m_vecEntries) {
    if (!IsVisible(*pEntry)) continue;
    if (!strPrefix.empty()) {
      int nMatch = pEntry->Match(strPrefix);
      if (nMatch != KX_MATCH_OK && nMatch != KX_MATCH_BAD_PARAMETER) continue;
    }
    WriteLine(" " + pEntry->PrintDefinition());
  }
}

std::string CommandDispatcher::CompleteLine(const std::string& strLine) {
  CommandEntry* pEntry = nullptr;
  switch (FindCommand(strLine, &pEntry)) {
    case KX_FIND_FOUND:
    case KX_FIND_INVALID_ARGUMENTS:
    case KX_FIND_NOT_ALLOWED:
      return pEntry->CompleteWords(strLine, 0);
    case KX_FIND_AMBIGUOUS:
      break;
    default:
      return std::string();
  }
  std::vector<CommandEntry*> vecCandidates = CollectCandidates(strLine);
  if (vecCandidates.empty()) return std::string();
  std::vector<std::string> vecWords = SplitLine(strLine);
  std::string strAgreed;
  for (size_t k = 1; k <= vecWords.size(); ++k) {
    std::string strFirst = vecCandidates.front()->CompleteWords(strLine, static_cast<int>(k));
    bool bAgree = true;
    for (size_t i = 1; i < vecCandidates.size() && bAgree; ++i) {
      bAgree = vecCandidates[i]->CompleteWords(strLine, static_cast<int>(k)) == strFirst;
    }
    if (bAgree) {
      strAgreed = strFirst;
      continue;
    }
    // Keep what the candidates agree on and the rest as typed.
    std::string strResult = strAgreed;
    for (size_t i = k - 1; i < vecWords.size(); ++i) {
      if (!strResult.empty()) strResult += ' ';
      strResult += vecWords[i];
    }
    return strResult;
  }
  return strAgreed;
}

void CommandDispatcher::WriteLine(const std::string& strText) {
  if (m_pWriter != nullptr) m_pWriter->WriteLine(strText.c_str());
}
