// The event-log, service and power backends (backends_posix.h) answered by the
// host's systemd: the journal as the three logs, the service manager over the
// system bus, logind for the delayed shutdown.
//
// Where they look, from the environment:
//   KX_JOURNAL_DIR           a directory of journal files to read instead of
//                            this machine's journal (a copied journal, tests)
//   DBUS_SYSTEM_BUS_ADDRESS  the bus the manager and logind are reached on
//                            (sd-bus reads it; unset: the system bus)
//
// What systemd keeps no equivalent of answers ERROR_NOT_SUPPORTED: clearing a
// log, a maximum record count, installing, deleting and reconfiguring a
// service, and the service side (a unit runs the agent as a plain program).
// Event-source registrations stay with the backend handed in: they are the
// program's own records, not the journal's.
#pragma once

#include <memory>

#include "platform/backends_posix.h"

namespace kx {
namespace native {

std::unique_ptr<CEventLogBackend> CreateJournalEventLogBackend(CEventLogBackend& sourceRegistrations);
std::unique_ptr<CServiceBackend> CreateSystemdServiceBackend();
std::unique_ptr<CPowerBackend> CreateLogindPowerBackend();

}  // namespace native
}  // namespace kx
