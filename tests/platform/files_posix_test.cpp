// File modes and planted names on POSIX: log files are created 0640 and never
// written through a link, installed plug-ins are 0644 whatever their source,
// and the tool's lock lives beside the configuration it protects.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/append_file.h"
#include "platform/error_codes.h"
#include "platform/replace_file.h"
#include "platform/single_instance.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& strBytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << strBytes;
}

mode_t ModeOf(const fs::path& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// A fresh folder per test, and a umask of 0 meanwhile so that every mode seen
// is the one the code chose.
class PosixFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char szTemplate[] = "/tmp/kx-files-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szTemplate));
    m_dir = szTemplate;
    m_oldMask = umask(0);
  }
  void TearDown() override {
    umask(m_oldMask);
    fs::remove_all(m_dir);
  }
  fs::path m_dir;
  mode_t m_oldMask = 022;
};

TEST_F(PosixFilesTest, LogFilesAreCreated0640AndNothingPlantedIsWrittenThrough) {
  WriteFile(m_dir / "victim", "untouched");
  WriteFile(m_dir / "existing.log", "earlier\n");
  fs::create_symlink(m_dir / "victim", m_dir / "link.log");
  fs::create_symlink(m_dir / "nowhere", m_dir / "dangling.log");
  fs::create_hard_link(m_dir / "victim", m_dir / "hard.log");
  fs::create_directory(m_dir / "folder.log");
  ASSERT_EQ(0, mkfifo((m_dir / "fifo.log").c_str(), 0666));
  struct {
    const char* lpName;
    DWORD dwExpected;
  } const cases[] = {
      {"new.log", ERROR_SUCCESS},
      {"existing.log", ERROR_SUCCESS},
      {"link.log", ERROR_STOPPED_ON_SYMLINK},
      {"dangling.log", ERROR_STOPPED_ON_SYMLINK},
      {"hard.log", ERROR_ACCESS_DENIED},
      {"folder.log", ERROR_ACCESS_DENIED},
      {"fifo.log", ERROR_ACCESS_DENIED},  // without a reader: must not wait for one
  };
  for (const auto& c : cases) {
    kx::CAppendFile file;
    EXPECT_EQ(c.dwExpected, file.Open((m_dir / c.lpName).c_str())) << c.lpName;
    EXPECT_EQ(c.dwExpected == ERROR_SUCCESS, file.IsOpen() != FALSE) << c.lpName;
    if (file.IsOpen()) {
      EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), file.Write("x\n", 2));
    }
  }
  EXPECT_EQ(0640u, ModeOf(m_dir / "new.log"));
  EXPECT_EQ("x\n", ReadFile(m_dir / "new.log"));
  EXPECT_EQ("earlier\nx\n", ReadFile(m_dir / "existing.log"));
  EXPECT_EQ("untouched", ReadFile(m_dir / "victim"));
  EXPECT_FALSE(fs::exists(m_dir / "nowhere"));
}

TEST_F(PosixFilesTest, InstalledCopyIs0644WhateverTheSourceMode) {
  fs::create_directory(m_dir / "plugins");
  for (mode_t mode : {0666, 0600, 0755, 0444, 04755}) {
    WriteFile(m_dir / "source.so", "ELF " + std::to_string(mode));
    ASSERT_EQ(0, chmod((m_dir / "source.so").c_str(), mode));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              kx::InstallFileCopy((m_dir / "source.so").c_str(), (m_dir / "plugins").c_str(), "p.so"));
    EXPECT_EQ(0644u, ModeOf(m_dir / "plugins" / "p.so")) << std::oct << mode;
    EXPECT_EQ("ELF " + std::to_string(mode), ReadFile(m_dir / "plugins" / "p.so"));
  }
  // A link planted under the name is replaced, not written through.
  WriteFile(m_dir / "victim", "untouched");
  fs::remove(m_dir / "plugins" / "p.so");
  fs::create_symlink(m_dir / "victim", m_dir / "plugins" / "p.so");
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            kx::InstallFileCopy((m_dir / "source.so").c_str(), (m_dir / "plugins").c_str(), "p.so"));
  EXPECT_FALSE(fs::is_symlink(m_dir / "plugins" / "p.so"));
  EXPECT_EQ("untouched", ReadFile(m_dir / "victim"));
}

TEST_F(PosixFilesTest, DamagedCopyIsNotInstalled) {
  fs::create_directory(m_dir / "plugins");
  WriteFile(m_dir / "source.so", std::string(5000, 'a'));
  kx::SetInstallCheckHookForTest([](const char* lpTemporary) {
    std::fstream copy(lpTemporary, std::ios::binary | std::ios::in | std::ios::out);
    copy.seekp(4000);
    copy << 'b';
  });
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_INVALID),
            kx::InstallFileCopy((m_dir / "source.so").c_str(), (m_dir / "plugins").c_str(), "p.so"));
  kx::SetInstallCheckHookForTest(nullptr);
  EXPECT_TRUE(fs::is_empty(m_dir / "plugins"));
}

TEST_F(PosixFilesTest, OneToolPerConfigurationWithTheLockBesideIt) {
  std::string strConfig = (m_dir / "sysconfig.xml").string();
  EXPECT_EQ(strConfig + ".lock", kx::CSingleInstance::GetLockName(strConfig.c_str()));
  kx::CSingleInstance first;
  kx::CSingleInstance second;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), first.Acquire(strConfig.c_str()));
  EXPECT_TRUE(fs::is_regular_file(strConfig + ".lock"));
  EXPECT_EQ(0660u, ModeOf(strConfig + ".lock"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), second.Acquire(strConfig.c_str()));
  EXPECT_FALSE(second.IsHeld());
  first.Release();
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), second.Acquire(strConfig.c_str()));
  second.Release();

  // A holder that dies (killed, no clean-up) leaves the file but not the lock.
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    kx::CSingleInstance held;
    char c = held.Acquire(strConfig.c_str()) == ERROR_SUCCESS ? 'y' : 'n';
    if (write(fds[1], &c, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(1, read(fds[0], &c, 1));
  ASSERT_EQ('y', c);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), first.Acquire(strConfig.c_str()));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), first.Acquire(strConfig.c_str()));
}

TEST_F(PosixFilesTest, LockThatCannotBeMadeBesideTheConfigurationIsRefused) {
  WriteFile(m_dir / "victim", "untouched");
  fs::create_symlink(m_dir / "victim", m_dir / "linked.xml.lock");
  fs::create_directory(m_dir / "folder.xml.lock");
  struct {
    std::string strConfig;
    DWORD dwExpected;
  } const cases[] = {
      {(m_dir / "missing" / "sysconfig.xml").string(), ERROR_PATH_NOT_FOUND},
      {(m_dir / "linked.xml").string(), ERROR_STOPPED_ON_SYMLINK},
      {(m_dir / "folder.xml").string(), ERROR_ACCESS_DENIED},
      {"", ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    kx::CSingleInstance lock;
    EXPECT_EQ(c.dwExpected, lock.Acquire(c.strConfig.c_str())) << c.strConfig;
    EXPECT_FALSE(lock.IsHeld()) << c.strConfig;
  }
  EXPECT_EQ("untouched", ReadFile(m_dir / "victim"));
  EXPECT_FALSE(fs::exists(m_dir / "missing"));
}

}  // namespace
