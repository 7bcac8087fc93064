// The interpreter is cmd.exe on the agent's console (allocated, hidden, when
// the agent has none), its input and output on anonymous pipes, inside a job
// object so that everything it starts can be ended with it. An interrupt is
// Ctrl-C for the whole console; the agent's own handler takes its copy.
#include "platform/windows_win.h"

#include <atomic>
#include <mutex>
#include <string>

#include "platform/child_console.h"
#include "platform/error_codes.h"

namespace kx {
namespace {

const DWORD kPollStepMs = 10;

// Ctrl-C events this process sent to its console and has not yet seen itself.
std::atomic<int> g_nOwnInterrupts(0);

BOOL WINAPI TakeOwnInterrupt(DWORD dwControl) {
  if (dwControl != CTRL_C_EVENT) return FALSE;
  int nPending = g_nOwnInterrupts.load();
  while (nPending > 0) {
    if (g_nOwnInterrupts.compare_exchange_weak(nPending, nPending - 1)) return TRUE;
  }
  return FALSE;  // not ours: the next handler (or the default) decides
}

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
    }
    if (bAllocated) {
      HWND hWindow = ::GetConsoleWindow();
      if (hWindow != nullptr) ::ShowWindow(hWindow, SW_HIDE);
    }
    ::SetConsoleCtrlHandler(TakeOwnInterrupt, TRUE);
  });
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
    PROCESS_INFORMATION process = {};
    std::string strCommand = "\"" + InterpreterPath() + "\" /Q";
    std::string strDirectory = RootDirectory();
    BOOL bStarted = ::CreateProcessA(nullptr, &strCommand[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                                     strDirectory.c_str(), &startup, &process);
    DWORD dwError = bStarted ? ERROR_SUCCESS : ::GetLastError();
    ::CloseHandle(hChildInput);
    ::CloseHandle(hChildOutput);
    if (!bStarted) return dwError;
    m_hJob = ::CreateJobObjectA(nullptr, nullptr);
    if (m_hJob != nullptr) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      ::SetInformationJobObject(m_hJob, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
      ::AssignProcessToJobObject(m_hJob, process.hProcess);
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
    ++g_nOwnInterrupts;
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
    } else if (m_hProcess != nullptr && WaitForEnd(0) != WAIT_OBJECT_0) {
      if (!::TerminateProcess(m_hProcess, 1)) return ::GetLastError();
    }
    return ERROR_SUCCESS;
  }

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
  HANDLE m_hJob = nullptr;
  DWORD m_dwProcessId = 0;
};

}  // namespace

std::unique_ptr<CChildConsole> CreateChildConsole() { return std::unique_ptr<CChildConsole>(new CWinChildConsole()); }

}  // namespace kx
