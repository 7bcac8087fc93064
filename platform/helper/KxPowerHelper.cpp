// KxPowerHelper: carries out a delayed halt or restart at its deadline for the
// power facility (platform/power.h), which starts it.
#include "platform/power_helper_posix.h"

int main(int argc, char** argv) { return kx::power::RunHelperProgram(argc, argv); }
