#include "engine/CommandEntry.h"

#include "engine/CommandLine.h"
#include "KxAgentPluginManager/PluginKind.h"
#include "KxAgentPluginManager/ScriptCommandRunner.h"

namespace {

std::string JoinWords(const std::vector<std::string>& vecWords) {
  std::string strText;
  for (const std::string& strWord : vecWords) {
    if (!strText.empty()) strText += ' ';
    strText += strWord;
  }
  return strText;
}

}  // namespace

CommandEntry::CommandEntry(int nID, const char* lpDefinition, CKxAgentPlugin* pPlugin, int nIndex)
    : m_nID(nID),
      m_strDefinition(lpDefinition != nullptr ? lpDefinition : ""),
      m_pPlugin(pPlugin),
      m_nIndex(nIndex) {
  // A definition that stops early is still registered with what parsed.
  ParseDefinition(m_strDefinition.c_str(), m_vecTokens, m_mapNames, m_argument);
}

int CommandEntry::Match(const std::string& strLine) const {
  std::vector<std::string> vecWords = SplitLine(strLine);
  static const std::string kEmptyWord;
  for (size_t i = 0; i < m_vecTokens.size(); ++i) {
    const std::string& strWord = i < vecWords.size() ? vecWords[i] : kEmptyWord;
    if (!m_vecTokens[i].IsAccepting(strWord)) {
      return m_vecTokens[i].IsParameter() ? KX_MATCH_BAD_PARAMETER : KX_MATCH_NONE;
    }
  }
  return KX_MATCH_OK;
}

void CommandEntry::BindArguments(const std::string& strLine) {
  std::vector<std::string> vecWords = SplitLine(strLine);
  // An optional parameter takes a typed word only when the line has a word for
  // every element; otherwise its default.
  const bool bAllTyped = vecWords.size() >= m_vecTokens.size();
  for (size_t i = 0; i < m_vecTokens.size(); ++i) {
    const DefinitionToken& token = m_vecTokens[i];
    if (!token.IsParameter()) continue;
    std::string strWord = i < vecWords.size() ? vecWords[i] : std::string();
    const char* lpName = token.m_strText.c_str();
    switch (token.m_nKind) {
      case KX_TOKEN_REQUIRED:
        m_argument.SetValue(lpName, strWord.c_str());
        break;
      case KX_TOKEN_CHOICE: {
        const std::string* pChoice = token.FindChoice(strWord);
        m_argument.SetValue(lpName, pChoice != nullptr ? pChoice->c_str() : strWord.c_str());
        break;
      }
      case KX_TOKEN_OPTIONAL:
        m_argument.SetValue(lpName, bAllTyped ? strWord.c_str() : token.m_strDefault.c_str());
        break;
    }
  }
}

int CommandEntry::Execute(CWriter& writer, const std::string& strLine, CScriptCommandRunner* pRunner) {
  if (Match(strLine) != KX_MATCH_OK) return 0;
  BindArguments(strLine);
  if (m_pPlugin == nullptr) return 0;
  // A script command runs in a host of its own; every other kind runs in place.
  const CKxPluginKindRow* pKind = KxFindPluginKindByPluginType(m_pPlugin->GetPluginType());
  if (pKind == nullptr) return 0;
  if (pKind->lpLanguage == nullptr) return m_pPlugin->Execute(m_nIndex, writer, m_argument);
  if (pRunner == nullptr) return 0;
  return pRunner->RunScriptCommand(m_pPlugin, pKind->lpLanguage, m_nIndex, writer, m_argument);
}

std::string CommandEntry::CompleteWords(const std::string& strLine, int nWords) const {
  std::vector<std::string> vecWords = SplitLine(strLine);
  if (nWords > 0 && static_cast<size_t>(nWords) < vecWords.size()) vecWords.resize(nWords);
  for (size_t i = 0; i < vecWords.size() && i < m_vecTokens.size(); ++i) {
    if (m_vecTokens[i].m_nKind == KX_TOKEN_KEYWORD) vecWords[i] = m_vecTokens[i].m_strText;
  }
  return JoinWords(vecWords);
}

std::string CommandEntry::PrintDefinition() const { return ::PrintDefinition(m_vecTokens); }
