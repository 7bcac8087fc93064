#include "platform/stdout_capture.h"

#include <cstdio>
#include <unistd.h>

namespace kx {

std::string CaptureStandardOutput(const std::function<void()>& fnWork) {
  std::fflush(stdout);
  std::FILE* pFile = std::tmpfile();
  if (pFile == nullptr) {
    fnWork();
    return std::string();
  }
  int nSaved = ::dup(STDOUT_FILENO);  // -1 when standard output was closed
  if (::dup2(::fileno(pFile), STDOUT_FILENO) < 0) {
    if (nSaved >= 0) ::close(nSaved);
    std::fclose(pFile);
    fnWork();
    return std::string();
  }
  fnWork();
  std::fflush(stdout);
  if (nSaved >= 0) {
    ::dup2(nSaved, STDOUT_FILENO);
    ::close(nSaved);
  } else {
    ::close(STDOUT_FILENO);
  }
  std::string strOutput;
  std::rewind(pFile);
  char buffer[4096];
  size_t cbRead = 0;
  while ((cbRead = std::fread(buffer, 1, sizeof(buffer), pFile)) > 0) strOutput.append(buffer, cbRead);
  std::fclose(pFile);
  return strOutput;
}

}  // namespace kx
