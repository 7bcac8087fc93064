#include "ConfigTestSupport.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// The XML library is started once for the whole test program, as every
// program using the library does.
class XmlLibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(TRUE, CKxAgentConfigManager::Initialize()); }
  void TearDown() override { CKxAgentConfigManager::Terminate(); }
};

::testing::Environment* const g_pXmlEnvironment =
    ::testing::AddGlobalTestEnvironment(new XmlLibraryEnvironment);

}  // namespace

void ConfigDirTest::SetUp() {
  std::string strTemplate = (std::filesystem::temp_directory_path() / "kxconfig.XXXXXX").string();
  ASSERT_NE(nullptr, mkdtemp(strTemplate.data()));
  m_strBaseDir = strTemplate + "/";
  std::filesystem::create_directory(ConfigDir());
}

void ConfigDirTest::TearDown() {
  std::error_code ec;
  if (!m_strBaseDir.empty()) std::filesystem::remove_all(m_strBaseDir, ec);
}

void ConfigDirTest::WriteSysConfig(const std::string& strBody) {
  WriteWholeFile(SysConfigPath(), "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<system-config>" +
                                      strBody + "</system-config>\r\n");
}

void WriteWholeFile(const std::string& strPath, const std::string& strBytes) {
  std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
  out << strBytes;
  ASSERT_TRUE(out.good()) << strPath;
}

std::string ReadWholeFile(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& strPath) { return std::filesystem::exists(strPath); }
