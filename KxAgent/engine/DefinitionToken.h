// One element of a parsed command-line definition.
#pragma once

#include <string>
#include <vector>

// Element kinds; the numbers are stored in DefinitionToken::m_nKind.
enum {
  KX_TOKEN_KEYWORD = 10,         // show: the user types it or a leading part of it
  KX_TOKEN_REQUIRED = 20,        // {NAME}: any one non-empty word
  KX_TOKEN_CHOICE = 21,          // {NAME:a|b}: one of the choices, abbreviable
  KX_TOKEN_OPTIONAL = 22,        // [NAME:default]: may be left out
};

struct DefinitionToken {
  // The keyword (kind 10) or the parameter name (kinds 20, 21, 22).
  std::string m_strText;
  // One of the KX_TOKEN_* kinds.
  int m_nKind = KX_TOKEN_KEYWORD;
  // Allowed values in definition order; used by kind 21 only.
  std::vector<std::string> m_vecChoices;
  // Default value of kind 22; empty otherwise.
  std::string m_strDefault;

  // TRUE for the three parameter kinds.
  bool IsParameter() const { return m_nKind != KX_TOKEN_KEYWORD; }
  // Whether this element takes the typed word (the empty word stands for a missing
  // one). Byte-wise and case-sensitive.
  bool IsAccepting(const std::string& strWord) const;
  // The choice that strWord selects: the first one that begins with it, or null.
  const std::string* FindChoice(const std::string& strWord) const;
};
