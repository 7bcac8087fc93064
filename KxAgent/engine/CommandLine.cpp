#include "engine/CommandLine.h"

namespace {

const char kBlank = ' ';
// Reserved in a keyword: a keyword holding one of them ends parsing, so a
// malformed parameter is never mistaken for a word the user has to type.
const char kReservedCharacters[] = "{}[]():+|";

bool IsBeginning(const std::string& strText, const std::string& strPrefix) {
  return strPrefix.size() <= strText.size() && strText.compare(0, strPrefix.size(), strPrefix) == 0;
}

std::vector<std::string> SplitElements(const std::string& strText, char chSeparator) {
  std::vector<std::string> vecElements;
  size_t nPos = 0;
  while (nPos < strText.size()) {
    size_t nStart = strText.find_first_not_of(chSeparator, nPos);
    if (nStart == std::string::npos) break;
    size_t nEnd = strText.find(chSeparator, nStart);
    if (nEnd == std::string::npos) nEnd = strText.size();
    vecElements.push_back(strText.substr(nStart, nEnd - nStart));
    nPos = nEnd;
  }
  return vecElements;
}

// Classifies one element. Returns false when it is no valid element (parsing
// must stop there).
bool ParseElement(const std::string& strElement, DefinitionToken& token) {
  const size_t nLength = strElement.size();
  if (nLength >= 2 && strElement.front() == '{' && strElement.back() == '}') {
    std::string strInner = strElement.substr(1, nLength - 2);
    if (strInner.find('|') != std::string::npos) {
      size_t nColon = strInner.find(':');
      // {a|b} names no parameter: not one of the forms, so it ends parsing.
      if (nColon == std::string::npos) return false;
      token.m_nKind = KX_TOKEN_CHOICE;
      token.m_strText = strInner.substr(0, nColon);
      for (const std::string& strChoice : SplitElements(strInner.substr(nColon + 1), '|')) {
        token.m_vecChoices.push_back(strChoice);
      }
    } else {
      token.m_nKind = KX_TOKEN_REQUIRED;
      token.m_strText = strInner;
    }
    return true;
  }
  if (nLength >= 2 && strElement.front() == '[' && strElement.back() == ']' &&
      strElement.find(':') != std::string::npos) {
    std::string strInner = strElement.substr(1, nLength - 2);
    size_t nColon = strInner.find(':');
    token.m_nKind = KX_TOKEN_OPTIONAL;
    token.m_strText = strInner.substr(0, nColon);
    token.m_strDefault = strInner.substr(nColon + 1);
    return true;
  }
  if (strElement.find_first_of(kReservedCharacters) != std::string::npos) return false;
  token.m_nKind = KX_TOKEN_KEYWORD;
  token.m_strText = strElement;
  return true;
}

// Takes the word that starts at nPos and moves nPos past the character that
// ended it. An empty result ends the word list.
std::string NextWord(const std::string& strLine, size_t& nPos, char chSeparator, bool bKeepQuotes) {
  if (nPos >= strLine.size()) return std::string();
  if (strLine.find_first_of("'\"", nPos) == std::string::npos) {
    size_t nStart = strLine.find_first_not_of(chSeparator, nPos);
    if (nStart == std::string::npos) {
      nPos = strLine.size();
      return std::string();
    }
    size_t nEnd = strLine.find(chSeparator, nStart);
    if (nEnd == std::string::npos) nEnd = strLine.size();
    nPos = nEnd < strLine.size() ? nEnd + 1 : nEnd;
    return strLine.substr(nStart, nEnd - nStart);
  }
  // With quotes ahead, separators are not skipped: a leading one yields the empty
  // word, which ends the list exactly where the quoted form expects it.
  std::string strWord;
  char chQuote = 0;
  while (nPos < strLine.size()) {
    char ch = strLine[nPos++];
    if (chQuote == 0) {
      if (ch == chSeparator) break;
      if (ch == '\'' || ch == '"') {
        chQuote = ch;
        if (bKeepQuotes) strWord += ch;
        continue;
      }
      strWord += ch;
    } else if (ch == chQuote) {
      chQuote = 0;
      if (bKeepQuotes) strWord += ch;
    } else {
      strWord += ch;
    }
  }
  return strWord;
}

}  // namespace

bool DefinitionToken::IsAccepting(const std::string& strWord) const {
  switch (m_nKind) {
    case KX_TOKEN_KEYWORD:
      return IsBeginning(m_strText, strWord);
    case KX_TOKEN_REQUIRED:
      return !strWord.empty();
    case KX_TOKEN_CHOICE: {
      int nMatches = 0;
      for (const std::string& strChoice : m_vecChoices) {
        if (IsBeginning(strChoice, strWord)) ++nMatches;
      }
      return nMatches == 1;
    }
    case KX_TOKEN_OPTIONAL:
      return true;
    default:
      return false;
  }
}

const std::string* DefinitionToken::FindChoice(const std::string& strWord) const {
  for (const std::string& strChoice : m_vecChoices) {
    if (IsBeginning(strChoice, strWord)) return &strChoice;
  }
  return nullptr;
}

bool ParseDefinition(const char* lpDefinition, std::vector<DefinitionToken>& tokens,
                     std::map<int, std::string>& names, CKxAgentCommandArgument& argument) {
  std::string strDefinition = lpDefinition != nullptr ? lpDefinition : "";
  if (!IsQuotesBalanced(strDefinition)) return false;
  int nParameters = 0;
  for (const std::string& strElement : SplitElements(strDefinition, kBlank)) {
    DefinitionToken token;
    if (!ParseElement(strElement, token)) return false;
    if (token.IsParameter()) {
      // The argument list holds one pair per parameter; a parameter it cannot
      // hold ends parsing so the list never overflows.
      if (nParameters >= CKxAgentCommandArgument::KX_MAX_ARGUMENTS) return false;
      const char* lpValue = token.m_nKind == KX_TOKEN_OPTIONAL ? token.m_strDefault.c_str() : "";
      if (!argument.Add(token.m_strText.c_str(), lpValue)) return false;
      ++nParameters;
      names[static_cast<int>(tokens.size())] = token.m_strText;
    }
    tokens.push_back(std::move(token));
  }
  return true;
}

bool IsQuotesBalanced(const std::string& strText) {
  bool bInSingle = false;
  bool bInDouble = false;
  unsigned nSingles = 0;
  unsigned nDoubles = 0;
  for (char ch : strText) {
    if (ch == '\'' && !bInDouble) {
      bInSingle = !bInSingle;
      ++nSingles;
    } else if (ch == '"' && !bInSingle) {
      bInDouble = !bInDouble;
      ++nDoubles;
    }
  }
  return nSingles % 2 == 0 && nDoubles % 2 == 0;
}

std::vector<std::string> SplitLine(const std::string& strLine, char chSeparator, bool bKeepQuotes) {
  std::vector<std::string> vecWords;
  size_t nPos = 0;
  for (;;) {
    std::string strWord = NextWord(strLine, nPos, chSeparator, bKeepQuotes);
    if (strWord.empty()) break;
    vecWords.push_back(std::move(strWord));
  }
  return vecWords;
}

std::string PrintDefinition(const std::vector<DefinitionToken>& tokens) {
  std::string strText;
  for (const DefinitionToken& token : tokens) {
    switch (token.m_nKind) {
      case KX_TOKEN_KEYWORD:
        strText += token.m_strText;
        break;
      case KX_TOKEN_REQUIRED:
        strText += "{" + token.m_strText + "}";
        break;
      case KX_TOKEN_CHOICE: {
        strText += "{";
        for (size_t i = 0; i < token.m_vecChoices.size(); ++i) {
          if (i > 0) strText += "|";
          strText += token.m_vecChoices[i];
        }
        strText += "}";
        break;
      }
      case KX_TOKEN_OPTIONAL:
        strText += "[" + token.m_strText + ":" + token.m_strDefault + "]";
        break;
    }
    strText += ' ';
  }
  if (!strText.empty()) strText.pop_back();
  return strText;
}
