#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

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

}  // namespace
