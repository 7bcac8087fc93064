// Plug-in file names from the configuration: only plain names in the plug-in directory.
#include <gtest/gtest.h>

#include <string>

#include "KxAgentPluginManager/PluginFile.h"

namespace {

TEST(PluginFileTest, JoinsOnlyPlainFileNamesToThePluginDirectory) {
  struct {
    const char* lpFileName;
    const char* lpExpected;  // empty: refused
  } const kCases[] = {
      {"sysinfo.so", "/base/plugins/sysinfo.so"},
      {"echo.js", "/base/plugins/echo.js"},
      {"a..b.so", "/base/plugins/a..b.so"},
      {"\x83\x5c.js", "/base/plugins/\x83\x5c.js"},  // a double-byte character ending in 0x5C
      {"../evil.so", ""},
      {"..", ""},
      {".", ""},
      {"", ""},
      {"/usr/lib/evil.so", ""},
      {"sub/evil.so", ""},
      {"..\\evil.dll", ""},
      {"C:evil.dll", ""},
      {"\x83", ""},  // a lead byte without its trail byte
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.lpExpected, MakePluginFilePath("/base/plugins/", c.lpFileName)) << c.lpFileName;
  }
  EXPECT_EQ("", MakePluginFilePath("/base/plugins/", nullptr));
}

}  // namespace
