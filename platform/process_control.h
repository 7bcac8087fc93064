// The process's own life: the stop request that ends a program run from a
// console or by a supervisor (SIGTERM or SIGINT here; Ctrl-C, Ctrl-Break or the
// console closing on Windows), and leaving the process at once.
#pragma once

namespace kx {

// Writing to a pipe or terminal whose reader has gone fails with an error
// instead of ending the process. Call once, early, on the main thread.
void IgnoreBrokenPipes();
// From now on a stop request waits for WaitForStopRequest instead of ending
// the process. Call on the main thread before any other thread starts, so
// that every thread started later leaves the request to it.
void HoldStopRequests();
// Blocks the calling thread until a stop request arrives (after HoldStopRequests).
void WaitForStopRequest();
// Ends the process at once with `nExitCode` once the standard streams are
// flushed; no destructor or exit handler runs, so threads still at work cannot
// find their objects destroyed under them.
[[noreturn]] void ExitProcessNow(int nExitCode);

}  // namespace kx
