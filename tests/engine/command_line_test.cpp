// The definition grammar, the quote rule, the word splitter and printing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/CommandLine.h"
#include "engine_fakes.h"

namespace {

// Elements as "K:word", "R:NAME", "C:NAME=a|b", "O:NAME=default", blank-separated.
std::string DescribeTokens(const std::vector<DefinitionToken>& tokens) {
  std::string strText;
  for (const DefinitionToken& token : tokens) {
    if (!strText.empty()) strText += ' ';
    switch (token.m_nKind) {
      case 10: strText += "K:" + token.m_strText; break;
      case 20: strText += "R:" + token.m_strText; break;
      case 21: {
        strText += "C:" + token.m_strText + "=";
        for (size_t i = 0; i < token.m_vecChoices.size(); ++i) {
          strText += (i > 0 ? "|" : "") + token.m_vecChoices[i];
        }
        break;
      }
      case 22: strText += "O:" + token.m_strText + "=" + token.m_strDefault; break;
      default: strText += "?"; break;
    }
  }
  return strText;
}

struct ParseCase {
  const char* lpDefinition;
  bool bComplete;
  const char* lpTokens;
  const char* lpArguments;
};

class ParseDefinitionTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseDefinitionTest, ParsesElementsAndPrefillsArguments) {
  const ParseCase& c = GetParam();
  std::vector<DefinitionToken> tokens;
  std::map<int, std::string> names;
  CKxAgentCommandArgument argument;
  EXPECT_EQ(c.bComplete, ParseDefinition(c.lpDefinition, tokens, names, argument));
  EXPECT_EQ(c.lpTokens, DescribeTokens(tokens));
  EXPECT_EQ(c.lpArguments, DescribeArguments(argument));
  // Every parameter, and nothing else, is in the position map.
  for (size_t i = 0; i < tokens.size(); ++i) {
    EXPECT_EQ(tokens[i].m_nKind != 10, names.count(static_cast<int>(i)) == 1) << i;
    if (tokens[i].m_nKind != 10) {
      EXPECT_EQ(tokens[i].m_strText, names[static_cast<int>(i)]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ParseDefinitionTest,
    ::testing::Values(
        ParseCase{"kill {PID}", true, "K:kill R:PID", "PID="},
        ParseCase{"reboot [DELAY:180]", true, "K:reboot O:DELAY=180", "DELAY=180"},
        ParseCase{"set encoding {ENCODING:sjis|eucjp}", true,
                  "K:set K:encoding C:ENCODING=sjis|eucjp", "ENCODING="},
        ParseCase{"show eventlog {LOGNAME:application|security|system} [LINE:10]", true,
                  "K:show K:eventlog C:LOGNAME=application|security|system O:LINE=10",
                  "LOGNAME= LINE=10"},
        ParseCase{"show  date", true, "K:show K:date", ""},
        ParseCase{"   show date   ", true, "K:show K:date", ""},
        ParseCase{"", true, "", ""},
        ParseCase{"show [LINE]", false, "K:show", ""},
        ParseCase{"'", false, "", ""},
        ParseCase{"show {A} \"", false, "", ""},
        ParseCase{"say \"hi there\"", true, "K:say K:\"hi K:there\"", ""},
        ParseCase{"{NAME:a}", true, "R:NAME:a", "NAME:a="},
        ParseCase{"{X:||a||b|}", true, "C:X=a|b", "X="},
        ParseCase{"pick {a|b} x", false, "K:pick", ""},
        ParseCase{"[OPT:]", true, "O:OPT=", "OPT="},
        ParseCase{"[A:b:c]", true, "O:A=b:c", "A=b:c"},
        ParseCase{"show {A} x{ y", false, "K:show R:A", "A="},
        ParseCase{"a(b", false, "", ""},
        ParseCase{"go c++", false, "K:go", ""},
        ParseCase{"go key:value", false, "K:go", ""},
        ParseCase{"go {A} ] [B:1]", false, "K:go R:A", "A="},
        ParseCase{"{ }", false, "", ""}));

TEST(ParseDefinitionLimitTest, StopsAtTheEleventhParameter) {
  std::string strDefinition = "many";
  for (int i = 0; i < 12; ++i) strDefinition += " {P" + std::to_string(i) + "}";
  std::vector<DefinitionToken> tokens;
  std::map<int, std::string> names;
  CKxAgentCommandArgument argument;
  EXPECT_FALSE(ParseDefinition(strDefinition.c_str(), tokens, names, argument));
  EXPECT_EQ(11u, tokens.size());
  EXPECT_EQ(10, argument.GetCount());
  EXPECT_STREQ("P9", argument.GetName(9));
  EXPECT_EQ(10u, names.size());
}

TEST(ParseDefinitionLimitTest, NullDefinitionIsEmpty) {
  std::vector<DefinitionToken> tokens;
  std::map<int, std::string> names;
  CKxAgentCommandArgument argument;
  EXPECT_TRUE(ParseDefinition(nullptr, tokens, names, argument));
  EXPECT_TRUE(tokens.empty());
}

TEST(QuoteBalanceTest, CountsOnlyQuotesOutsideTheOtherKind) {
  const struct {
    const char* lpText;
    bool bBalanced;
  } kCases[] = {
      {"", true},           {"'", false},       {"\"", false},          {"\"it's\"", true},
      {"'say \"hi'", true}, {"'a' \"b", false}, {"a\"b'c'd\"e", true},  {"\"\"''", true},
      {"'\"'\"", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.bBalanced, IsQuotesBalanced(c.lpText)) << c.lpText;
}

struct SplitCase {
  const char* lpLine;
  bool bKeepQuotes;
  std::vector<std::string> vecWords;
};

class SplitLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitLineTest, SplitsIntoWords) {
  const SplitCase& c = GetParam();
  EXPECT_EQ(c.vecWords, SplitLine(c.lpLine, ' ', c.bKeepQuotes));
}

INSTANTIATE_TEST_SUITE_P(
    Words, SplitLineTest,
    ::testing::Values(
        SplitCase{"show date", false, {"show", "date"}},
        SplitCase{"  show   date  ", false, {"show", "date"}},
        SplitCase{"    ", false, {}},
        SplitCase{"", false, {}},
        SplitCase{"kill \"12 34\"", false, {"kill", "12 34"}},
        SplitCase{"a 'b \"c' d", false, {"a", "b \"c", "d"}},
        SplitCase{"kill  \"5\"", false, {"kill"}},
        SplitCase{"ab\"c d\"e", false, {"abc de"}},
        SplitCase{"x \"\" y", false, {"x"}},
        SplitCase{"\"\"", false, {}},
        SplitCase{"  'a'", false, {}},
        SplitCase{"say \"open", false, {"say", "open"}},
        SplitCase{"say 'it\"s' ok", false, {"say", "it\"s", "ok"}},
        SplitCase{"kill \"12 34\"", true, {"kill", "\"12 34\""}},
        SplitCase{"a 'b \"c' d", true, {"a", "'b \"c'", "d"}},
        SplitCase{"x \"\" y", true, {"x", "\"\"", "y"}}));

TEST(SplitLineSeparatorTest, SplitsAtTheGivenSeparator) {
  EXPECT_EQ((std::vector<std::string>{"a", "b c", "d"}), SplitLine("a,b c,,d", ','));
  EXPECT_EQ((std::vector<std::string>{"a", "x,y"}), SplitLine("a,'x,y'", ','));
}

TEST(PrintDefinitionTest, PrintsAsTheListingShowsIt) {
  const struct {
    const char* lpDefinition;
    const char* lpPrinted;
  } kCases[] = {
      {"show eventlog {LOGNAME:application|security|system} [LINE:10]",
       "show eventlog {application|security|system} [LINE:10]"},
      {"kill {PID}", "kill {PID}"},
      {"set eventlog-notification {SWITCH:on|off}", "set eventlog-notification {on|off}"},
      {"  reboot   [DELAY:180] ", "reboot [DELAY:180]"},
      {"", ""},
      {"'", ""},
      {"show [LINE]", "show"},
  };
  for (const auto& c : kCases) {
    std::vector<DefinitionToken> tokens;
    std::map<int, std::string> names;
    CKxAgentCommandArgument argument;
    ParseDefinition(c.lpDefinition, tokens, names, argument);
    EXPECT_EQ(c.lpPrinted, PrintDefinition(tokens)) << c.lpDefinition;
  }
}

}  // namespace
