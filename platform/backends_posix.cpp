#include "platform/backends_posix.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "emulation/emulation.h"
#include "platform/native/native_backends.h"

namespace kx {

const char kSystemdProbePath[] = "/run/systemd/system";

BACKEND_KIND ChooseBackendKind(const char* lpSwitch, const char* lpSystemdProbePath, std::string* pstrComplaint) {
  if (pstrComplaint != nullptr) pstrComplaint->clear();
  if (lpSwitch != nullptr && *lpSwitch != '\0') {
    if (strcasecmp(lpSwitch, "native") == 0) return kBackendNative;
    if (strcasecmp(lpSwitch, "emulated") == 0) return kBackendEmulated;
  }
  struct stat info;
  BACKEND_KIND kind = (lpSystemdProbePath != nullptr && stat(lpSystemdProbePath, &info) == 0 && S_ISDIR(info.st_mode))
                          ? kBackendNative
                          : kBackendEmulated;
  if (lpSwitch != nullptr && *lpSwitch != '\0' && pstrComplaint != nullptr) {
    *pstrComplaint = std::string("KX_BACKEND=") + lpSwitch + " is neither native nor emulated; using " +
                     (kind == kBackendNative ? "native" : "emulated");
  }
  return kind;
}

BACKEND_KIND GetBackendKind() {
  static const BACKEND_KIND kind = [] {
    std::string strComplaint;
    BACKEND_KIND chosen = ChooseBackendKind(std::getenv("KX_BACKEND"), kSystemdProbePath, &strComplaint);
    if (!strComplaint.empty()) std::fprintf(stderr, "%s\n", strComplaint.c_str());
    return chosen;
  }();
  return kind;
}

// The native backends are made once and never destroyed: threads may still
// call them while the process exits.
CEventLogBackend& GetEventLogBackend() {
  static CEventLogBackend& backend =
      GetBackendKind() == kBackendNative
          ? *native::CreateJournalEventLogBackend(emulation::GetEventLogEmulation()).release()
          : emulation::GetEventLogEmulation();
  return backend;
}

CServiceBackend& GetServiceBackend() {
  static CServiceBackend& backend = GetBackendKind() == kBackendNative
                                        ? *native::CreateSystemdServiceBackend().release()
                                        : emulation::GetServiceEmulation();
  return backend;
}

CPowerBackend& GetPowerBackend() {
  static CPowerBackend& backend = GetBackendKind() == kBackendNative ? *native::CreateLogindPowerBackend().release()
                                                                     : emulation::GetPowerEmulation();
  return backend;
}

CRegistrationBackend& GetRegistrationBackend() {
  static CRegistrationBackend& backend = emulation::GetRegistrationEmulation();
  return backend;
}

}  // namespace kx
