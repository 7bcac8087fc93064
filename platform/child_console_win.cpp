// The interpreter is cmd.exe with its input and output on anonymous pipes,
// inside a job object so that everything it starts can be ended with it. It
// runs on the agent's console (allocated, hidden, when the agent has none),
// unless that console is a user's, shared with the user's own shell: then it
// gets a hidden console of its own, so that its Ctrl-C never reaches the
// user's shell. An interrupt is Ctrl-C for the interpreter's whole console;
// the agent's own handler takes its copy.
#include "platform/windows_win.h"

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/child_console.h"
#include "platform/console_control_win.h"
#include "platform/error_codes.h"

namespace kx {
namespace {

const DWORD kPollStepMs = 10;
// A Ctrl-C this process sent counts as its own for this long: one that never
// came back (sent to a console the agent left at once) must not swallow a
// later Ctrl-C of the user's.
const DWORD kOwnInterruptMs = 2000;

// Ctrl-C events this process sent to a console and has not yet seen itself.
std::atomic<int> g_nOwnInterrupts(0);
std::atomic<DWORD> g_dwOwnInterruptTick(0);

BOOL WINAPI TakeOwnInterrupt(DWORD dwControl) {
  if (dwControl != CTRL_C_EVENT) return FALSE;
  if (::GetTickCount() - g_dwOwnInterruptTick.load() > kOwnInterruptMs) {
    g_nOwnInterrupts = 0;
    return FALSE;
  }
  int nPending = g_nOwnInterrupts.load();
  while (nPending > 0) {
    if (g_nOwnInterrupts.compare_exchange_weak(nPending, nPending - 1)) return TRUE;
  }
  return FALSE;  // not ours: the next handler (or the default) decides
}

void ExpectOwnInterrupt() {
  g_dwOwnInterruptTick = ::GetTickCount();
  ++g_nOwnInterrupts;
}

// After any change of console: the run mode's stop handler again, and the
// interrupt handler after it, so that it sees every Ctrl-C first.
void InstallControlHandlers() {
  ::SetConsoleCtrlHandler(TakeOwnInterrupt, FALSE);
  ReinstallStopRequestHandler();
  ::SetConsoleCtrlHandler(TakeOwnInterrupt, TRUE);
}

void HideConsoleWindow() {
  HWND hWindow = ::GetConsoleWindow();
  if (hWindow != nullptr) ::ShowWindow(hWindow, SW_HIDE);
}

// Set once by PrepareConsole: the agent sits on a console that other
// processes share (run mode from a user's command prompt), and one of them,
// to come back to after visiting the interpreter's console.
bool g_bUserConsole = false;
DWORD g_dwConsolePeer = 0;
// Held while the agent visits the interpreter's console.
std::mutex g_consoleLock;

// A console for the interpreter and the interrupt handler, once per process.
void PrepareConsole() {
  static std::once_flag s_once;
  std::call_once(s_once, [] {
    BOOL bAllocated = ::AllocConsole();
    if (!bAllocated && ::GetConsoleWindow() == nullptr) {
      // A console without a window (Wine gives one to a program started
      // without a terminal) takes no control events: trade it for our own.
      ::FreeConsole();
      bAllocated = ::AllocConsole();
    } else if (!bAllocated) {
      DWORD adwProcesses[16] = {};
      DWORD dwCount = ::GetConsoleProcessList(adwProcesses, 16);
      for (DWORD i = 0; i < dwCount && i < 16; ++i) {
        if (adwProcesses[i] != ::GetCurrentProcessId()) {
          g_bUserConsole = true;
          g_dwConsolePeer = adwProcesses[i];
          break;
        }
      }
    }
    if (bAllocated) HideConsoleWindow();
    InstallControlHandlers();
  });
}

// Sends Ctrl-C to the console of process dwProcessId, which the agent does not
// share: it leaves its own console for the moment of the call and comes back.
DWORD InterruptOtherConsole(DWORD dwProcessId) {
  std::lock_guard<std::mutex> lock(g_consoleLock);
  ExpectOwnInterrupt();
  ::FreeConsole();
  DWORD dwError = ERROR_SUCCESS;
  if (!::AttachConsole(dwProcessId)) {
    dwError = ::GetLastError();
  } else {
    if (!::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) dwError = ::GetLastError();
    ::FreeConsole();
  }
  if (!::AttachConsole(g_dwConsolePeer) && !::AttachConsole(ATTACH_PARENT_PROCESS)) {
    // The user's console is gone: a hidden one of the agent's own instead.
    if (::AllocConsole()) HideConsoleWindow();
  }
  InstallControlHandlers();
  if (dwError != ERROR_SUCCESS) --g_nOwnInterrupts;
  return dwError == ERROR_SUCCESS ? ERROR_SUCCESS : dwError;
}

FILETIME ProcessCreationTime(HANDLE hProcess) {
  FILETIME creation = {}, exit = {}, kernel = {}, user = {};
  if (hProcess != nullptr) ::GetProcessTimes(hProcess, &creation, &exit, &kernel, &user);
  return creation;
}

// Ends every process started below dwRootId (not the root itself): the
// fallback when the interpreter could not be put in a job. A process counts as
// a child only when it was created after its parent, so a reused process ID
// never leads to a stranger. Repeated while the walk finds new processes, as
// a dying command may still start one.
void KillDescendants(DWORD dwRootId, const FILETIME& rootCreation) {
  std::map<DWORD, unsigned long long> created = {{dwRootId, FileTimeToUnits(rootCreation)}};
  std::set<DWORD> ended;
  for (int nRound = 0; nRound < 4; ++nRound) {
    HANDLE hSnapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) return;
    std::vector<PROCESSENTRY32> entries;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = ::Process32First(hSnapshot, &entry); bMore; bMore = ::Process32Next(hSnapshot, &entry)) {
      entries.push_back(entry);
    }
    ::CloseHandle(hSnapshot);
    bool bFound = false;
    for (bool bGrew = true; bGrew;) {
      bGrew = false;
      for (const PROCESSENTRY32& process : entries) {
        auto parent = created.find(process.th32ParentProcessID);
        if (parent == created.end() || created.count(process.th32ProcessID) != 0) continue;
        HANDLE hProcess =
            ::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.th32ProcessID);
        if (hProcess == nullptr) continue;
        unsigned long long ullCreated = FileTimeToUnits(ProcessCreationTime(hProcess));
        if (ullCreated >= parent->second) {
          created[process.th32ProcessID] = ullCreated;
          if (ended.insert(process.th32ProcessID).second) ::TerminateProcess(hProcess, 1);
          bGrew = bFound = true;
        }
        ::CloseHandle(hProcess);
      }
    }
    if (!bFound) return;
  }
}

std::string InterpreterPath() {
  char szPath[MAX_PATH] = {};
  DWORD dwLength = ::GetEnvironmentVariableA("ComSpec", szPath, sizeof(szPath));
  return dwLength > 0 && dwLength < sizeof(szPath) ? std::string(szPath) : std::string("cmd.exe");
}

std::string RootDirectory() {
  char szWindows[MAX_PATH] = {};
  UINT uLength = ::GetSystemWindowsDirectoryA(szWindows, sizeof(szWindows));
  return uLength >= 3 ? std::string(szWindows, 3) : std::string("C:\\");
}

class CWinChildConsole : public CChildConsole {
 public:
  ~CWinChildConsole() override {
    Kill();
    CloseKernelHandle(m_hInput);
    CloseKernelHandle(m_hOutput);
    CloseKernelHandle(m_hProcess);
    CloseKernelHandle(m_hJob);
  }

  DWORD Start() override {
    PrepareConsole();
    SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE hChildInput = nullptr, hChildOutput = nullptr;
    if (!::CreatePipe(&hChildInput, &m_hInput, &inherit, 0)) return ::GetLastError();
    if (!::CreatePipe(&m_hOutput, &hChildOutput, &inherit, 0)) {
      DWORD dwError = ::GetLastError();
      ::CloseHandle(hChildInput);
      return dwError;
    }
    // The agent's ends stay in the agent.
    ::SetHandleInformation(m_hInput, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(m_hOutput, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = hChildInput;
    startup.hStdOutput = hChildOutput;
    startup.hStdError = hChildOutput;
    DWORD dwFlags = CREATE_SUSPENDED;
    if (g_bUserConsole) {
      dwFlags |= CREATE_NEW_CONSOLE;
      startup.dwFlags |= STARTF_USESHOWWINDOW;
      startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION process = {};
    std::string strCommand = "\"" + InterpreterPath() + "\" /Q";
    std::string strDirectory = RootDirectory();
    BOOL bStarted = ::CreateProcessA(nullptr, &strCommand[0], nullptr, nullptr, TRUE, dwFlags, nullptr,
                                     strDirectory.c_str(), &startup, &process);
    DWORD dwError = bStarted ? ERROR_SUCCESS : ::GetLastError();
    ::CloseHandle(hChildInput);
    ::CloseHandle(hChildOutput);
    if (!bStarted) return dwError;
    // Assigned while suspended, before it can start anything. A system without
    // nested jobs refuses when the agent itself runs in a job (a service host's,
    // a terminal server's); the interpreter's processes are then ended one by one.
    m_hJob = ::CreateJobObjectA(nullptr, nullptr);
    DWORD dwJobError = m_hJob != nullptr ? ERROR_SUCCESS : ::GetLastError();
    if (m_hJob != nullptr) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      ::SetInformationJobObject(m_hJob, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
      if (!::AssignProcessToJobObject(m_hJob, process.hProcess)) {
        dwJobError = ::GetLastError();
        CloseKernelHandle(m_hJob);
        m_hJob = nullptr;
      }
    }
    if (m_hJob == nullptr) {
      char szNote[200];
      std::snprintf(szNote, sizeof(szNote),
                    "the command interpreter could not be put in a job object (error %lu); the processes it "
                    "starts are ended one by one with it",
                    dwJobError);
      m_strStartNote = szNote;
    }
    ::ResumeThread(process.hThread);
    ::CloseHandle(process.hThread);
    m_hProcess = process.hProcess;
    m_dwProcessId = process.dwProcessId;
    return ERROR_SUCCESS;
  }

  DWORD Read(char* lpBuffer, DWORD dwSize, DWORD* lpdwRead, DWORD dwMilliseconds) override {
    *lpdwRead = 0;
    if (m_hOutput == nullptr) return ERROR_INVALID_HANDLE;
    DWORD dwStart = ::GetTickCount();
    for (;;) {
      DWORD dwAvailable = 0;
      if (!::PeekNamedPipe(m_hOutput, nullptr, 0, nullptr, &dwAvailable, nullptr)) {
        DWORD dwError = ::GetLastError();
        return dwError == ERROR_BROKEN_PIPE ? ERROR_BROKEN_PIPE : dwError;
      }
      if (dwAvailable > 0) {
        DWORD dwWanted = dwAvailable < dwSize ? dwAvailable : dwSize;
        if (!::ReadFile(m_hOutput, lpBuffer, dwWanted, lpdwRead, nullptr)) return ::GetLastError();
        return ERROR_SUCCESS;
      }
      if (::GetTickCount() - dwStart >= dwMilliseconds) return ERROR_SUCCESS;
      ::Sleep(kPollStepMs);
    }
  }

  DWORD WriteLine(const char* lpLine) override {
    std::lock_guard<std::mutex> lock(m_inputLock);
    if (m_hInput == nullptr) return ERROR_BROKEN_PIPE;
    std::string strLine = std::string(lpLine != nullptr ? lpLine : "") + "\r\n";
    DWORD dwDone = 0;
    while (dwDone < strLine.size()) {
      DWORD dwWritten = 0;
      if (!::WriteFile(m_hInput, strLine.data() + dwDone, static_cast<DWORD>(strLine.size() - dwDone), &dwWritten,
                       nullptr)) {
        return ::GetLastError();
      }
      dwDone += dwWritten;
    }
    return ERROR_SUCCESS;
  }

  DWORD Interrupt() override {
    if (m_hProcess == nullptr) return ERROR_INVALID_HANDLE;
    if (g_bUserConsole) return InterruptOtherConsole(m_dwProcessId);
    ExpectOwnInterrupt();
    if (!::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
      --g_nOwnInterrupts;
      return ::GetLastError();
    }
    return ERROR_SUCCESS;
  }

  // The interpreter ends at the end of its input, once its command has ended.
  DWORD AskToEnd() override {
    std::lock_guard<std::mutex> lock(m_inputLock);
    CloseKernelHandle(m_hInput);
    m_hInput = nullptr;
    return ERROR_SUCCESS;
  }

  DWORD Kill() override {
    if (m_hJob != nullptr) {
      if (!::TerminateJobObject(m_hJob, 1)) return ::GetLastError();
    } else if (m_hProcess != nullptr) {
      // The children first: their parent link is what finds them.
      KillDescendants(m_dwProcessId, ProcessCreationTime(m_hProcess));
      if (WaitForEnd(0) != WAIT_OBJECT_0 && !::TerminateProcess(m_hProcess, 1)) return ::GetLastError();
    }
    return ERROR_SUCCESS;
  }

  std::string GetStartNote() override { return m_strStartNote; }

  DWORD WaitForEnd(DWORD dwMilliseconds) override {
    if (m_hProcess == nullptr) return WAIT_OBJECT_0;
    return ::WaitForSingleObject(m_hProcess, dwMilliseconds) == WAIT_OBJECT_0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }

  DWORD GetProcessId() override { return m_dwProcessId; }

 private:
  std::mutex m_inputLock;
  HANDLE m_hInput = nullptr;   // the agent's end of the interpreter's input
  HANDLE m_hOutput = nullptr;  // the agent's end of its output
  HANDLE m_hProcess = nullptr;
  HANDLE m_hJob = nullptr;  // null when the interpreter is in no job of ours
  DWORD m_dwProcessId = 0;
  std::string m_strStartNote;
};

}  // namespace

std::unique_ptr<CChildConsole> CreateChildConsole() { return std::unique_ptr<CChildConsole>(new CWinChildConsole()); }

}  // namespace kx
