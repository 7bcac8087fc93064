#include "platform/windows_win.h"

#include "platform/program_path.h"

namespace kx {

std::string GetProgramPath() {
  std::string strPath(MAX_PATH, '\0');
  for (;;) {
    DWORD dwLength = ::GetModuleFileNameA(nullptr, &strPath[0], static_cast<DWORD>(strPath.size()));
    if (dwLength == 0) return std::string();
    if (dwLength < strPath.size()) {
      strPath.resize(dwLength);
      return strPath;
    }
    strPath.resize(strPath.size() * 2);
  }
}

std::string GetProgramDirectory() {
  std::string strPath = GetProgramPath();
  std::string::size_type nSlash = strPath.find_last_of("\\/");
  if (nSlash == std::string::npos) return std::string();
  return strPath.substr(0, nSlash + 1);
}

}  // namespace kx
