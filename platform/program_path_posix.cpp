#include <unistd.h>

#include <climits>

#include "platform/program_path.h"

namespace kx {

std::string GetProgramPath() {
  char buffer[PATH_MAX + 1];
  ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

std::string GetProgramDirectory() {
  std::string path = GetProgramPath();
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

}  // namespace kx
