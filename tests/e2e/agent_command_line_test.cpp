// The command-line editor of a logged-on session: echo, cursor keys, backspace,
// history, help and completion, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

const char kBackspaceEcho[] = "\x08\x20\x08\x20\x08\x20\x08";
const char kCursorLeft[] = "\x1b[D";
const char kCursorRight[] = "\x1b[C";
const char kUp[] = "\x1b[A";
const char kDown[] = "\x1b[B";

// What "show date" prints: two time lines and an empty line.
const char kShowDatePattern[] =
    " Local Time : \\d+-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"
    " System Time: \\d+-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n\r\n";

class CommandLineTest : public CAgentTest {
 protected:
  void SetUp() override {
    StartAgent();
    if (!HasFatalFailure()) LogOn();
  }

  ::testing::AssertionResult ReceivesNotFound(const std::string& strLine) {
    return ReceivesExactly(*m_pAgent, "[Error] '" + strLine + "' command not found.\n" + Prompt());
  }
  ::testing::AssertionResult ReceivesShowDate() {
    return ReceivesMatching(*m_pAgent, Prompt(), kShowDatePattern + RegexLiteral(Prompt()));
  }
};

TEST_F(CommandLineTest, UnknownCommandIsNamedInTheErrorLine) {
  TypeCommand("foo");
  EXPECT_TRUE(ReceivesNotFound("foo"));
}

TEST_F(CommandLineTest, EmptyLineGivesThePromptAgain) {
  // CR LF is one line end, LF alone another, CR alone a third.
  ASSERT_TRUE(m_pAgent->Send("\r\n"));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + Prompt()));
  ASSERT_TRUE(m_pAgent->Send("\x02\n\r"));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + Prompt() + "\r\n" + Prompt()));
}

TEST_F(CommandLineTest, BackspaceAtTheEndErasesTheLastCharacter) {
  ASSERT_TRUE(m_pAgent->Send("xycd\x08\x7f\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string("xycd") + kBackspaceEcho + kBackspaceEcho + "\r\n"));
  EXPECT_TRUE(ReceivesNotFound("xy"));
}

TEST_F(CommandLineTest, BackspaceAtTheStartDoesNothing) {
  ASSERT_TRUE(m_pAgent->Send("\x08\x7f" "foo\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "foo\r\n"));
  EXPECT_TRUE(ReceivesNotFound("foo"));
}

TEST_F(CommandLineTest, CharacterTypedInTheMiddleIsInsertedAndTheTailRedrawn) {
  ASSERT_TRUE(m_pAgent->Send("show dte\x02\x02"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string("show dte") + kCursorLeft + kCursorLeft));
  ASSERT_TRUE(m_pAgent->Send("a"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string("ate") + kCursorLeft + kCursorLeft));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n"));
  EXPECT_TRUE(ReceivesShowDate());
}

TEST_F(CommandLineTest, BackspaceInTheMiddleClosesTheGap) {
  ASSERT_TRUE(m_pAgent->Send("show daXte\x1b[D\x1b[D"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string("show daXte") + kCursorLeft + kCursorLeft));
  ASSERT_TRUE(m_pAgent->Send("\x08"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(kCursorLeft) + "te " + Repeat(kCursorLeft, 3)));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n"));
  EXPECT_TRUE(ReceivesShowDate());
}

TEST_F(CommandLineTest, CursorStopsAtBothEndsOfTheLine) {
  ASSERT_TRUE(m_pAgent->Send("xy\x06\x02\x02\x02\x06\x06\x06"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string("xy") + kCursorLeft + kCursorLeft + kCursorRight +
                                             kCursorRight));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n"));
  EXPECT_TRUE(ReceivesNotFound("xy"));
}

TEST_F(CommandLineTest, LineEndWithTheCursorAtTheStartDiscardsTheLine) {
  ASSERT_TRUE(m_pAgent->Send("logoff\x02\x02\x02\x02\x02\x02\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "logoff" + Repeat(kCursorLeft, 6) + "\r\n" + Prompt()));
  // Still logged on and the line is empty.
  TypeCommand("bar");
  EXPECT_TRUE(ReceivesNotFound("bar"));
}

TEST_F(CommandLineTest, HistoryWalksBackAndForthThroughEarlierLines) {
  TypeCommand("foo");
  ASSERT_TRUE(ReceivesNotFound("foo"));
  TypeCommand("bar");
  ASSERT_TRUE(ReceivesNotFound("bar"));

  const std::string strEraseThree = Repeat("\x08 \x08", 3);
  ASSERT_TRUE(ReceivesEchoes(*m_pAgent, {
                                            {kUp, "bar"},  // nothing typed: nothing to erase
                                            {kUp, strEraseThree + "foo"},
                                            {kUp, ""},  // already at the oldest line
                                            {"\x0e", strEraseThree + "bar"},  // ^N is ESC [ B
                                            {kDown, strEraseThree},  // past the newest: emptied
                                            {"\x10", "bar"},  // ^P is the same as ESC [ A
                                        }));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n"));
  EXPECT_TRUE(ReceivesNotFound("bar"));
}

TEST_F(CommandLineTest, QuestionMarkListsTheMatchingCommandsAndKeepsTheLine) {
  ASSERT_TRUE(m_pAgent->Send("show ?"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent,
                              "show ?\r\n"
                              " show version\n"
                              " show date\n"
                              " show diskinfo [OPTION:hdd]\n"
                              " show eventlog {application|security|system} [LINE:10]\n"
                              " show process\n"
                              " show service [NAME_DISPLAY_OPTION:full]\n" +
                                  Prompt() + "show "));
  ASSERT_TRUE(m_pAgent->Send("date\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "date\r\n"));
  EXPECT_TRUE(ReceivesShowDate());
}

TEST_F(CommandLineTest, QuestionMarkOnAnEmptyLineListsEveryCommand) {
  ASSERT_TRUE(m_pAgent->Send("?"));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, std::string("?\r\n") + kBuiltInListing + Prompt()));
}

TEST_F(CommandLineTest, TabCompletesAnUnambiguousCommand) {
  ASSERT_TRUE(m_pAgent->Send("show ver\t"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "show ver" + std::string(8, '\x08') + "show version "));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + m_pAgent->GetBanner() + "\n"));
}

TEST_F(CommandLineTest, TabFromTheMiddleBlanksTheRestOfTheLineFirst) {
  ASSERT_TRUE(m_pAgent->Send("show ver\x02\x02\x02\t"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "show ver" + Repeat(kCursorLeft, 3) + "   " +
                                             std::string(8, '\x08') + "show version "));
}

TEST_F(CommandLineTest, TabWithoutACompletionListsAndRedrawsTheLine) {
  ASSERT_TRUE(m_pAgent->Send("foo\t"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "foo\r\n" + Prompt() + "foo"));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n"));
  EXPECT_TRUE(ReceivesNotFound("foo"));
}

TEST_F(CommandLineTest, TabOnAnEmptyLineDoesNothing) {
  ASSERT_TRUE(m_pAgent->Send("\tfoo\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "foo\r\n"));
  EXPECT_TRUE(ReceivesNotFound("foo"));
}

TEST_F(CommandLineTest, LineStopsAt256Characters) {
  ASSERT_TRUE(m_pAgent->Send(std::string(300, 'x')));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, std::string(256, 'x')));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n"));
  EXPECT_TRUE(ReceivesNotFound(std::string(256, 'x')));
}

TEST_F(CommandLineTest, BytesTypedWhileACommandRunsAreHandledInOrderAfterIt) {
  ASSERT_TRUE(m_pAgent->Send("show date\rfoo\rbar\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "show date\r\n"));
  ASSERT_TRUE(ReceivesShowDate());
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "foo\r\n"));
  ASSERT_TRUE(ReceivesNotFound("foo"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "bar\r\n"));
  EXPECT_TRUE(ReceivesNotFound("bar"));
}

class RestrictedAccountTest : public CAgentTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RestrictedAccountTest, CommandsOutsideTheAccountsListAreHiddenOrRefused) {
  BOOL bHidden = GetParam() ? TRUE : FALSE;
  CAgentOptions options = MakeTestOptions();
  options.m_bHideImproperCommands = bHidden;
  StartAgent(options);
  ASSERT_FALSE(HasFatalFailure());
  LogOn(kDave, kDavePassword);
  ASSERT_FALSE(HasFatalFailure());

  ASSERT_TRUE(m_pAgent->Send("show ?"));
  std::string strListing = bHidden ? " show version\n show date\n"
                                   : " show version\n show date\n show diskinfo [OPTION:hdd]\n"
                                     " show eventlog {application|security|system} [LINE:10]\n"
                                     " show process\n show service [NAME_DISPLAY_OPTION:full]\n";
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "show ?\r\n" + strListing + Prompt(kDave) + "show "));
  ASSERT_TRUE(m_pAgent->Send("\x02\x02\x02\x02\x02\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, Repeat(kCursorLeft, 5) + "\r\n" + Prompt(kDave)));

  TypeCommand("reboot");
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, std::string(bHidden ? "[Error] 'reboot' command not found.\n"
                                                             : "[Error] Permission denied.\n") +
                                             Prompt(kDave)));
}

INSTANTIATE_TEST_SUITE_P(HiddenOrVisible, RestrictedAccountTest, ::testing::Bool());

TEST_F(CommandLineTest, BrokenEscapeSequencesDropTheirPrefixAndKeepTheLastByte) {
  ASSERT_FALSE(HasFatalFailure());
  // ESC x, ESC [ Z and ESC [ 4 z match no sequence: only x, Z and z remain.
  ASSERT_TRUE(m_pAgent->Send("\x1bx\x1b[Z\x1b[4z"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "xZz"));
  // A second ESC starts the sequence afresh.
  ASSERT_TRUE(m_pAgent->Send("\x1b\x1b[D"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\x1b[D"));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n[Error] 'xZz' command not found.\n" + Prompt()));
}

}  // namespace
}  // namespace e2e
}  // namespace kx
