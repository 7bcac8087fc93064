#include "platform/windows_win.h"

#include "platform/native_path.h"

namespace kx {

std::filesystem::path ToFileSystemPath(const std::string& strCp932) {
  return std::filesystem::path(AnsiToWide(strCp932));
}

std::string ToNativePath(const std::string& strCp932) { return strCp932; }

std::string GetCurrentDirectoryPath() {
  DWORD dwSize = ::GetCurrentDirectoryA(0, nullptr);
  if (dwSize == 0) return ".";
  std::string strPath(dwSize, '\0');
  DWORD dwLength = ::GetCurrentDirectoryA(dwSize, &strPath[0]);
  if (dwLength == 0 || dwLength >= dwSize) return ".";
  strPath.resize(dwLength);
  return strPath;
}

}  // namespace kx
