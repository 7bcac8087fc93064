#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/error_codes.h"
#include "emulation/key_value_store.h"
#include "tests/support/TemporarySystemRoot.h"

namespace {

struct ParseCase {
  const char* lpText;
  kx::CKeyValues expected;
};

// The one format every state file is read with.
const ParseCase kParseCases[] = {
    {"a=1\nb=two words\n", {{"a", "1"}, {"b", "two words"}}},
    {"a=1\r\nb=2\r\n", {{"a", "1"}, {"b", "2"}}},
    {"  key \t= value = more\n", {{"key", " value = more"}}},
    {"# comment=no\n\n   \nno equals sign\n=empty key\nlast=1", {{"last", "1"}}},
    {"a=1\na=2\n", {{"a", "2"}}},
    {"m=line\\none\\r\\\\back\\", {{"m", "line\none\r\\back\\"}}},
    {"", {}},
};

TEST(KeyValueStore, ParsesOneFormat) {
  for (const ParseCase& c : kParseCases) EXPECT_EQ(c.expected, kx::ParseKeyValues(c.lpText)) << c.lpText;
}

TEST(KeyValueStore, EveryValueReadsBackAsWritten) {
  kx::CKeyValues values = {{"binary", std::string("\x00\x01\x1b[2J\x7f\xff", 7)},
                           {"breaks", "a\r\nb\\n\\"},
                           {"empty", ""},
                           {"blanks", "  kept  "}};
  EXPECT_EQ(values, kx::ParseKeyValues(kx::FormatKeyValues(values)));
}

// A writer killed part-way leaves its temporary file behind, perhaps read-only:
// the next write replaces it, and a write leaves no temporary file.
TEST(KeyValueStore, WriteReplacesTheFileAndAStaleTemporaryOne) {
  CTemporarySystemRoot root;
  ASSERT_TRUE(root.Enter("/tmp/kx-kvstore-XXXXXX"));
  std::string strPath = root.GetPath() + "/state";
  std::string strTemporary = strPath + ".tmp";
  std::ofstream(strTemporary) << "half a wri";
  ASSERT_EQ(0, chmod(strTemporary.c_str(), 0444));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::WriteKeyValueFile(strPath, {{"k", "v"}}));
  EXPECT_NE(0, access(strTemporary.c_str(), F_OK));
  kx::CKeyValues values;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ReadKeyValueFile(strPath, &values));
  EXPECT_EQ((kx::CKeyValues{{"k", "v"}}), values);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), kx::ReadKeyValueFile(strPath + ".missing", &values));
  EXPECT_TRUE(values.empty());
}

}  // namespace
