// The service host: parses the program's switches, installs and removes the
// agent's service and registration, and runs the agent either under the
// service manager (service mode) or in this process (run mode).
#pragma once

// Runs the program: the first of the switches -RegServer, -UnregServer,
// -Service and -install (also after '/', case-insensitive) decides and its
// result is the exit code; without one the agent runs in service mode when it
// is registered as a service, else in run mode until a stop request
// (SIGTERM or SIGINT on POSIX, Ctrl-C or Ctrl-Break on Windows).
int RunServiceHost(int argc, char* argv[]);
