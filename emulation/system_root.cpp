#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/error_codes.h"
#include "platform/posix_error.h"
#include "emulation/system_root.h"

namespace kx {

std::string GetSystemRoot() {
  const char* lpRoot = std::getenv("KX_SYSTEM_ROOT");
  std::string root = (lpRoot != nullptr && lpRoot[0] != '\0') ? lpRoot : "/var/lib/kxagent";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

DWORD EnsureDirectory(const std::string& strPath) {
  if (strPath.empty()) return ERROR_PATH_NOT_FOUND;
  // Walk every prefix ending before a separator, then the whole path.
  for (std::string::size_type pos = 1; pos <= strPath.size(); ++pos) {
    if (pos < strPath.size() && strPath[pos] != '/') continue;
    std::string prefix = strPath.substr(0, pos);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return ErrnoToWinError(errno);
  }
  struct stat info;
  if (stat(strPath.c_str(), &info) != 0) return ErrnoToWinError(errno);
  return S_ISDIR(info.st_mode) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
}

DWORD EnsureSystemRoot() { return EnsureDirectory(GetSystemRoot()); }

}  // namespace kx
