// The helper program of the delayed shutdown (see power_helper.h). It
// waits for the deadline while the request stays its own, marks it as being
// carried out, runs the configured command and records the outcome in the
// event log and in the last file. It is a program of its own, started fresh,
// so it may use every part of the platform layer.
#include "emulation/power_helper.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "platform/event_log.h"
#include "platform/posix_error.h"
#include "platform/spawn_posix.h"
#include "platform/processes.h"
#include "platform/text_encoding.h"

extern char** environ;

namespace kx {
namespace emulation {
namespace power {

const char kHelperProgram[] = "KxPowerHelper";

std::string PendingPath(const std::string& strDirectory) { return strDirectory + "/pending"; }
std::string LastPath(const std::string& strDirectory) { return strDirectory + "/last"; }

long long NowMs(clockid_t clock) {
  struct timespec now;
  clock_gettime(clock, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

unsigned long long GetLiveStartTime(unsigned long long ullProcessId) {
  std::uint64_t qwStart = 0;
  if (ullProcessId == 0 || ullProcessId > 0x7FFFFFFFull ||
      GetProcessStartTime(static_cast<DWORD>(ullProcessId), &qwStart) != ERROR_SUCCESS) {
    return 0;
  }
  return qwStart;
}

namespace {

const char* const kEventSource = "KxPower";
const DWORD kEventIdHalt = 1;
const DWORD kEventIdRestart = 2;
// A configured command that has not finished by then is killed, so that a hung
// command cannot keep the request "in progress" for ever.
const long long kCommandLimitMs = 300 * 1000;
// The helper re-reads the request at least this often, so a cancelled request's
// helper goes away soon even when nobody signals it.
const long long kPollMs = 1000;
// Bounds the event-log write at the end.
const unsigned int kRecordLimitSeconds = 60;

void SleepMs(long long llMilliseconds) {
  struct timespec span;
  span.tv_sec = static_cast<time_t>(llMilliseconds / 1000);
  span.tv_nsec = static_cast<long>((llMilliseconds % 1000) * 1000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &span, &span) == EINTR) {
  }
}

// Splits a configured command into words: blanks separate, quotes group.
std::vector<std::string> SplitWords(const std::string& strLine) {
  std::vector<std::string> words;
  std::string strWord;
  bool bInWord = false;
  char cQuote = 0;
  for (char c : strLine) {
    if (cQuote != 0) {
      if (c == cQuote) cQuote = 0; else strWord += c;
    } else if (c == ' ' || c == '\t') {
      if (bInWord) words.push_back(strWord);
      strWord.clear();
      bInWord = false;
    } else if (c == '"' || c == '\'') {
      cQuote = c;
      bInWord = true;
    } else {
      strWord += c;
      bInWord = true;
    }
  }
  if (bInWord) words.push_back(strWord);
  return words;
}

// The request as the helper carries it out.
struct CRequest {
  std::string strDirectory;
  std::string strId;
  std::string strMessage;      // code page 932
  std::string strMessageUtf8;
  BOOL bReboot;
  BOOL bForce;
  DWORD dwOwner;
  long long llDeadlineMono;
  long long llDeadlineWall;
};

// What carrying out the request came to.
struct COutcome {
  std::string strCommand;  // the configured command line; empty when none
  bool bRan = false;
  bool bSucceeded = true;
  std::string strResult;   // for the last file: "not-configured", "exit-code=N", ...
  std::string strDetail;   // for the event record (English)
};

// Runs the configured command and waits for it (at most kCommandLimitMs).
void RunCommand(const CRequest& request, COutcome* pOutcome) {
  std::vector<std::string> words = SplitWords(pOutcome->strCommand);
  if (words.empty() || words[0][0] != '/') {
    pOutcome->bSucceeded = false;
    pOutcome->strResult = "error=not an absolute path";
    pOutcome->strDetail = "could not run \"" + pOutcome->strCommand + "\": the program must be an absolute path";
    return;
  }
  std::vector<std::string> environment;
  for (char** p = environ; p && *p; ++p) {
    if (std::strncmp(*p, "KX_SHUTDOWN_", 12) != 0) environment.push_back(*p);
  }
  environment.push_back(std::string("KX_SHUTDOWN_ACTION=") + (request.bReboot ? "reboot" : "halt"));
  environment.push_back(std::string("KX_SHUTDOWN_FORCE=") + (request.bForce ? "1" : "0"));
  environment.push_back("KX_SHUTDOWN_MESSAGE=" + request.strMessageUtf8);
  std::vector<char*> argv;
  for (std::string& strWord : words) argv.push_back(&strWord[0]);
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& strEntry : environment) envp.push_back(&strEntry[0]);
  envp.push_back(nullptr);

  int fdOutput = open((request.strDirectory + "/command.log").c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  CSpawnOptions options;
  options.lpProgram = argv[0];
  options.argv = argv.data();
  options.envp = envp.data();
  options.fdOutput = fdOutput;
  options.fdError = fdOutput;
  pid_t child = 0;
  DWORD dwError = SpawnProcess(options, &child);
  if (fdOutput >= 0) close(fdOutput);
  if (dwError != ERROR_SUCCESS) {
    std::string strText = FormatSystemMessage(dwError);
    pOutcome->bSucceeded = false;
    pOutcome->strResult = "error=" + std::to_string(dwError);
    pOutcome->strDetail = "could not run \"" + pOutcome->strCommand + "\": " +
                          (strText.empty() ? "error " + std::to_string(dwError) : strText);
    return;
  }

  pOutcome->bRan = true;
  int nStatus = 0;
  long long llStart = NowMs(CLOCK_MONOTONIC);
  for (;;) {
    pid_t done = waitpid(child, &nStatus, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR)) break;
    if (NowMs(CLOCK_MONOTONIC) - llStart > kCommandLimitMs) {
      kill(child, SIGKILL);
      waitpid(child, &nStatus, 0);
      break;
    }
    SleepMs(100);
  }
  if (WIFEXITED(nStatus)) {
    int nCode = WEXITSTATUS(nStatus);
    pOutcome->bSucceeded = nCode == 0;
    pOutcome->strResult = "exit-code=" + std::to_string(nCode);
    pOutcome->strDetail = "ran \"" + pOutcome->strCommand + "\" (exit code " + std::to_string(nCode) + ")";
  } else {
    int nSignal = WIFSIGNALED(nStatus) ? WTERMSIG(nStatus) : 0;
    pOutcome->bSucceeded = false;
    pOutcome->strResult = "signal=" + std::to_string(nSignal);
    pOutcome->strDetail = "ran \"" + pOutcome->strCommand + "\" (ended by signal " + std::to_string(nSignal) + ")";
  }
}

void WriteEventRecord(const CRequest& request, const COutcome& outcome) {
  std::string strText = std::string(request.bReboot ? "System restart" : "System halt") +
                        " requested by process " + std::to_string(request.dwOwner) +
                        " reached its deadline; " + outcome.strDetail + ". Message: " + request.strMessage;
  // A halt or restart belongs in the System log; a registration an operator
  // made elsewhere is kept.
  std::string strLog;
  if (FindEventSourceLog(kEventSource, &strLog) != ERROR_SUCCESS) InstallEventSource("System", kEventSource, nullptr);
  HEVENTSOURCE hSource = nullptr;
  if (RegisterEventLogSource(kEventSource, &hSource) != ERROR_SUCCESS) return;
  const char* strings[1] = {strText.c_str()};
  ReportEventLogEntry(hSource, outcome.bSucceeded ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE, 0,
                      request.bReboot ? kEventIdRestart : kEventIdHalt, 1, strings);
  DeregisterEventLogSource(hSource);
}

void CarryOut(const CRequest& request) {
  CKeyValues config;
  ReadKeyValueFile(request.strDirectory + "/config", &config);
  COutcome outcome;
  const char* lpKey = request.bReboot ? "reboot-command" : "halt-command";
  outcome.strCommand = GetKeyText(config, lpKey);
  std::size_t nFirst = outcome.strCommand.find_first_not_of(" \t");
  outcome.strCommand = nFirst == std::string::npos ? std::string() : outcome.strCommand.substr(nFirst);
  if (outcome.strCommand.empty()) {
    outcome.strResult = "not-configured";
    outcome.strDetail = std::string("no ") + lpKey + " is configured, so nothing was run";
  } else {
    RunCommand(request, &outcome);
  }

  // Settled first, so that nothing below can keep the request pending.
  {
    CStoreLock lock(request.strDirectory);
    CKeyValues state;
    if (lock.IsHeld() && ReadKeyValueFile(PendingPath(request.strDirectory), &state) == ERROR_SUCCESS &&
        GetKeyText(state, "id") == request.strId) {
      unlink(PendingPath(request.strDirectory).c_str());
    }
  }
  // Bounded: a log whose lock another process never releases must not keep
  // this process alive for ever.
  alarm(kRecordLimitSeconds);
  WriteEventRecord(request, outcome);
  alarm(0);
  // The last file comes after the event record, so a reader that sees it sees both.
  CKeyValues last;
  last["id"] = request.strId;
  last["action"] = request.bReboot ? "reboot" : "halt";
  last["force"] = request.bForce ? "1" : "0";
  last["message"] = request.strMessageUtf8;
  last["owner-pid"] = std::to_string(request.dwOwner);
  last["deadline"] = std::to_string(request.llDeadlineWall);
  last["performed"] = std::to_string(NowMs(CLOCK_REALTIME));
  last["command"] = outcome.strCommand;
  last["result"] = outcome.strResult;
  CStoreLock lock(request.strDirectory);
  if (lock.IsHeld()) WriteKeyValueFile(LastPath(request.strDirectory), last);
}

// Waits for the deadline while the request stays this helper's, then marks it
// as being carried out. false when it was cancelled or replaced meanwhile.
bool WaitForDeadline(CRequest* pRequest) {
  for (;;) {
    long long llRemaining = pRequest->llDeadlineMono - NowMs(CLOCK_MONOTONIC);
    if (llRemaining > 0) SleepMs(llRemaining < kPollMs ? llRemaining : kPollMs);
    CStoreLock lock(pRequest->strDirectory);
    if (!lock.IsHeld()) return false;
    CKeyValues state;
    if (ReadKeyValueFile(PendingPath(pRequest->strDirectory), &state) != ERROR_SUCCESS ||
        GetKeyText(state, "id") != pRequest->strId) {
      return false;  // cancelled, or replaced after a cancel
    }
    pRequest->strMessageUtf8 = GetKeyText(state, "message");
    pRequest->bForce = GetKeyText(state, "force") == "1" ? TRUE : FALSE;
    pRequest->dwOwner = static_cast<DWORD>(GetKeyNumber(state, "owner-pid"));
    pRequest->llDeadlineWall = static_cast<long long>(GetKeyNumber(state, "deadline"));
    if (NowMs(CLOCK_MONOTONIC) < pRequest->llDeadlineMono) continue;
    state["state"] = "acting";
    return WriteKeyValueFile(PendingPath(pRequest->strDirectory), state) == ERROR_SUCCESS;
  }
}

}  // namespace

int RunHelperProgram(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s <power directory> <request id> halt|reboot <deadline>\n", kHelperProgram);
    return 2;
  }
  CRequest request;
  request.strDirectory = argv[1];
  request.strId = argv[2];
  std::string strAction = argv[3];
  char* lpEnd = nullptr;
  errno = 0;
  request.llDeadlineMono = std::strtoll(argv[4], &lpEnd, 10);
  if (request.strDirectory.empty() || request.strId.empty() || (strAction != "halt" && strAction != "reboot") ||
      errno != 0 || lpEnd == argv[4] || *lpEnd != '\0') {
    std::fprintf(stderr, "%s: bad arguments\n", kHelperProgram);
    return 2;
  }
  request.bReboot = strAction == "reboot" ? TRUE : FALSE;
  request.bForce = FALSE;
  request.dwOwner = 0;
  request.llDeadlineWall = 0;

  // Detach: the process that carries the request out is a grandchild in a
  // session of its own, so the caller reaps only this one and is left with no
  // zombie. This program has one thread, so the fork is safe.
  pid_t helper = fork();
  if (helper < 0) return 1;
  if (helper > 0) {
    std::printf("%ld\n", static_cast<long>(helper));
    std::fflush(stdout);
    return 0;
  }
  setsid();
  int fdNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fdNull >= 0) dup2(fdNull, 1);  // the caller reads the id to its end
  if (chdir("/") != 0) {
    // The root directory always exists; nothing to do if it somehow does not.
  }
  if (!WaitForDeadline(&request)) _exit(0);
  request.strMessage = Utf8ToCp932(request.strMessageUtf8);
  CarryOut(request);
  _exit(0);
}

}  // namespace power
}  // namespace emulation
}  // namespace kx
