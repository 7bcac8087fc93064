// Installing a copy of a file: the copy replaces the destination only when it is
// complete and equal to its source; every failure leaves the folder as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/error_codes.h"
#include "platform/replace_file.h"

namespace {

namespace fs = std::filesystem;

std::string g_strSourceForHook;

void WriteFile(const fs::path& path, const std::string& strBytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << strBytes;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

class InstallFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("kx-install-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir / "plugins");
    // Larger than one copy buffer, so the copy and its check take several rounds.
    m_strPayload.reserve(200000);
    for (int i = 0; m_strPayload.size() < 200000; ++i) m_strPayload += static_cast<char>(i * 7 % 251);
    WriteFile(Source(), m_strPayload);
    WriteFile(m_dir / "plugins" / "old.dll", "old bytes");
  }
  void TearDown() override {
    kx::SetInstallCheckHookForTest(nullptr);
    fs::remove_all(m_dir);
  }
  fs::path Source() const { return m_dir / "source.dll"; }
  std::string PluginDir() const { return (m_dir / "plugins").string(); }

  fs::path m_dir;
  std::string m_strPayload;
};

TEST_F(InstallFileTest, CopyReplacesTheDestinationWholeAndLeavesNothingElse) {
  WriteFile(m_dir / "plugins" / "kxsysinfo.dll", "an older version");
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            kx::InstallFileCopy(Source().string().c_str(), PluginDir().c_str(), "kxsysinfo.dll"));
  EXPECT_EQ(m_strPayload, ReadFile(m_dir / "plugins" / "kxsysinfo.dll"));
  EXPECT_EQ((std::set<std::string>{"kxsysinfo.dll", "old.dll"}), Listing(m_dir / "plugins"));
  // Installing the copy over itself (the file chosen is the installed one) keeps it.
  std::string strInstalled = (m_dir / "plugins" / "kxsysinfo.dll").string();
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            kx::InstallFileCopy(strInstalled.c_str(), (PluginDir() + "/").c_str(), "kxsysinfo.dll"));
  EXPECT_EQ(m_strPayload, ReadFile(strInstalled));
}

TEST_F(InstallFileTest, FailuresReturnTheReasonAndLeaveTheFolderAsItWas) {
  struct Case {
    const char* lpWhat;
    const char* lpName;
    void (*pfnPrepare)(const fs::path& dir);
    kx::InstallCheckHook pfnHook;
    DWORD dwExpected;
  };
  const Case cases[] = {
      {"climbs out", "../escaped.dll", nullptr, nullptr, ERROR_INVALID_NAME},
      {"names a subfolder", "sub/x.dll", nullptr, nullptr, ERROR_INVALID_NAME},
      {"backslash path", "..\\x.dll", nullptr, nullptr, ERROR_INVALID_NAME},
      {"stream or drive", "x.dll:stream", nullptr, nullptr, ERROR_INVALID_NAME},
      {"dot dot", "..", nullptr, nullptr, ERROR_INVALID_NAME},
      {"empty name", "", nullptr, nullptr, ERROR_INVALID_NAME},
      {"lead byte cut off", "x\x83", nullptr, nullptr, ERROR_INVALID_NAME},
      {"source missing", "x.dll", [](const fs::path& dir) { fs::remove(dir / "source.dll"); }, nullptr,
       ERROR_FILE_NOT_FOUND},
      {"source is a folder", "x.dll",
       [](const fs::path& dir) {
         fs::remove(dir / "source.dll");
         fs::create_directory(dir / "source.dll");
       },
       nullptr, ERROR_ACCESS_DENIED},
      {"source grows while copied", "x.dll", nullptr,
       [](const char*) { std::ofstream(g_strSourceForHook, std::ios::binary | std::ios::app) << "more"; },
       ERROR_FILE_INVALID},
      {"source rewritten while copied", "x.dll", nullptr,
       [](const char*) {
         std::fstream file(g_strSourceForHook, std::ios::binary | std::ios::in | std::ios::out);
         file.seekp(150000);
         file << "changed";
       },
       ERROR_FILE_INVALID},
      {"source vanishes while copied", "x.dll", nullptr, [](const char*) { fs::remove(g_strSourceForHook); },
       ERROR_FILE_NOT_FOUND},
      {"a folder holds the name", "old.dll",
       [](const fs::path& dir) {
         fs::rename(dir / "plugins" / "old.dll", dir / "old.keep");
         fs::create_directories(dir / "plugins" / "old.dll" / "inside");
       },
       nullptr, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SetUp();
    g_strSourceForHook = Source().string();
    if (c.pfnPrepare != nullptr) c.pfnPrepare(m_dir);
    std::set<std::string> before = Listing(m_dir / "plugins");
    kx::SetInstallCheckHookForTest(c.pfnHook);
    EXPECT_EQ(c.dwExpected, kx::InstallFileCopy(Source().string().c_str(), PluginDir().c_str(), c.lpName))
        << c.lpWhat;
    kx::SetInstallCheckHookForTest(nullptr);
    EXPECT_EQ(before, Listing(m_dir / "plugins")) << c.lpWhat;
    if (fs::is_regular_file(m_dir / "plugins" / "old.dll")) {
      EXPECT_EQ("old bytes", ReadFile(m_dir / "plugins" / "old.dll")) << c.lpWhat;
    }
    EXPECT_FALSE(fs::exists(m_dir / "escaped.dll")) << c.lpWhat;
    TearDown();
  }
}

TEST_F(InstallFileTest, MissingFolderIsAnError) {
  fs::remove_all(m_dir / "plugins");
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS),
            kx::InstallFileCopy(Source().string().c_str(), PluginDir().c_str(), "x.dll"));
  EXPECT_FALSE(fs::exists(m_dir / "plugins"));
}

}  // namespace
