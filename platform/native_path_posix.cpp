#include "platform/native_path.h"

#include <system_error>

#include "platform/text_encoding.h"

namespace kx {

std::filesystem::path ToFileSystemPath(const std::string& strCp932) {
  return std::filesystem::path(Cp932ToUtf8(strCp932));
}

std::string ToNativePath(const std::string& strCp932) { return Cp932ToUtf8(strCp932); }

std::string GetCurrentDirectoryPath() {
  std::error_code ec;
  std::filesystem::path cwd = std::filesystem::current_path(ec);
  if (ec) return ".";
  return Utf8ToCp932(cwd.string());
}

}  // namespace kx
