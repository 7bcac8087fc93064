#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "tests/support/TemporarySystemRoot.h"

namespace {

class EventSourceReviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.Enter("/tmp/kx-review-src-XXXXXX"));
    m_strRoot = m_root.GetPath();
  }
  void TearDown() override {
    m_root.Leave();
  }

  std::string m_strRoot;
  CTemporarySystemRoot m_root;
};

// Only a real trail byte belongs to a lead byte: a '/' after one is still a
// separator.
TEST_F(EventSourceReviewTest, ALeadByteDoesNotSmuggleASeparatorIntoASourceName) {
  for (const char* lpName : {"\x81/x", "\x81/../../escape", "\xE0/", "a\xFC/b"}) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), kx::InstallEventSource("System", lpName, nullptr))
        << lpName;
    kx::HEVENTSOURCE hSource = nullptr;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), kx::RegisterEventLogSource(lpName, &hSource)) << lpName;
    kx::DeregisterEventLogSource(hSource);
  }
  // "ソ" ends in 0x5C and "ー" in 0x5B: whole characters, accepted.
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallEventSource("System", "\x83\x5C\x81\x5B", nullptr));
}

}  // namespace
