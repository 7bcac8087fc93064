#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/append_file.h"
#include "platform/error_codes.h"
#include "platform/program_path.h"
#include "platform/system_info.h"
#include "emulation/system_root.h"

namespace {

TEST(QueryComputerName, IsTheHostName) {
  char host[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(0, gethostname(host, sizeof(host) - 1));
  EXPECT_EQ(host, kx::QueryComputerName());
}

TEST(QueryOsVersion, CarriesTheKernelVersionAsAnNtRecord) {
  kx::OS_VERSION_INFO info;
  ASSERT_TRUE(kx::QueryOsVersion(&info));
  struct utsname name;
  ASSERT_EQ(0, uname(&name));
  std::string strSystem, strEdition;
  EXPECT_TRUE(kx::QueryOsDisplayName(&strSystem, &strEdition));
  EXPECT_EQ("Linux", strSystem);
  EXPECT_FALSE(strEdition.empty());
  EXPECT_EQ(2u, info.dwPlatformId);
  EXPECT_EQ(3, info.wProductType);
  EXPECT_STREQ("", info.szCSDVersion);
  std::string prefix = std::to_string(info.dwMajorVersion) + "." +
                       std::to_string(info.dwMinorVersion) + "." +
                       std::to_string(info.dwBuildNumber);
  EXPECT_EQ(0u, std::string(name.release).find(prefix)) << name.release;
}

TEST(QueryMemoryStatus, AvailableNeverExceedsTotalAndSmallFieldsSaturate) {
  kx::MEMORYSTATUS status;
  ASSERT_TRUE(kx::QueryMemoryStatus(&status));
  EXPECT_GT(status.ullTotalPhys, 0u);
  EXPECT_LE(status.ullAvailPhys, status.ullTotalPhys);
  EXPECT_LE(status.ullAvailPageFile, status.ullTotalPageFile);
  EXPECT_LE(status.dwMemoryLoad, 100u);
  DWORD dwExpected = status.ullTotalPhys > 0xFFFFFFFFull ? 0xFFFFFFFFu
                                                         : static_cast<DWORD>(status.ullTotalPhys);
  EXPECT_EQ(dwExpected, status.dwTotalPhys);
}

TEST(GetProgramDirectory, EndsInASeparatorAndHoldsTheProgram) {
  std::string dir = kx::GetProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ('/', dir.back());
  EXPECT_EQ(0u, kx::GetProgramPath().find(dir));
}

TEST(GetSystemRoot, FollowsTheEnvironmentElseTheFixedPath) {
  const char* lpSaved = std::getenv("KX_SYSTEM_ROOT");
  std::string saved = lpSaved ? lpSaved : "";
  unsetenv("KX_SYSTEM_ROOT");
  EXPECT_EQ("/var/lib/kxagent", kx::GetSystemRoot());
  setenv("KX_SYSTEM_ROOT", "/tmp/kx-root-test/", 1);
  EXPECT_EQ("/tmp/kx-root-test", kx::GetSystemRoot());
  if (lpSaved) {
    setenv("KX_SYSTEM_ROOT", saved.c_str(), 1);
  } else {
    unsetenv("KX_SYSTEM_ROOT");
  }
}

TEST(EnsureDirectory, CreatesMissingParents) {
  char tmpl[] = "/tmp/kx-dir-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  std::string deep = std::string(tmpl) + "/a/b/c";
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::EnsureDirectory(deep));
  EXPECT_EQ(0, access(deep.c_str(), W_OK));
  std::string cmd = std::string("rm -rf ") + tmpl;
  ASSERT_EQ(0, std::system(cmd.c_str()));
}

TEST(CAppendFile, AppendsToWhatIsThereAndReportsTheSize) {
  char tmpl[] = "/tmp/kx-append-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  std::string path = std::string(tmpl) + "/f.log";
  {
    kx::CAppendFile file;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), file.Open(path.c_str()));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), file.Write("abc", 3));
  }
  kx::CAppendFile file;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), file.Open(path.c_str()));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), file.Write("de", 2));
  long long llSize = 0;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), file.GetSize(&llSize));
  EXPECT_EQ(5, llSize);
  std::string cmd = std::string("rm -rf ") + tmpl;
  ASSERT_EQ(0, std::system(cmd.c_str()));
}

TEST(CAppendFile, MissingDirectoryIsPathNotFound) {
  kx::CAppendFile file;
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), file.Open("/nonexistent-kx/dir/f.log"));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), file.Write("x", 1));
}

}  // namespace
