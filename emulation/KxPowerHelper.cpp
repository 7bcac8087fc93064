// KxPowerHelper: carries out a delayed halt or restart at its deadline for the
// power facility (platform/power.h), which starts it.
#include "emulation/power_helper.h"

int main(int argc, char** argv) { return kx::emulation::power::RunHelperProgram(argc, argv); }
