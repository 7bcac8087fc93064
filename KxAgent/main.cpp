// KxAgent: the agent program. Without a switch it runs the agent in this
// process until SIGTERM or SIGINT, then stops it and exits 0.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "KestrixAgent.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "platform/program_path.h"
#include "platform/serial_port.h"

namespace {

// Registration switches belong to the service host, which this build does not
// carry yet: name the switch instead of silently running the agent.
bool IsServiceSwitch(const char* lpArgument) {
  if (lpArgument[0] != '-' && lpArgument[0] != '/') return false;
  const char* lpWord = lpArgument + 1;
  static const char* const kSwitches[] = {"UnregServer", "RegServer", "Service", "install"};
  for (const char* lpSwitch : kSwitches) {
    if (strcasecmp(lpWord, lpSwitch) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (IsServiceSwitch(argv[i])) {
      std::fprintf(stderr, "KxAgent: the switch %s is not available in this build.\n", argv[i]);
      return 2;
    }
  }

  // The stop signals are taken by sigwait on this thread; every thread the
  // agent starts inherits the mask and so never sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!CKxAgentConfigManager::Initialize()) {
    std::fprintf(stderr, "KxAgent: the XML library could not be initialised.\n");
    return 1;
  }

  CKestrixAgent* pAgent = new CKestrixAgent();
  if (pAgent->Start() == 0) {
    DWORD dwPort = pAgent->GetConfigManager()->GetComPort();
    std::fprintf(stderr, "KxAgent: COM%lu (%s) could not be opened.\n",
                 static_cast<unsigned long>(dwPort),
                 kx::GetComPortPath(kx::GetProgramDirectory(), dwPort).c_str());
    pAgent->Stop();
    CKxAgentConfigManager::Terminate();
    std::fflush(nullptr);
    _exit(1);
  }

  int nSignal = 0;
  sigwait(&stopSignals, &nSignal);
  pAgent->Stop();
  CKxAgentConfigManager::Terminate();
  // The agent and its threads are never torn down: leave without running
  // destructors under the feet of the input and time-out threads.
  std::fflush(nullptr);
  _exit(0);
}
