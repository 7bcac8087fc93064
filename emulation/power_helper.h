// Internal to the emulated delayed shutdown: what the caller (power.cpp) and
// the helper program that carries a request out (power_helper.cpp, run as
// KxPowerHelper) share.
//
// The helper is started as
//   KxPowerHelper <power directory> <request id> halt|reboot <deadline>
// where the deadline is in milliseconds of CLOCK_MONOTONIC, which all
// processes of the system share. It detaches into a process of its own, writes
// that process's id as decimal text to its standard output and closes it; the
// rest of the request (message, force, owner) it reads from the pending file.
#pragma once

#include <time.h>

#include <string>

#include "emulation/key_value_store.h"

namespace kx {
namespace emulation {
namespace power {

// The program name the helper is installed under, beside the agent.
extern const char kHelperProgram[];

std::string PendingPath(const std::string& strDirectory);
std::string LastPath(const std::string& strDirectory);
long long NowMs(clockid_t clock);

// The start time of a process, which tells it apart from a later one that
// reuses its id; 0 when it does not exist or has ended.
unsigned long long GetLiveStartTime(unsigned long long ullProcessId);

// Runs the helper program: the arguments as above. Returns its exit code.
int RunHelperProgram(int argc, char** argv);

}  // namespace power
}  // namespace emulation
}  // namespace kx
