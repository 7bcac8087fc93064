// What the Wine end-to-end tests share: the Windows build and the prefix that
// scripts/test-windows.sh names, running its programs, and the service
// manager's view through the build's sc.exe.
#pragma once

#include <string>

#include "agent_harness.h"

namespace kx {
namespace e2e {

// The value of an environment variable, empty when unset.
std::string Environment(const char* lpName);
// Whether KX_WINDOWS_BIN_DIR and KX_WINE_PREFIX name a Windows build and a prefix.
bool HasWindowsBuild();
// The test accounts, for the Windows agent of the build run by Wine in the prefix.
CAgentOptions MakeWineOptions();
// Runs a command line with Wine's loader in the prefix and returns what it
// printed; *pnStatus gets its exit status.
std::string RunWine(const std::string& strCommand, int* pnStatus = nullptr);
// Runs the build's sc.exe with the arguments.
std::string Sc(const std::string& strArguments, int* pnStatus = nullptr);
// Polls the KxAgent service until its query shows strWanted (a state word or an
// exit code); returns it, or the last output (after at most 15 s, or at once
// when the service is not installed).
std::string WaitForServiceState(const std::string& strWanted);
// Runs the prefix's wineserver with one switch (-k, -w, -p).
void WineServer(const char* lpSwitch);

}  // namespace e2e
}  // namespace kx
