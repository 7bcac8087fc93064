// The line editor as a table: keys in, echoed bytes and the resulting line out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LineEditor.h"
#include "tests/support/RecordingWriter.h"

namespace {

const std::string kLeft = "\x1b[D";
const std::string kRight = "\x1b[C";
const std::string kErase = "\x08 \x08";
const std::string kUp = "\x1b[A";
const std::string kDown = "\x1b[B";

std::string Repeat(const std::string& strText, int nCount) {
  std::string strOut;
  for (int i = 0; i < nCount; ++i) strOut += strText;
  return strOut;
}

struct LineEditorCase {
  const char* lpName;
  CLineEditor::EMode eMode;
  int nLineMax;
  std::vector<const char*> vecHistory;
  std::string strKeys;
  std::string strEcho;
  std::string strLine;
};

const LineEditorCase kCases[] = {
    {"typing appends and echoes", CLineEditor::MODE_EDIT, 256, {}, "abc", "abc", "abc"},
    {"typing in the middle redraws the tail and steps back over it", CLineEditor::MODE_EDIT, 256, {},
     "ac\x02" "b", "ac" + kLeft + "bc" + kLeft, "abc"},
    {"erase at the end", CLineEditor::MODE_EDIT, 256, {}, "abc\x08",
     "abc" + kErase + " " + kErase, "ab"},
    {"erase in the middle closes the gap", CLineEditor::MODE_EDIT, 256, {}, "abc\x02\x7f",
     "abc" + kLeft + kLeft + "c " + kLeft + kLeft, "ac"},
    {"erase at the start does nothing", CLineEditor::MODE_EDIT, 256, {}, "\x08\x7f" "a", "a", "a"},
    {"cursor stops at both ends", CLineEditor::MODE_EDIT, 256, {}, "a\x06\x02\x02\x06\x06",
     "a" + kLeft + kRight, "a"},
    {"escape sequences stand for their keys", CLineEditor::MODE_EDIT, 256, {},
     "ab\x1b[D\x1b[C\x1b[4~", "ab" + kLeft + kRight + kErase + " " + kErase, "a"},
    {"a broken sequence keeps only its last byte", CLineEditor::MODE_EDIT, 256, {}, "\x1bx\x1b[4z",
     "xz", "xz"},
    {"control and high bytes are ignored", CLineEditor::MODE_EDIT, 256, {}, "\x01\x03\x80\xff", "", ""},
    {"a full line takes no further character", CLineEditor::MODE_EDIT, 5, {}, "abcdefg", "abcde",
     "abcde"},
    {"history walks back, stops at the oldest, and forward past the newest empties the line",
     CLineEditor::MODE_EDIT, 256, {"foo", "bar"}, kUp + kUp + kUp + kDown + kDown,
     "bar" + Repeat(kErase, 3) + "foo" + Repeat(kErase, 3) + "bar" + Repeat(kErase, 3), ""},
    {"recalling with the cursor inside the line erases all of it", CLineEditor::MODE_EDIT, 256,
     {"foo"}, "abcdef\x02\x02\x02" + kUp,
     "abcdef" + Repeat(kLeft, 3) + "   " + Repeat(kErase, 6) + "foo", "foo"},
    {"emptying from inside the line erases all of it", CLineEditor::MODE_EDIT, 256, {"foo"},
     kUp + "\x02\x02" + kDown, "foo" + Repeat(kLeft, 2) + "  " + Repeat(kErase, 3), ""},
    {"typing ends browsing: the next recall starts at the newest", CLineEditor::MODE_EDIT, 256,
     {"foo", "bar"}, kUp + kUp + "x" + kUp,
     "bar" + Repeat(kErase, 3) + "foo" + "x" + Repeat(kErase, 4) + "bar", "bar"},
    {"a recalled line longer than the limit is cut", CLineEditor::MODE_EDIT, 4, {"abcdef"}, kUp,
     "abcd", "abcd"},
    {"plain mode ignores cursor and history keys", CLineEditor::MODE_PLAIN, 256, {"foo"},
     "ab\x02" + kUp + "\x06" + kDown, "ab", "ab"},
    {"echo-off mode shows only the erasing", CLineEditor::MODE_ECHO_OFF, 256, {}, "pw\x08",
     kErase + " " + kErase, "p"},
};

TEST(LineEditorTest, KeysGiveTheirEchoAndLine) {
  for (const LineEditorCase& test : kCases) {
    CRecordingWriter writer;
    CLineEditor editor(writer, test.nLineMax);
    editor.SetMode(test.eMode);
    for (const char* lpLine : test.vecHistory) editor.GetHistory().Add(lpLine);
    for (char c : test.strKeys) {
      if (editor.DecodeKey(c)) {
        EXPECT_TRUE(editor.EditKey(c)) << test.lpName;
      }
    }
    EXPECT_EQ(test.strEcho, writer.m_strBytes) << test.lpName;
    EXPECT_EQ(test.strLine, editor.GetLine()) << test.lpName;
  }
}

TEST(LineEditorTest, LineEndAndTabAreLeftToTheOwner) {
  CRecordingWriter writer;
  CLineEditor editor(writer, 256);
  for (char c : {'\r', '\n', '\t'}) EXPECT_FALSE(editor.EditKey(c));
  EXPECT_EQ("", writer.m_strBytes);
}

}  // namespace
