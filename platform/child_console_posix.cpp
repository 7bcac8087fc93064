// The interpreter is the account's login shell, run interactively on a
// pseudo-terminal of its own in a new session, so that it has job control, an
// interrupt reaches its foreground job only, and everything it leaves behind can
// be found again by its session.
#include "platform/child_console.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/posix_error.h"
#include "platform/spawn_posix.h"
#include "platform/text_encoding.h"

namespace kx {
namespace {

const char kDefaultShell[] = "/bin/sh";
// How long a line may wait for room in the console's input.
const int kWriteTimeoutMs = 2000;
const int kPollStepMs = 10;

// The account the agent runs as, which the shell runs as too.
struct CAccountEntry {
  std::string strName;
  std::string strHome;
  std::string strShell;
};

CAccountEntry GetAgentAccount() {
  CAccountEntry account;
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* pEntry = nullptr;
  uid_t uid = geteuid();
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &pEntry) == 0 && pEntry != nullptr) {
    if (pEntry->pw_name != nullptr) account.strName = pEntry->pw_name;
    if (pEntry->pw_dir != nullptr) account.strHome = pEntry->pw_dir;
    if (pEntry->pw_shell != nullptr) account.strShell = pEntry->pw_shell;
  }
  if (account.strName.empty()) account.strName = std::to_string(uid);
  if (account.strHome.empty()) account.strHome = "/";
  if (account.strShell.empty()) account.strShell = kDefaultShell;
  return account;
}

// A login environment for the account, as a terminal login gives it: nothing
// of the agent's own environment (its preloaded libraries, its test set-up)
// reaches the shell. The console speaks UTF-8 (converted for the line), so
// the language is a UTF-8 one: the agent's when it is, else C.UTF-8.
std::vector<std::string> BuildLoginEnvironment(const CAccountEntry& account) {
  const char* lpLang = std::getenv("LANG");
  std::string strLang = lpLang != nullptr ? lpLang : "";
  if (strLang.find("UTF-8") == std::string::npos && strLang.find("utf8") == std::string::npos) {
    strLang = "C.UTF-8";
  }
  const char* lpPath = geteuid() == 0 ? "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
                                      : "/usr/local/bin:/usr/bin:/bin";
  return {
      "HOME=" + account.strHome, "USER=" + account.strName, "LOGNAME=" + account.strName,
      "SHELL=" + account.strShell, std::string("PATH=") + lpPath,
      // The agent's line editor and the terminal at the far end speak VT100.
      "TERM=vt100", "LANG=" + strLang,
  };
}

// The processes whose session is `sid`, read from /proc.
std::vector<pid_t> ListSession(pid_t sid) {
  std::vector<pid_t> pids;
  DIR* pDir = opendir("/proc");
  if (pDir == nullptr) return pids;
  pid_t self = getpid();
  while (struct dirent* pEntry = readdir(pDir)) {
    char* pEnd = nullptr;
    long nPid = std::strtol(pEntry->d_name, &pEnd, 10);
    if (nPid <= 0 || *pEnd != '\0' || nPid == self) continue;
    char szPath[64];
    std::snprintf(szPath, sizeof(szPath), "/proc/%ld/stat", nPid);
    FILE* pFile = std::fopen(szPath, "r");
    if (pFile == nullptr) continue;
    char szStat[1024];
    size_t nRead = std::fread(szStat, 1, sizeof(szStat) - 1, pFile);
    std::fclose(pFile);
    szStat[nRead] = '\0';
    // The command name may hold blanks and parentheses: the fields follow its last ')'.
    const char* pFields = std::strrchr(szStat, ')');
    char cState;
    int nParent, nGroup, nSession;
    if (pFields != nullptr &&
        std::sscanf(pFields + 1, " %c %d %d %d", &cState, &nParent, &nGroup, &nSession) == 4 &&
        nSession == sid) {
      pids.push_back(static_cast<pid_t>(nPid));
    }
  }
  closedir(pDir);
  return pids;
}

// The length of the incomplete UTF-8 character at the end of the text, which
// must wait for the rest of its bytes; 0 when the text ends on a boundary.
size_t IncompleteUtf8Tail(const std::string& strText) {
  size_t nSize = strText.size();
  for (size_t nBack = 1; nBack <= 3 && nBack <= nSize; ++nBack) {
    unsigned char b = static_cast<unsigned char>(strText[nSize - nBack]);
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    size_t nNeeded = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
    return nNeeded > nBack ? nBack : 0;
  }
  return 0;
}

class CPosixChildConsole : public CChildConsole {
 public:
  ~CPosixChildConsole() override {
    Kill();
    if (m_fdMaster >= 0) close(m_fdMaster);
  }

  DWORD Start() override;
  DWORD Read(char* lpBuffer, DWORD dwSize, DWORD* lpdwRead, DWORD dwMilliseconds) override;
  DWORD WriteLine(const char* lpLine) override;
  DWORD Interrupt() override;
  DWORD AskToEnd() override;
  DWORD Kill() override;
  DWORD WaitForEnd(DWORD dwMilliseconds) override;
  DWORD GetProcessId() override { return static_cast<DWORD>(m_pid.load()); }

 private:
  bool HasEnded();
  // The console's foreground process group, or the shell's when there is none.
  pid_t GetForegroundGroup();

  // Set once by Start; read by the other threads' calls.
  std::atomic<int> m_fdMaster{-1};
  std::atomic<pid_t> m_pid{0};
  std::atomic<bool> m_bEnded{false};
  std::mutex m_reapLock;
  bool m_bReaped = false;
  // The start of a UTF-8 character whose other bytes are still to come; reader only.
  std::string m_strCarry;
};

DWORD CPosixChildConsole::Start() {
  if (m_pid != 0 || m_fdMaster >= 0) return ERROR_INVALID_FUNCTION;
  int fdMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fdMaster < 0) return ErrnoToWinError(errno);
  char szSlave[128];
  if (grantpt(fdMaster) != 0 || unlockpt(fdMaster) != 0 ||
      ptsname_r(fdMaster, szSlave, sizeof(szSlave)) != 0) {
    DWORD dwError = ErrnoToWinError(errno);
    close(fdMaster);
    return dwError;
  }
  // The parent holds the slave open until the child has opened it, so that the
  // settings made here are the ones the shell finds.
  int fdSlave = open(szSlave, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fdSlave < 0) {
    DWORD dwError = ErrnoToWinError(errno);
    close(fdMaster);
    return dwError;
  }
  // The agent echoes and edits the line; the console must not echo it again.
  struct termios modes;
  if (tcgetattr(fdSlave, &modes) == 0) {
    modes.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    tcsetattr(fdSlave, TCSANOW, &modes);
  }
  struct winsize size = {24, 80, 0, 0};
  ioctl(fdSlave, TIOCSWINSZ, &size);

  CAccountEntry account = GetAgentAccount();
  std::string strShell = account.strShell;
  std::vector<std::string> arguments = {strShell};
  // bash edits its own line (and echoes it) unless told not to.
  size_t nSlash = strShell.find_last_of('/');
  std::string strName = nSlash == std::string::npos ? strShell : strShell.substr(nSlash + 1);
  if (strName == "bash") arguments.push_back("--noediting");
  arguments.push_back("-i");
  std::vector<char*> argv;
  for (std::string& strArgument : arguments) argv.push_back(&strArgument[0]);
  argv.push_back(nullptr);

  // The console, opened after the new session began, becomes its controlling
  // terminal; nothing of the agent (its port above all) is handed on, and the
  // signals the agent blocks or ignores in its own threads are back to normal,
  // or the shell could not be interrupted.
  std::vector<std::string> environment = BuildLoginEnvironment(account);
  std::vector<char*> envp;
  for (std::string& strVariable : environment) envp.push_back(&strVariable[0]);
  envp.push_back(nullptr);

  CSpawnOptions options;
  options.lpProgram = strShell.c_str();
  options.argv = argv.data();
  options.envp = envp.data();
  options.lpTerminal = szSlave;
  options.bNewSession = true;
  options.lpDirectory = "/";
  pid_t pid = 0;
  DWORD dwResult = SpawnProcess(options, &pid);
  close(fdSlave);
  if (dwResult != ERROR_SUCCESS) {
    close(fdMaster);
    return dwResult;
  }
  fcntl(fdMaster, F_SETFL, fcntl(fdMaster, F_GETFL) | O_NONBLOCK);
  m_fdMaster = fdMaster;
  m_pid = pid;
  return ERROR_SUCCESS;
}

DWORD CPosixChildConsole::Read(char* lpBuffer, DWORD dwSize, DWORD* lpdwRead, DWORD dwMilliseconds) {
  *lpdwRead = 0;
  if (m_fdMaster < 0) return ERROR_BROKEN_PIPE;
  if (dwSize <= m_strCarry.size()) return ERROR_INSUFFICIENT_BUFFER;
  struct pollfd poller = {m_fdMaster, POLLIN, 0};
  int nReady = poll(&poller, 1, static_cast<int>(dwMilliseconds));
  if (nReady <= 0) return ERROR_SUCCESS;
  std::string strText = m_strCarry;
  strText.resize(dwSize);
  ssize_t nRead = read(m_fdMaster, &strText[m_strCarry.size()], dwSize - m_strCarry.size());
  if (nRead < 0 && (errno == EAGAIN || errno == EINTR)) return ERROR_SUCCESS;
  // EIO: every holder of the console's other side has closed it, and what they
  // wrote has been read (the kernel hands out buffered bytes before this).
  bool bClosed = nRead <= 0;
  strText.resize(m_strCarry.size() + (bClosed ? 0 : static_cast<size_t>(nRead)));
  m_strCarry.clear();
  if (!bClosed) {
    size_t nTail = IncompleteUtf8Tail(strText);
    m_strCarry = strText.substr(strText.size() - nTail);
    strText.resize(strText.size() - nTail);
  }
  // The console speaks UTF-8, the product code page 932; the converted text is
  // never longer than its source.
  bool bAscii = true;
  for (char c : strText) bAscii = bAscii && static_cast<unsigned char>(c) < 0x80;
  if (!bAscii) strText = Utf8ToCp932(strText);
  std::memcpy(lpBuffer, strText.data(), strText.size());
  *lpdwRead = static_cast<DWORD>(strText.size());
  return bClosed && strText.empty() ? ERROR_BROKEN_PIPE : ERROR_SUCCESS;
}

DWORD CPosixChildConsole::WriteLine(const char* lpLine) {
  if (m_fdMaster < 0) return ERROR_BROKEN_PIPE;
  std::string strLine = lpLine != nullptr ? lpLine : "";
  strLine += '\n';
  size_t nDone = 0;
  int nWaitedMs = 0;
  while (nDone < strLine.size()) {
    ssize_t nWritten = write(m_fdMaster, strLine.data() + nDone, strLine.size() - nDone);
    if (nWritten > 0) {
      nDone += static_cast<size_t>(nWritten);
      continue;
    }
    if (nWritten < 0 && errno == EINTR) continue;
    if (nWritten < 0 && errno != EAGAIN) return ErrnoToWinError(errno);
    if (nWaitedMs >= kWriteTimeoutMs) return ERROR_TIMEOUT;
    struct pollfd poller = {m_fdMaster, POLLOUT, 0};
    poll(&poller, 1, kPollStepMs);
    nWaitedMs += kPollStepMs;
  }
  return ERROR_SUCCESS;
}

pid_t CPosixChildConsole::GetForegroundGroup() {
  int fdMaster = m_fdMaster;
  pid_t group = fdMaster >= 0 ? tcgetpgrp(fdMaster) : -1;
  return group > 0 ? group : m_pid.load();
}

DWORD CPosixChildConsole::Interrupt() {
  if (m_pid == 0 || HasEnded()) return ERROR_INVALID_HANDLE;
  if (kill(-GetForegroundGroup(), SIGINT) != 0) return ErrnoToWinError(errno);
  return ERROR_SUCCESS;
}

DWORD CPosixChildConsole::AskToEnd() {
  if (m_pid == 0 || HasEnded()) return ERROR_SUCCESS;
  // What a terminal's hang-up does: the foreground job and the shell get SIGHUP
  // (and are continued if they were stopped); the shell passes it on to its jobs.
  pid_t group = GetForegroundGroup();
  if (group != m_pid) {
    kill(-group, SIGHUP);
    kill(-group, SIGCONT);
  }
  if (kill(m_pid, SIGHUP) != 0) return ErrnoToWinError(errno);
  kill(m_pid, SIGCONT);
  return ERROR_SUCCESS;
}

DWORD CPosixChildConsole::Kill() {
  pid_t pid = m_pid;
  if (pid == 0) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> lock(m_reapLock);
  // Once the shell is reaped its number may be given to another process: the
  // session is only looked for while the shell (alive or a zombie) holds it.
  if (m_bReaped) return ERROR_SUCCESS;
  // A few passes: a process may fork while the first pass runs.
  for (int nPass = 0; nPass < 5; ++nPass) {
    std::vector<pid_t> members = ListSession(pid);
    bool bSignalled = false;
    for (pid_t member : members) {
      if (kill(member, SIGKILL) == 0) bSignalled = true;
    }
    if (!bSignalled) break;
    usleep(kPollStepMs * 1000);
  }
  if (WaitForEnd(1000) != WAIT_OBJECT_0) return ERROR_TIMEOUT;
  pid_t reaped = waitpid(pid, nullptr, WNOHANG);
  if (reaped == pid || (reaped < 0 && errno == ECHILD)) m_bReaped = true;
  m_bEnded = true;
  return ERROR_SUCCESS;
}

bool CPosixChildConsole::HasEnded() {
  if (m_bEnded) return true;
  siginfo_t info;
  std::memset(&info, 0, sizeof(info));
  // WNOWAIT: the shell stays a zombie, holding its number (and its session's)
  // until Kill has looked for what it left behind.
  int nResult = waitid(P_PID, static_cast<id_t>(m_pid.load()), &info, WEXITED | WNOHANG | WNOWAIT);
  if ((nResult == 0 && info.si_pid != 0) || (nResult != 0 && errno == ECHILD)) m_bEnded = true;
  return m_bEnded;
}

DWORD CPosixChildConsole::WaitForEnd(DWORD dwMilliseconds) {
  if (m_pid == 0) return WAIT_OBJECT_0;
  DWORD dwWaited = 0;
  while (!HasEnded()) {
    if (dwMilliseconds != INFINITE && dwWaited >= dwMilliseconds) return WAIT_TIMEOUT;
    usleep(kPollStepMs * 1000);
    dwWaited += kPollStepMs;
  }
  return WAIT_OBJECT_0;
}

}  // namespace

std::unique_ptr<CChildConsole> CreateChildConsole() {
  return std::unique_ptr<CChildConsole>(new CPosixChildConsole());
}

}  // namespace kx
