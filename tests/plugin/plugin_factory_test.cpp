// The plug-in kinds and the factory that makes a plug-in of each: which file
// is which kind, what each load gives, and which kinds a factory without
// script hosts refuses.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "KxAgentPluginManager/PluginFactory.h"

namespace {

std::string TestPlugin(const char* lpName) { return std::string(KX_TEST_PLUGIN_DIR) + "/" + lpName + ".so"; }

bool IsMapped(const std::string& strPath) {
  void* pHandle = dlopen(strPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (pHandle == nullptr) return false;
  dlclose(pHandle);
  return true;
}

TEST(PluginKindTest, FileNamesAreKnownByTheirExtensionInAnyCase) {
  struct {
    const char* lpName;
    const CKxPluginKindRow* pExpected;
  } const kCases[] = {
      {"sysinfo.dll", &KxPluginKindRow(EKxPluginKind::kDLL)},
      {"sysinfo.So", &KxPluginKindRow(EKxPluginKind::kDLL)},
      {"echo.JS", &KxPluginKindRow(EKxPluginKind::kJScript)},
      {"echo.vbs", &KxPluginKindRow(EKxPluginKind::kVBScript)},
      {"archive.tar.js", &KxPluginKindRow(EKxPluginKind::kJScript)},
      {"echo.jsx", nullptr},
      {"echo.", nullptr},
      {"js", nullptr},
      {"", nullptr},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.pExpected, KxFindPluginKindByFileName(c.lpName)) << c.lpName;
}

class PluginFactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char szDir[] = "/tmp/kx-factory-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szDir));
    m_strDir = szDir;
    std::ofstream(m_strDir + "/echo.js")
        << "function GetCommandLineDef() { return 'echo {TEXT}'; }\nfunction Run(a) { return a; }\n";
    std::ofstream(m_strDir + "/broken.js") << "function GetCommandLineDef( {";
  }
  void TearDown() override {
    unlink((m_strDir + "/echo.js").c_str());
    unlink((m_strDir + "/broken.js").c_str());
    rmdir(m_strDir.c_str());
  }
  std::string m_strDir;
};

// Every load of every kind: whether it succeeds, the plug-in's own type code
// (which must be the table's for that kind) and its command count.
TEST_F(PluginFactoryTest, LoadsEachKindAsTheTableDescribesIt) {
  struct {
    EKxPluginKind eKind;
    std::string strPath;
    bool bHosts;
    bool bLoaded;
    int nCommands;
  } const kCases[] = {
      {EKxPluginKind::kBuiltIn, "", false, true, 17},
      {EKxPluginKind::kDLL, TestPlugin("kxtest_probe"), false, true, 3},
      {EKxPluginKind::kDLL, TestPlugin("kxtest_twelve"), false, true, 10},
      {EKxPluginKind::kDLL, TestPlugin("kxtest_no_exports"), false, false, 0},
      {EKxPluginKind::kDLL, m_strDir + "/echo.js", false, false, 0},
      {EKxPluginKind::kJScript, m_strDir + "/echo.js", true, true, 1},
      {EKxPluginKind::kJScript, m_strDir + "/echo.js", false, false, 0},
      {EKxPluginKind::kJScript, m_strDir + "/broken.js", true, false, 0},
      {EKxPluginKind::kJScript, m_strDir + "/missing.js", true, false, 0},
      {EKxPluginKind::kJScript, TestPlugin("kxtest_probe"), true, false, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.strPath + (c.bHosts ? " with hosts" : " without hosts"));
    CKxPluginFactory factory;
    if (c.bHosts) factory.CreateScriptHosts();
    EXPECT_EQ(c.bHosts || KxPluginKindRow(c.eKind).lpLanguage == nullptr, factory.CanLoad(c.eKind));
    std::string strReason;
    std::unique_ptr<CKxLoadedPlugin> pLoaded = factory.Load(c.eKind, c.strPath, &strReason);
    ASSERT_EQ(c.bLoaded, pLoaded != nullptr);
    if (!pLoaded) {
      EXPECT_NE("", strReason);
      continue;
    }
    EXPECT_EQ("", strReason);
    EXPECT_EQ(KxPluginKindRow(c.eKind).nPluginType, pLoaded->GetPlugin().GetPluginType());
    EXPECT_EQ(c.nCommands, pLoaded->GetCommandCount());
    EXPECT_NE(nullptr, pLoaded->GetPlugin().GetCommandLineDefinition(c.nCommands - 1));
    EXPECT_EQ(nullptr, pLoaded->GetPlugin().GetCommandLineDefinition(c.nCommands));
  }
}

// The agent keeps a DLL mapped for as long as it runs; the tool reads one and
// lets it go.
TEST_F(PluginFactoryTest, ADLLStaysMappedUntilItIsUnloaded) {
  std::string strPath = TestPlugin("kxtest_probe");
  CKxPluginFactory factory;
  std::unique_ptr<CKxLoadedPlugin> pLoaded = factory.Load(EKxPluginKind::kDLL, strPath);
  ASSERT_NE(nullptr, pLoaded);
  EXPECT_TRUE(IsMapped(strPath));
  pLoaded->Unload();
  EXPECT_FALSE(IsMapped(strPath));
  EXPECT_FALSE(factory.CanLoad(EKxPluginKind::kVBScript));
  factory.CreateScriptHosts();
  EXPECT_TRUE(factory.CanLoad(EKxPluginKind::kVBScript));
  factory.DestroyScriptHosts();
  EXPECT_FALSE(factory.CanLoad(EKxPluginKind::kJScript));
}

}  // namespace
