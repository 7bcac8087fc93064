// Shared fixtures of the configuration library's tests: a temporary base
// directory, whole-file helpers and a manager whose file loaders are reachable.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "KxAgentConfigManager/KxAgentConfigManager.h"

// Exposes the protected loaders.
class CTestableConfigManager : public CKxAgentConfigManager {
 public:
  using CKxAgentConfigManager::CKxAgentConfigManager;
  using CKxAgentConfigManager::LoadCommandConfig;
  using CKxAgentConfigManager::LoadSystemConfig;
};

// A fresh base directory ("<tmp>/", with "config/" inside) per test, removed
// afterwards.
class ConfigDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::string& BaseDir() const { return m_strBaseDir; }
  std::string ConfigDir() const { return m_strBaseDir + "config/"; }
  std::string SysConfigPath() const { return ConfigDir() + "sysconfig.xml"; }
  std::string CommandConfigPath() const { return ConfigDir() + "command.xml"; }

  // Writes a sysconfig.xml whose root element holds lpBody.
  void WriteSysConfig(const std::string& strBody);

 private:
  std::string m_strBaseDir;
};

void WriteWholeFile(const std::string& strPath, const std::string& strBytes);
std::string ReadWholeFile(const std::string& strPath);
bool FileExists(const std::string& strPath);
