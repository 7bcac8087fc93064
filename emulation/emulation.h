// The emulation of what Linux lacks in Windows' shape, kept in the system
// state directory (system_root.h): the event logs and their sources, the
// service manager, the delayed shutdown and registrations. Used only by the
// POSIX side of the platform, which reaches it through its backend interfaces.
#pragma once

#include "platform/backends_posix.h"

namespace kx {
namespace emulation {

CEventLogBackend& GetEventLogEmulation();
CServiceBackend& GetServiceEmulation();
CPowerBackend& GetPowerEmulation();
CRegistrationBackend& GetRegistrationEmulation();

}  // namespace emulation
}  // namespace kx
