#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/registration.h"
#include "tests/support/TemporarySystemRoot.h"

namespace {

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.Enter("/tmp/kx-registration-XXXXXX"));
    m_strRoot = m_root.GetPath();
  }

  CTemporarySystemRoot m_root;
  std::string m_strRoot;
};

TEST_F(RegistrationTest, ValuesRoundTripPerKeyAndDefaultValueHasTheEmptyName) {
  const char* lpKey = "AppID/{6F2A41C3-95D8-4B7E-A1C4-3E58D07B92AF}";
  EXPECT_FALSE(kx::IsRegistrationKey(lpKey));
  ASSERT_EQ(0u, kx::SetRegistrationValue(lpKey, "", "KxAgent"));
  ASSERT_EQ(0u, kx::SetRegistrationValue(lpKey, "LocalService", "KxAgent"));
  ASSERT_EQ(0u, kx::SetRegistrationValue("AppID/KxAgent.EXE", "AppID", "{6F2A}"));
  EXPECT_TRUE(kx::IsRegistrationKey(lpKey));

  std::string strValue;
  ASSERT_EQ(0u, kx::GetRegistrationValue(lpKey, "", &strValue));
  EXPECT_EQ("KxAgent", strValue);
  ASSERT_EQ(0u, kx::GetRegistrationValue(lpKey, "LocalService", &strValue));
  EXPECT_EQ("KxAgent", strValue);
  ASSERT_EQ(0u, kx::GetRegistrationValue("AppID/KxAgent.EXE", "AppID", &strValue));
  EXPECT_EQ("{6F2A}", strValue);
  EXPECT_EQ(2u, kx::GetRegistrationValue("AppID/KxAgent.EXE", "LocalService", &strValue));
}

TEST_F(RegistrationTest, DeletingAValueKeepsTheOthersAndMissingOnesAreNotErrors) {
  const char* lpKey = "AppID/X";
  ASSERT_EQ(0u, kx::SetRegistrationValue(lpKey, "", "KxAgent"));
  ASSERT_EQ(0u, kx::SetRegistrationValue(lpKey, "LocalService", "KxAgent"));
  EXPECT_EQ(0u, kx::DeleteRegistrationValue(lpKey, "LocalService"));
  EXPECT_EQ(0u, kx::DeleteRegistrationValue(lpKey, "LocalService"));
  EXPECT_EQ(0u, kx::DeleteRegistrationValue("AppID/Missing", "x"));

  std::string strValue;
  EXPECT_EQ(2u, kx::GetRegistrationValue(lpKey, "LocalService", &strValue));
  ASSERT_EQ(0u, kx::GetRegistrationValue(lpKey, "", &strValue));
  EXPECT_EQ("KxAgent", strValue);

  EXPECT_EQ(0u, kx::DeleteRegistrationKey(lpKey));
  EXPECT_FALSE(kx::IsRegistrationKey(lpKey));
  EXPECT_EQ(0u, kx::DeleteRegistrationKey(lpKey));
}

TEST_F(RegistrationTest, HostileKeysStayInsideTheRegistrationDirectoryAndLineBreaksAreRefused) {
  ASSERT_EQ(0u, kx::SetRegistrationValue("../../escape", "a", "b"));
  struct stat st;
  EXPECT_NE(0, stat((m_strRoot + "/escape").c_str(), &st));
  EXPECT_NE(0, stat((m_strRoot + "/../escape").c_str(), &st));
  std::string strValue;
  ASSERT_EQ(0u, kx::GetRegistrationValue("../../escape", "a", &strValue));
  EXPECT_EQ("b", strValue);

  EXPECT_EQ(87u, kx::SetRegistrationValue("AppID/X", "name", "two\nlines"));
  EXPECT_EQ(87u, kx::SetRegistrationValue("AppID/X", "a=b", "value"));
}

}  // namespace
