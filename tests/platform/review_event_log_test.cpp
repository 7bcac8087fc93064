#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "platform/error_codes.h"
#include "platform/event_log.h"

namespace {

class EventSourceReviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* lpOld = std::getenv("KX_SYSTEM_ROOT");
    m_bHadRoot = lpOld != nullptr;
    if (m_bHadRoot) m_strOldRoot = lpOld;
    char szTemplate[] = "/tmp/kx-review-src-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szTemplate));
    m_strRoot = szTemplate;
    setenv("KX_SYSTEM_ROOT", m_strRoot.c_str(), 1);
  }
  void TearDown() override {
    if (m_bHadRoot) {
      setenv("KX_SYSTEM_ROOT", m_strOldRoot.c_str(), 1);
    } else {
      unsetenv("KX_SYSTEM_ROOT");
    }
    if (std::system(("rm -rf " + m_strRoot).c_str()) != 0) {
      // A temporary directory left behind is harmless.
    }
  }

  std::string m_strRoot;
  std::string m_strOldRoot;
  bool m_bHadRoot = false;
};

// Only a real trail byte belongs to a lead byte: a '/' or a control character
// after one is still a separator or a control character.
TEST_F(EventSourceReviewTest, ALeadByteDoesNotSmuggleASeparatorIntoASourceName) {
  for (const char* lpName : {"\x81/x", "\x81/../../escape", "\xE0\n", "\xFC\x1B"}) {
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
