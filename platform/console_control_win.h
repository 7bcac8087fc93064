// Internal to the Windows side: the process's console control handlers, which
// the run mode's stop request and the pass-through's interrupt both install.
#pragma once

namespace kx {

// Installs the run mode's stop-request handler again (once HoldStopRequests
// has run) after the process changed consoles, so that Ctrl-C or closing the
// new console's window still stops the agent. Handlers run last-installed
// first: a handler that must see control events before it is installed after.
void ReinstallStopRequestHandler();

}  // namespace kx
