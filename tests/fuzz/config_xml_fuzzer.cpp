// libFuzzer harness over the configuration files: arbitrary bytes become
// sysconfig.xml (built with KX_FUZZ_SYSCONFIG) or command.xml and are loaded.
// A loaded system configuration must save again and reload. Any crash, leak,
// undefined behaviour or failed save is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "KxAgentConfigManager/KxAgentConfigManager.h"

namespace {

class CFuzzConfigManager : public CKxAgentConfigManager {
 public:
  using CKxAgentConfigManager::CKxAgentConfigManager;
  using CKxAgentConfigManager::LoadCommandConfig;
  using CKxAgentConfigManager::LoadSystemConfig;
};

std::string g_strBaseDir;

void WriteFile(const std::string& strPath, const uint8_t* pData, size_t cbSize) {
  FILE* pFile = std::fopen(strPath.c_str(), "wb");
  if (pFile == nullptr) std::abort();
  if (cbSize != 0 && std::fwrite(pData, 1, cbSize, pFile) != cbSize) std::abort();
  std::fclose(pFile);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A memory file system, where the save's flushes to the disk cost nothing.
  char szTemplate[] = "/dev/shm/kx-config-fuzz-XXXXXX";
  if (mkdtemp(szTemplate) == nullptr) std::abort();
  g_strBaseDir = std::string(szTemplate) + "/";
  std::system(("mkdir -p " + g_strBaseDir + "config").c_str());
  // The loaders print their complaints; the fuzzer's own output is on stderr.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  if (!CKxAgentConfigManager::Initialize()) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbSize) {
#ifdef KX_FUZZ_SYSCONFIG
  WriteFile(g_strBaseDir + "config/sysconfig.xml", pData, cbSize);
  CFuzzConfigManager manager(g_strBaseDir.c_str());
  manager.LoadSystemConfig();
  if (!manager.SaveSystemConfig()) std::abort();
  CFuzzConfigManager reloaded(g_strBaseDir.c_str());
  reloaded.LoadSystemConfig();
#else
  WriteFile(g_strBaseDir + "config/command.xml", pData, cbSize);
  CFuzzConfigManager manager(g_strBaseDir.c_str());
  manager.LoadCommandConfig();
#endif
  return 0;
}
