// The tool's plain rules that both front-ends rely on, where a slip would not
// show in a window: the framework's number check, code page 932 texts, and
// taking what the configuration library prints.
#include <gtest/gtest.h>

#include <cstdio>

#include "KxAgentCtrl/CtrlText.h"
#include "KxAgentCtrl/PluginPageLogic.h"

namespace {

struct CNumberCase {
  const char* lpText;
  int nMin;
  int nMax;
  bool bAccepted;
  int nValue;
  const char* lpMessage;
};

TEST(CtrlLogicTest, IntegerFieldCheck) {
  const CNumberCase cases[] = {
      {"3600", 0, 3600, true, 3600, ""},
      {" 45 ", 0, 3600, true, 45, ""},
      {"0", 0, 3600, true, 0, ""},
      {"3601", 0, 3600, false, 0, "Please enter an integer between 0 and 3600."},
      {"-1", 0, 3600, false, 0, "Please enter an integer between 0 and 3600."},
      {"0", 1, 100, false, 0, "Please enter an integer between 1 and 100."},
      {"12a", 0, 3600, false, 0, "Please enter an integer."},
      {"", 0, 3600, false, 0, "Please enter an integer."},
      {"99999999999", 0, 3600, false, 0, "Please enter an integer."},
  };
  for (const CNumberCase& test : cases) {
    int nValue = -7;
    CKxCtrlMessage message;
    EXPECT_EQ(test.bAccepted, KxParseIntegerField(test.lpText, test.nMin, test.nMax, &nValue, &message)) << test.lpText;
    EXPECT_EQ(test.lpMessage, message.strText) << test.lpText;
    if (test.bAccepted) {
      EXPECT_EQ(test.nValue, nValue) << test.lpText;
    } else {
      EXPECT_EQ("KxAgentCtrl", message.strTitle) << test.lpText;
    }
  }
}

// A double-byte character's trail byte can be a letter or the back-slash; it
// stays as it is.
TEST(CtrlLogicTest, Cp932TextsKeepTheirTrailBytes) {
  const std::pair<const char*, const char*> lower[] = {
      {"Admin", "admin"}, {"\x83\x41" "B", "\x83\x41" "b"}, {"CORP\x82\x60", "corp\x82\x60"}};
  for (const auto& test : lower) EXPECT_EQ(test.second, KxToLower(test.first)) << test.first;
  const std::pair<const char*, const char*> names[] = {
      {"dir/plugin.dll", "plugin.dll"}, {"dir/\x83\x5C.dll", "\x83\x5C.dll"}, {"plain.js", "plain.js"}};
  for (const auto& test : names) EXPECT_EQ(test.second, CKxAgentPluginPageLogic::GetFileName(test.first)) << test.first;
  EXPECT_EQ("a b", KxTrim(" \t a b\r\n"));
}

}  // namespace
