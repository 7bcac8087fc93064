#include "platform/backends_posix.h"

#include "emulation/emulation.h"

namespace kx {

// The emulation serves every process today. A second backend (systemd's
// journal, manager and logind) is chosen here, once, without a change above
// the platform layer.
CEventLogBackend& GetEventLogBackend() {
  static CEventLogBackend& backend = emulation::GetEventLogEmulation();
  return backend;
}

CServiceBackend& GetServiceBackend() {
  static CServiceBackend& backend = emulation::GetServiceEmulation();
  return backend;
}

CPowerBackend& GetPowerBackend() {
  static CPowerBackend& backend = emulation::GetPowerEmulation();
  return backend;
}

CRegistrationBackend& GetRegistrationBackend() {
  static CRegistrationBackend& backend = emulation::GetRegistrationEmulation();
  return backend;
}

}  // namespace kx
