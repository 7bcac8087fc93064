// The command-line definition grammar and the typed-line word splitter.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "engine/DefinitionToken.h"

// Parses a definition into its elements, records position -> name for every
// parameter and adds one pair per parameter to argument (empty value, or the
// default for [NAME:default]). Returns TRUE when the whole text parsed; FALSE when
// parsing stopped early (unbalanced quotes: no elements at all; a keyword holding
// one of {}[]():+| or a parameter beyond the argument list's capacity: the
// elements before it stay). A null text counts as empty.
bool ParseDefinition(const char* lpDefinition, std::vector<DefinitionToken>& tokens,
                     std::map<int, std::string>& names, CKxAgentCommandArgument& argument);

// TRUE when the single and double quotes of strText pair up (a quote inside the
// other kind of quotes does not count).
bool IsQuotesBalanced(const std::string& strText);

// Splits a typed line into words at chSeparator. Quotes group separators into a
// word and are dropped unless bKeepQuotes; the list ends at the first empty word
// (two separators in a row once quotes are in play, or an empty quoted string).
std::vector<std::string> SplitLine(const std::string& strLine, char chSeparator = ' ',
                                   bool bKeepQuotes = false);

// The definition as the help listing shows it: "kill {PID}",
// "show eventlog {application|security|system} [LINE:10]"; empty for no elements.
std::string PrintDefinition(const std::vector<DefinitionToken>& tokens);
