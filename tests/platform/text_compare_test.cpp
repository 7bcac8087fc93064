#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/text_compare.h"

namespace {

struct CompareCase {
  const char* lpLeft;
  const char* lpRight;
  int nSign;
};

int Sign(int n) { return n < 0 ? -1 : (n > 0 ? 1 : 0); }

// Only ASCII letters fold: a Shift-JIS trail byte in the letter range still
// folds as the byte it is, and bytes above 0x7F compare as unsigned.
TEST(CompareNoCase, FoldsAsciiLettersOnly) {
  const CompareCase kCases[] = {
      {"RegServer", "regserver", 0}, {"INSTALL", "install", 0}, {"", "", 0},
      {"a", "B", -1},                {"Service", "Services", -1}, {"\x82\xA0", "\x82\xC0", -1},
      {"\x81" "A", "\x81" "a", 0},   {"\xE0", "a", 1},            {"[", "a", -1},
  };
  for (const CompareCase& c : kCases) {
    EXPECT_EQ(c.nSign, Sign(kx::CompareNoCase(c.lpLeft, c.lpRight))) << c.lpLeft << " / " << c.lpRight;
    EXPECT_EQ(-c.nSign, Sign(kx::CompareNoCase(c.lpRight, c.lpLeft))) << c.lpRight << " / " << c.lpLeft;
  }
  EXPECT_EQ(0, kx::CompareNoCase("Encoding=UTF-8", "ENCODING=", 9));
  EXPECT_NE(0, kx::CompareNoCase("Encodin", "ENCODING=", 9));
}

// The machine name is lowered letter by letter; a double-byte character's
// second byte in the letter range ('A' is 0x41) stays as it is.
TEST(LowerCaseSingleByte, LowersAsciiLettersButNotDoubleByteCharacters) {
  const std::pair<std::string, std::string> kCases[] = {
      {"WIN-SERVER01", "win-server01"},
      {"", ""},
      {"\x83\x41SRV", "\x83\x41srv"},      // katakana A, then letters
      {"SRV\x83\x5A", "srv\x83\x5A"},      // a trail byte that looks like 'Z'
      {"\xB1\x41", "\xB1\x61"},            // a half-width katakana is one byte
      {"A\x83", "a\x83"},                    // a lead byte at the end stands alone
  };
  for (const auto& c : kCases) EXPECT_EQ(c.second, kx::LowerCaseSingleByte(c.first)) << c.first;
}

}  // namespace
