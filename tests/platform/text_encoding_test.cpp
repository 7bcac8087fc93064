#include <gtest/gtest.h>

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
// and a lead byte before a control byte keep their lead byte.
const MaskCase kMaskCases[] = {
    {"plain text 123", "plain text 123"},
    {"\x1b[2J", "?[2J"},
    {"\x1b]0;title\x07", "?]0;title?"},
    {"a\r\nb\tc", "a??b?c"},
    {EveryControlByte(), std::string(32, '?')},
    {std::string("x\0y", 3), "x?y"},
    {"\x95\x5c\x83\x40\x83\x7c", "\x95\x5c\x83\x40\x83\x7c"},
    {"\x81\x1b[2J", "\x81?[2J"},
    {"\x81", "\x81"},
    {"\xff\x80\xa0", "\xff\x80\xa0"},
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

}  // namespace
