// The delayed shutdown, emulated in the system state directory. The request
// lives in <root>/power/pending under the store lock of <root>/power; the
// helper program KxPowerHelper, installed beside the agent, sleeps until the
// deadline, re-reads the request (cancelled or replaced ones are dropped) and
// carries it out (power_helper.cpp).
#include "platform/power.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulation/emulation.h"
#include "emulation/key_value_store.h"
#include "emulation/power_helper.h"
#include "emulation/system_root.h"
#include "platform/error_codes.h"
#include "platform/posix_error.h"
#include "platform/program_path.h"
#include "platform/spawn_posix.h"
#include "platform/text_encoding.h"

namespace kx {
namespace emulation {
namespace {

using power::GetLiveStartTime;
using power::NowMs;
using power::PendingPath;

std::string PowerDirectory() { return GetSystemRoot() + "/power"; }

// KX_POWER_HELPER names the helper program where it is not installed beside
// the running program (tests run from a directory of their own).
std::string HelperPath() {
  const char* lpOverride = std::getenv("KX_POWER_HELPER");
  if (lpOverride != nullptr && lpOverride[0] != '\0') return lpOverride;
  return GetProgramDirectory() + power::kHelperProgram;
}

// A request is live while the helper recorded in it still runs; a request left
// behind by a helper that died (or by a boot that ended) blocks nothing.
bool IsLive(const CKeyValues& state) {
  if (GetKeyText(state, "id").empty()) return false;
  unsigned long long ullStart = GetKeyNumber(state, "helper-start");
  return ullStart != 0 && GetLiveStartTime(GetKeyNumber(state, "helper-pid")) == ullStart;
}

// Starts the helper for the request and returns the id of the process that
// carries it out, or 0 and the Windows error in *pdwError.
pid_t SpawnHelper(const std::string& strDirectory, const std::string& strId, BOOL bReboot, long long llDeadlineMono,
                  DWORD* pdwError) {
  std::string strProgram = HelperPath();
  std::vector<std::string> args = {strProgram, strDirectory, strId, bReboot ? "reboot" : "halt",
                                   std::to_string(llDeadlineMono)};
  std::vector<char*> argv;
  for (std::string& strArg : args) argv.push_back(&strArg[0]);
  argv.push_back(nullptr);

  int idPipe[2];
  if (pipe2(idPipe, O_CLOEXEC) != 0) {
    *pdwError = ErrnoToWinError(errno);
    return 0;
  }
  // No terminal, no inherited descriptors (a serial line or pipe held open
  // there would never see its end), a session of its own; it prints the id of
  // the process that waits.
  CSpawnOptions options;
  options.lpProgram = argv[0];
  options.argv = argv.data();
  options.fdOutput = idPipe[1];
  options.bNewSession = true;
  pid_t starter = 0;
  DWORD dwError = SpawnProcess(options, &starter);
  close(idPipe[1]);
  if (dwError != ERROR_SUCCESS) {
    close(idPipe[0]);
    *pdwError = dwError;
    return 0;
  }
  std::string strOutput;
  char buffer[64];
  for (;;) {
    ssize_t n = read(idPipe[0], buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || strOutput.size() > 64) break;
    strOutput.append(buffer, static_cast<std::size_t>(n));
  }
  close(idPipe[0]);
  int nStatus = 0;
  while (waitpid(starter, &nStatus, 0) < 0 && errno == EINTR) {
  }
  long lHelper = std::strtol(strOutput.c_str(), nullptr, 10);
  if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0 || lHelper <= 0) {
    *pdwError = ERROR_GEN_FAILURE;
    return 0;
  }
  return static_cast<pid_t>(lHelper);
}

// Ends a helper that no longer has a request, when it is still the process
// that was recorded (not a later one with the same id).
void StopHelper(const CKeyValues& state) {
  unsigned long long ullProcessId = GetKeyNumber(state, "helper-pid");
  unsigned long long ullStart = GetKeyNumber(state, "helper-start");
  if (ullProcessId > 1 && ullStart != 0 && GetLiveStartTime(ullProcessId) == ullStart) {
    kill(static_cast<pid_t>(ullProcessId), SIGTERM);
  }
}

class CPowerEmulation : public CPowerBackend {
 public:
  DWORD Request(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed, BOOL bRebootAfterShutdown) override;
  DWORD Cancel() override;
  DWORD QueryPending(SHUTDOWN_REQUEST* pRequest) override;
};

}  // namespace

DWORD CPowerEmulation::Request(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed,
                               BOOL bRebootAfterShutdown) {
  std::string strMessage = lpMessage ? lpMessage : "";
  std::string strDirectory = PowerDirectory();
  DWORD dwError = EnsureDirectory(strDirectory);
  if (dwError != ERROR_SUCCESS) return dwError;
  CStoreLock lock(strDirectory);
  if (!lock.IsHeld()) return ErrnoToWinError(lock.GetErrno());

  std::string strPending = PendingPath(strDirectory);
  CKeyValues previous;
  if (ReadKeyValueFile(strPending, &previous) == ERROR_SUCCESS) {
    if (IsLive(previous)) return ERROR_SHUTDOWN_IN_PROGRESS;
    unlink(strPending.c_str());
  }

  long long llNowMono = NowMs(CLOCK_MONOTONIC);
  long long llRequestedWall = NowMs(CLOCK_REALTIME);
  long long llDeadlineMono = llNowMono + static_cast<long long>(dwTimeout) * 1000;
  struct timespec stamp;
  clock_gettime(CLOCK_MONOTONIC, &stamp);
  std::string strId = std::to_string(getpid()) + "-" + std::to_string(static_cast<long long>(stamp.tv_sec)) + "." +
                      std::to_string(stamp.tv_nsec);

  // The helper blocks on the lock held here until the request file exists.
  pid_t helper = SpawnHelper(strDirectory, strId, bRebootAfterShutdown, llDeadlineMono, &dwError);
  if (helper == 0) return dwError;
  unsigned long long ullStart = GetLiveStartTime(static_cast<unsigned long long>(helper));

  CKeyValues state;
  state["id"] = strId;
  state["action"] = bRebootAfterShutdown ? "reboot" : "halt";
  state["force"] = bForceAppsClosed ? "1" : "0";
  state["timeout"] = std::to_string(dwTimeout);
  state["message"] = Cp932ToUtf8(strMessage);
  state["requested"] = std::to_string(llRequestedWall);
  state["deadline"] = std::to_string(llRequestedWall + static_cast<long long>(dwTimeout) * 1000);
  state["owner-pid"] = std::to_string(getpid());
  state["helper-pid"] = std::to_string(helper);
  state["helper-start"] = std::to_string(ullStart);
  state["state"] = "waiting";
  dwError = ullStart == 0 ? ERROR_GEN_FAILURE : WriteKeyValueFile(strPending, state);
  if (dwError != ERROR_SUCCESS) {
    kill(helper, SIGKILL);
    return dwError;
  }
  return ERROR_SUCCESS;
}

DWORD CPowerEmulation::Cancel() {
  std::string strDirectory = PowerDirectory();
  struct stat info;
  if (stat(strDirectory.c_str(), &info) != 0) return ERROR_NO_SHUTDOWN_IN_PROGRESS;
  CStoreLock lock(strDirectory);
  if (!lock.IsHeld()) return ErrnoToWinError(lock.GetErrno());
  std::string strPending = PendingPath(strDirectory);
  CKeyValues state;
  if (ReadKeyValueFile(strPending, &state) != ERROR_SUCCESS) return ERROR_NO_SHUTDOWN_IN_PROGRESS;
  if (!IsLive(state)) {
    unlink(strPending.c_str());
    return ERROR_NO_SHUTDOWN_IN_PROGRESS;
  }
  if (GetKeyText(state, "state") == "acting") return ERROR_SHUTDOWN_IN_PROGRESS;
  if (unlink(strPending.c_str()) != 0) return ErrnoToWinError(errno);
  StopHelper(state);
  return ERROR_SUCCESS;
}

DWORD CPowerEmulation::QueryPending(SHUTDOWN_REQUEST* pRequest) {
  CKeyValues state;
  // A plain read: the file is replaced whole, so no lock is needed to see it consistent.
  if (ReadKeyValueFile(PendingPath(PowerDirectory()), &state) != ERROR_SUCCESS || !IsLive(state)) {
    return ERROR_NO_SHUTDOWN_IN_PROGRESS;
  }
  pRequest->bRebootAfterShutdown = GetKeyText(state, "action") == "reboot" ? TRUE : FALSE;
  pRequest->bForceAppsClosed = GetKeyText(state, "force") == "1" ? TRUE : FALSE;
  pRequest->bActing = GetKeyText(state, "state") == "acting" ? TRUE : FALSE;
  pRequest->dwTimeout = static_cast<DWORD>(GetKeyNumber(state, "timeout"));
  pRequest->llDeadline = static_cast<long long>(GetKeyNumber(state, "deadline"));
  pRequest->dwOwnerProcessId = static_cast<DWORD>(GetKeyNumber(state, "owner-pid"));
  pRequest->dwHelperProcessId = static_cast<DWORD>(GetKeyNumber(state, "helper-pid"));
  pRequest->strMessage = Utf8ToCp932(GetKeyText(state, "message"));
  return ERROR_SUCCESS;
}

CPowerBackend& GetPowerEmulation() {
  static CPowerEmulation emulation;
  return emulation;
}

}  // namespace emulation
}  // namespace kx
