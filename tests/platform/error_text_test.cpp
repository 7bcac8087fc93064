#include <gtest/gtest.h>

#include "platform/error_text.h"

namespace {

struct MessageCase {
  DWORD dwCode;
  const char* lpText;
};

// The product's own table, as Windows Server 2003 words the texts: what the
// terminal shows wherever the system has no text of its own (on Windows the
// system's own wording wins, and differs between releases).
const MessageCase kMessageCases[] = {
    {0, "The operation completed successfully."},
    {2, "The system cannot find the file specified."},
    {5, "Access is denied."},
    {50, "The request is not supported."},
    {87, "The parameter is incorrect."},
    {1060, "The specified service does not exist as an installed service."},
    {1115, "A system shutdown is in progress."},
    {1116, "Unable to abort the system shutdown because no shutdown was in progress."},
    {1326, "Logon failure: unknown user name or bad password."},
    {1460, "This operation returned because the timeout period expired."},
};

TEST(FormatSystemMessage, GivesTheWindowsEnglishText) {
  for (const MessageCase& c : kMessageCases) {
    EXPECT_EQ(c.lpText, kx::ChooseSystemMessage("", c.dwCode)) << "code " << c.dwCode;
  }
}

TEST(FormatSystemMessage, EveryCodeTheProductShowsHasOneLineEndingInAFullStop) {
  const DWORD kCodes[] = {0,    1,    2,    3,    5,    6,    8,    13,   31,   50,
                          87,   112,  122,  123,  1051, 1052, 1053, 1055, 1056, 1058,
                          1060, 1061, 1062, 1063, 1069, 1072, 1073, 1115, 1116, 1117,
                          1326, 1327, 1330, 1331, 1460, 1793, 1909};
  for (DWORD dwCode : kCodes) {
    std::string text = kx::FormatSystemMessage(dwCode);
    ASSERT_FALSE(text.empty()) << "code " << dwCode;
    EXPECT_EQ('.', text.back()) << "code " << dwCode;
    EXPECT_EQ(std::string::npos, text.find_first_of("\r\n")) << "code " << dwCode;
  }
}

TEST(FormatSystemMessage, UnknownCodesGiveNothing) {
  EXPECT_EQ("", kx::ChooseSystemMessage("", 4));
  EXPECT_EQ("", kx::FormatSystemMessage(0xFFFFFFFFu));
}

}  // namespace
