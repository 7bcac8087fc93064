#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/text_encoding.h"

namespace {

struct MaskCase {
  std::string strInput;
  std::string strExpected;
};

std::string EveryControlByte() {
  std::string strText;
  for (int c = 1; c < 0x20; ++c) strText += static_cast<char>(c);
  return strText + '\x7F';
}

// Terminal sequences and line breaks become '?', byte for byte; double-byte
// characters whose trail byte looks like ASCII ('\' 0x5C, '@' 0x40, '|' 0x7C)
// pass; a lead byte without its trail byte (0x9B alone is the 8-bit CSI) and
// 0x80 become '?' too.
const MaskCase kMaskCases[] = {
    {"plain text 123", "plain text 123"},
    {"\x1b[2J", "?[2J"},
    {"\x1b]0;title\x07", "?]0;title?"},
    {"a\r\nb\tc", "a??b?c"},
    {EveryControlByte(), std::string(32, '?')},
    {std::string("x\0y", 3), "x?y"},
    {"\x95\x5c\x83\x40\x83\x7c", "\x95\x5c\x83\x40\x83\x7c"},
    {"\x81\x1b[2J", "??[2J"},
    {"\x81", "?"},
    {"a\x9b" "2J", "a?2J"},
    {"\x9b\x9b\x41", "\x9b\x9b\x41"},
    {"\xff\x80\xa0", "\xff?\xa0"},
};

TEST(MaskControlCharacters, ShowsEachControlByteAsQuestionMarkAndKeepsDoubleByteCharacters) {
  for (const MaskCase& c : kMaskCases) {
    EXPECT_EQ(c.strExpected, kx::MaskControlCharacters(c.strInput)) << "input of " << c.strInput.size() << " bytes";
    if (c.strInput.find('\0') != std::string::npos) continue;
    std::vector<char> buffer(c.strInput.begin(), c.strInput.end());
    buffer.push_back('\0');
    kx::MaskControlCharacters(buffer.data());
    EXPECT_EQ(c.strExpected, std::string(buffer.data())) << "in place, " << c.strInput.size() << " bytes";
  }
}

struct SjisCase {
  const char* lpName;
  std::string source;
  std::string expected;
};

const SjisCase kSjisCases[] = {
    {"hiragana a", "\x82\xA0", "\xA4\xA2"},
    {"kanji row 16", "\x88\x9F", "\xB0\xA1"},
    {"trail below 0x7F", "\x88\x40", "\xAF\xA1"},
    {"trail 0x80 to 0x9E", "\x88\x80", "\xAF\xE0"},
    {"lead 0xE0", "\xE0\x40", "\xDF\xA1"},
    {"half-width katakana", "\xB1", "\x8E\xB1"},
    {"ASCII", "abc 123~", "abc 123~"},
    {"not Shift-JIS", "a\x80" "b\xA0" "c\xFD\xFE\xFF", "abc"},
    {"lead byte at the end", "a\x82", "a"},
};

TEST(SjisToEuc, ConvertsEachKindOfByte) {
  for (const SjisCase& c : kSjisCases) {
    char out[64];
    int nLength = kx::SjisToEuc(c.source.c_str(), out, sizeof(out));
    EXPECT_EQ(c.expected, std::string(out, nLength)) << c.lpName;
    EXPECT_EQ('\0', out[nLength]) << c.lpName;
  }
}

TEST(SjisToEuc, CutsAtSizeMinusOne) {
  char out[8];
  std::memset(out, '#', sizeof(out));
  EXPECT_EQ(3, kx::SjisToEuc("abcdef", out, 4));
  EXPECT_EQ(std::string("abc\0#", 5), std::string(out, 5));
  // A character cut in two keeps its first byte; the NUL takes the last place.
  std::memset(out, '#', sizeof(out));
  EXPECT_EQ(3, kx::SjisToEuc("\x82\xA0\x82\xA0", out, 4));
  EXPECT_EQ(std::string("\xA4\xA2\xA4\0#", 5), std::string(out, 5));
  std::memset(out, '#', sizeof(out));
  EXPECT_EQ(0, kx::SjisToEuc("\x82\xA0", out, 1));
  EXPECT_EQ(std::string("\0#", 2), std::string(out, 2));
}

}  // namespace
