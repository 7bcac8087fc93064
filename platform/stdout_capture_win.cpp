#include "platform/windows_win.h"

#include <cstdio>
#include <io.h>

#include "platform/stdout_capture.h"

namespace kx {

// A window program starts without standard output; the C library's stdout
// then writes to descriptor 1 once something is put there.
std::string CaptureStandardOutput(const std::function<void()>& fnWork) {
  char szDir[MAX_PATH + 1] = {};
  char szPath[MAX_PATH + 1] = {};
  std::FILE* pFile = nullptr;
  if (::GetTempPathA(sizeof(szDir), szDir) != 0 && ::GetTempFileNameA(szDir, "kxo", 0, szPath) != 0) {
    pFile = std::fopen(szPath, "w+b");
  }
  if (pFile == nullptr) {
    if (szPath[0] != '\0') ::DeleteFileA(szPath);
    fnWork();
    return std::string();
  }
  std::fflush(stdout);
  int nSaved = ::_dup(1);
  std::string strOutput;
  if (::_dup2(::_fileno(pFile), 1) == 0) {
    fnWork();
    std::fflush(stdout);
    if (nSaved >= 0) {
      ::_dup2(nSaved, 1);
    } else {
      ::_close(1);
    }
    std::rewind(pFile);
    char buffer[4096];
    size_t cbRead = 0;
    while ((cbRead = std::fread(buffer, 1, sizeof(buffer), pFile)) > 0) strOutput.append(buffer, cbRead);
  } else {
    fnWork();
  }
  if (nSaved >= 0) ::_close(nSaved);
  std::fclose(pFile);
  ::DeleteFileA(szPath);
  return strOutput;
}

}  // namespace kx
