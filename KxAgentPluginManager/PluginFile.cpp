#include "KxAgentPluginManager/PluginFile.h"

#include "platform/replace_file.h"

bool IsPluginFileName(const char* lpFileName) { return kx::IsPlainFileName(lpFileName) != FALSE; }

std::string MakePluginFilePath(const char* lpPluginDir, const char* lpFileName) {
  if (!IsPluginFileName(lpFileName)) return std::string();
  return std::string(lpPluginDir != nullptr ? lpPluginDir : "") + lpFileName;
}
