// Files, paths and registration records on Windows: what the configuration and
// the logs rely on, against the system's own file and registry calls.
#include "platform/windows_win.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/append_file.h"
#include "platform/error_codes.h"
#include "platform/native_path.h"
#include "platform/registration.h"
#include "platform/replace_file.h"
#include "platform/single_instance.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class WindowsFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_directory = fs::temp_directory_path() / ("kx-files-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(m_directory);
    m_strDirectory = m_directory.string();
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(m_directory, error);
  }

  fs::path m_directory;
  std::string m_strDirectory;
};

// A code page 932 name (管理.xml) reaches the file system as the same file.
TEST_F(WindowsFilesTest, ReplacingKeepsNoTemporaryFileAndNamesAreCodePage932) {
  std::string strPath = m_strDirectory + kx::kPathSeparator + "\x8A\xC7\x97\x9D.xml";
  const char* const kContents[] = {"first\r\n", "", "second, longer than the first\r\n"};
  for (const char* lpContents : kContents) {
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ReplaceFileDurably(kx::ToNativePath(strPath).c_str(), lpContents));
    EXPECT_EQ(lpContents, ReadAll(kx::ToFileSystemPath(strPath)));
  }
  EXPECT_TRUE(fs::exists(m_directory / L"\u7BA1\u7406.xml"));
  EXPECT_FALSE(fs::exists(kx::ToFileSystemPath(strPath + ".tmp")));
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS),
            kx::ReplaceFileDurably((m_strDirectory + "\\missing\\x.xml").c_str(), "x"));
}

TEST_F(WindowsFilesTest, TwoAppendersBothLandWholeAtTheEnd) {
  std::string strPath = m_strDirectory + "\\info.log";
  kx::CAppendFile first, second;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), first.Open(strPath.c_str()));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), second.Open(strPath.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), first.Write("one\r\n", 5));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), second.Write("two\r\n", 5));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), first.Write("three\r\n", 7));
  long long llSize = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), second.GetSize(&llSize));
  EXPECT_EQ(17, llSize);
  first.Close();
  second.Close();
  EXPECT_EQ("one\r\ntwo\r\nthree\r\n", ReadAll(strPath));
  kx::CAppendFile missing;
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), missing.Open((m_strDirectory + "\\no\\x.log").c_str()));
}

// A reparse point planted under a log file's name is refused, not written
// through. Skipped where the system will not make a symbolic link.
TEST_F(WindowsFilesTest, LogFileIsNotWrittenThroughALink) {
  std::string strVictim = m_strDirectory + "\\victim.txt";
  std::string strLink = m_strDirectory + "\\warning.log";
  { std::ofstream(strVictim) << "untouched"; }
  if (!::CreateSymbolicLinkA(strLink.c_str(), strVictim.c_str(), 0)) {
    GTEST_SKIP() << "no symbolic link: error " << ::GetLastError();
  }
  DWORD dwAttributes = ::GetFileAttributesA(strLink.c_str());
  if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    GTEST_SKIP() << "the link is not shown as a reparse point here (attributes " << dwAttributes << ")";
  }
  kx::CAppendFile file;
  EXPECT_EQ(static_cast<DWORD>(ERROR_STOPPED_ON_SYMLINK), file.Open(strLink.c_str()));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ("untouched", ReadAll(strVictim));
}

// Windows' lock is the named mutex of the design; a second holder is refused
// until the first lets go.
TEST(WindowsSingleInstance, TheNamedMutexAdmitsOneHolder) {
  EXPECT_EQ("KxAgentCtrlMutex", kx::CSingleInstance::GetLockName("C:\\x\\config\\sysconfig.xml"));
  kx::CSingleInstance first;
  kx::CSingleInstance second;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), first.Acquire("C:\\x\\config\\sysconfig.xml"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), second.Acquire("C:\\x\\config\\sysconfig.xml"));
  EXPECT_FALSE(second.IsHeld());
  first.Release();
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), second.Acquire("C:\\x\\config\\sysconfig.xml"));
}

TEST(WindowsRegistration, ValuesAreSetReadAndRemovedWithTheirKey) {
  const char kKey[] = "AppID/{00000000-0000-0000-0000-4B5854455354}";
  std::string strValue;
  kx::DeleteRegistrationKey(kKey);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), kx::GetRegistrationValue(kKey, "LocalService", &strValue));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::SetRegistrationValue(kKey, "", "KxAgent"));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::SetRegistrationValue(kKey, "LocalService", "KxAgent"));
  EXPECT_TRUE(kx::IsRegistrationKey(kKey));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetRegistrationValue(kKey, "", &strValue));
  EXPECT_EQ("KxAgent", strValue);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::DeleteRegistrationValue(kKey, "LocalService"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::DeleteRegistrationValue(kKey, "LocalService"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), kx::GetRegistrationValue(kKey, "LocalService", &strValue));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::DeleteRegistrationKey(kKey));
  EXPECT_FALSE(kx::IsRegistrationKey(kKey));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), kx::DeleteRegistrationKey(""));
}

}  // namespace
