#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>

#include "platform/error_codes.h"
#include "platform/volumes.h"

namespace {

std::vector<std::string> DriveRoots() {
  DWORD dwNeeded = kx::GetDriveRootStrings(0, nullptr);
  std::vector<char> buffer(dwNeeded + 1, '\0');
  DWORD dwLength = kx::GetDriveRootStrings(static_cast<DWORD>(buffer.size()), buffer.data());
  EXPECT_EQ(dwNeeded - 1, dwLength);
  std::vector<std::string> roots;
  for (const char* p = buffer.data(); *p != '\0'; p += std::strlen(p) + 1) roots.push_back(p);
  return roots;
}

TEST(VolumesTest, RootFileSystemIsAlwaysADriveWithSizesAndNames) {
  std::vector<std::string> roots = DriveRoots();
  ASSERT_FALSE(roots.empty());
  EXPECT_NE(roots.end(), std::find(roots.begin(), roots.end(), "/"));
  EXPECT_EQ(static_cast<DWORD>(DRIVE_FIXED), kx::GetDriveRootType("/"));
  std::uint64_t qwToCaller = 0, qwTotal = 0, qwFree = 0;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetDriveFreeSpace("/", &qwToCaller, &qwTotal, &qwFree));
  EXPECT_GT(qwTotal, 0u);
  EXPECT_LE(qwFree, qwTotal);
  EXPECT_LE(qwToCaller, qwFree);
  char szName[64];
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetVolumeFileSystemName("/", szName, sizeof(szName)));
  EXPECT_NE('\0', szName[0]);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetVolumeDisplayName("/", szName, sizeof(szName)));
  EXPECT_NE('\0', szName[0]);
}

TEST(VolumesTest, PseudoFileSystemsAreNotDrivesAndEveryListedRootHasAType) {
  for (const std::string& strRoot : DriveRoots()) {
    EXPECT_NE("/proc", strRoot);
    EXPECT_NE("/sys", strRoot);
    EXPECT_NE("/dev/shm", strRoot);
    EXPECT_NE(static_cast<DWORD>(DRIVE_NO_ROOT_DIR), kx::GetDriveRootType(strRoot.c_str())) << strRoot;
  }
  EXPECT_EQ(static_cast<DWORD>(DRIVE_NO_ROOT_DIR), kx::GetDriveRootType("/proc"));
}

TEST(VolumesTest, TooSmallBufferGetsTheNeededSizeAndIsLeftAlone) {
  char szBuffer[2] = {'x', 'y'};
  DWORD dwNeeded = kx::GetDriveRootStrings(sizeof(szBuffer), szBuffer);
  EXPECT_GT(dwNeeded, 2u);  // "/" alone needs "/\0\0"
  EXPECT_EQ('x', szBuffer[0]);
}

TEST(VolumesTest, UnknownRootFailsEveryQueryWithEmptyResults) {
  std::uint64_t qwToCaller = 1, qwTotal = 1, qwFree = 1;
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
            kx::GetDriveFreeSpace("/no/such/root", &qwToCaller, &qwTotal, &qwFree));
  EXPECT_EQ(0u, qwTotal);
  char szName[16] = "junk";
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
            kx::GetVolumeFileSystemName("/no/such/root", szName, 16));
  EXPECT_STREQ("", szName);
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), kx::GetVolumeDisplayName(nullptr, szName, 16));
}

const int kSkip = 77;

// Runs in a child of its own mount namespace: mounts a volume whose mount point
// and source hold a line break, then checks what the drive queries hand out.
// 0 when neither the root nor the display name carries a control character.
int CheckHostileMountInNamespace(const std::string& strDir) {
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 && unshare(CLONE_NEWNS) != 0) return kSkip;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return kSkip;
  if (mount("/dev/kx\r\nfake", strDir.c_str(), "tmpfs", 0, nullptr) != 0) return kSkip;
  std::vector<char> buffer(kx::GetDriveRootStrings(0, nullptr) + 1, '\0');
  kx::GetDriveRootStrings(static_cast<DWORD>(buffer.size()), buffer.data());
  for (const char* p = buffer.data(); *p != '\0'; p += std::strlen(p) + 1) {
    std::string strRoot = p;
    if (strRoot.find("kx-hostile-vol") == std::string::npos) continue;
    if (strRoot.find_first_of("\r\n") != std::string::npos) return 1;
    char szName[260];
    if (kx::GetVolumeDisplayName(p, szName, sizeof(szName)) != ERROR_SUCCESS) return 2;
    if (std::strpbrk(szName, "\r\n") != nullptr) return 3;
    if (kx::GetDriveRootType(p) != DRIVE_FIXED) return 4;
    return 0;
  }
  return 5;
}

// A user who may mount (a FUSE file system, say) chooses the mount point and
// the source; neither may break a row of show diskinfo into several lines.
TEST(VolumeNameTest, ControlCharactersInMountPointAndSourceDoNotReachTheRows) {
  char szTemplate[] = "/tmp/kx-hostile-vol-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(szTemplate));
  std::string strDir = std::string(szTemplate) + "/a\nb";
  ASSERT_EQ(0, mkdir(strDir.c_str(), 0755));
  pid_t pid = fork();
  if (pid == 0) _exit(CheckHostileMountInNamespace(strDir));
  ASSERT_GT(pid, 0);
  int nStatus = 0;
  waitpid(pid, &nStatus, 0);
  rmdir(strDir.c_str());
  rmdir(szTemplate);
  ASSERT_TRUE(WIFEXITED(nStatus));
  if (WEXITSTATUS(nStatus) == kSkip) GTEST_SKIP() << "no mount namespace for this user";
  EXPECT_EQ(0, WEXITSTATUS(nStatus));
}

}  // namespace
