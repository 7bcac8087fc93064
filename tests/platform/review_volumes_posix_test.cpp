#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/volumes.h"

namespace {

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
    if (strRoot.find("kx-review-vol") == std::string::npos) continue;
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
TEST(VolumeNameReviewTest, ControlCharactersInMountPointAndSourceDoNotReachTheRows) {
  char szTemplate[] = "/tmp/kx-review-vol-XXXXXX";
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
