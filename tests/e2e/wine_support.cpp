#include "wine_support.h"

#include <unistd.h>

#include <cstdlib>

#include "e2e_support.h"

namespace kx {
namespace e2e {

std::string Environment(const char* lpName) {
  const char* lpValue = std::getenv(lpName);
  return lpValue != nullptr ? lpValue : "";
}

bool HasWindowsBuild() {
  return !Environment("KX_WINDOWS_BIN_DIR").empty() && !Environment("KX_WINE_PREFIX").empty();
}

CAgentOptions MakeWineOptions() {
  CAgentOptions options = MakeTestOptions();
  options.m_strProgram = Environment("KX_WINDOWS_BIN_DIR") + "/KxAgent.exe";
  options.m_vecLibraries = {"lib"};  // the product's, the XML library's and the compiler's DLLs
  options.m_strWinePrefix = Environment("KX_WINE_PREFIX");
  return options;
}

std::string RunWine(const std::string& strCommand, int* pnStatus) {
  return RunShellCommand("env WINEPREFIX='" + Environment("KX_WINE_PREFIX") +
                             "' WINEDEBUG=-all /usr/lib/wine/wine64 " + strCommand + " 2>/dev/null",
                         pnStatus);
}

std::string Sc(const std::string& strArguments, int* pnStatus) {
  return RunWine("'" + Environment("KX_WINDOWS_BIN_DIR") + "/sc.exe' " + strArguments, pnStatus);
}

std::string WaitForServiceState(const std::string& strWanted) {
  std::string strOutput;
  for (int i = 0; i < 60; ++i) {
    strOutput = Sc("query KxAgent");
    if (strOutput.find(strWanted) != std::string::npos) return strWanted;
    if (strOutput.find("1060") != std::string::npos) break;  // not installed (any more)
    usleep(250 * 1000);
  }
  return strOutput;
}

void WineServer(const char* lpSwitch) { RunWineServer(Environment("KX_WINE_PREFIX"), lpSwitch); }

}  // namespace e2e
}  // namespace kx
