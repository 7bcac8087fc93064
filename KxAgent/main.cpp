// KxAgent: the agent program. See RunServiceHost for its switches and modes.
#include "ServiceHost.h"

int main(int argc, char* argv[]) { return RunServiceHost(argc, argv); }
