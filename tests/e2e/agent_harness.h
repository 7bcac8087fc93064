// Runs the real agent program on a pseudo-terminal, the way a console server
// would see it, for the end-to-end tests and the benchmark. The harness owns a
// throw-away installation (program and libraries copied, configuration, PAM set-up
// through pam_wrapper, system state directory, log directory) and the master side of
// the terminal. Every read and write has a time-out; nothing here blocks for ever.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/kx_types.h"

namespace kx {
namespace e2e {

// Read and write time-out used when a caller names none; generous on purpose so
// that a loaded two-core machine does not turn slowness into failures.
constexpr int kDefaultTimeoutMs = 20000;

// The product line that opens the banner (the second, notice line is learned from
// the first logon screen).
extern const char kBannerFirstLine[];

// One logon account of the generated configuration and, when m_strPassword is not
// empty, of the PAM password file.
struct CAgentAccount {
  std::string m_strName;
  std::string m_strDomain;           // empty for a local account
  BOOL m_bLogonAllowed = TRUE;
  std::vector<int> m_vecCommandIDs;  // allowed command IDs
  std::string m_strPassword;         // PAM password; empty: no PAM entry
};

// One installed plug-in of the generated configuration.
struct CAgentPlugin {
  int m_nPluginID;
  std::string m_strLibrary;  // as configured (a file name in <base>/plugins/)
  int m_nType;               // 2 VBScript, 3 JScript, 4 DLL
};

// A PAM user that the configuration does not list.
struct CPamUser {
  std::string m_strName;
  std::string m_strPassword;
};

// Everything a harness needs to build its installation and start the program.
struct CAgentOptions {
  // Program to copy into the base directory and run, and the files copied beside it
  // (every file of the program's directory whose name starts with one of these).
  std::string m_strProgram;
  std::vector<std::string> m_vecLibraries;
  std::vector<std::string> m_vecArguments;

  // <base>/dev/COM<port> is linked to the terminal when set.
  BOOL m_bCreateComPort = TRUE;
  // When set ("NAME=/dev/%I", as a kxagent@ unit's Environment= line), the program
  // gets this variable with %I replaced by the terminal's path below /dev/, the
  // way a unit instance names its device; no dev/COM<port> link is made then.
  std::string m_strDeviceEnvironment;
  // When set, written as the PAM service file in place of the generated one; its
  // "@include common-auth" and "@include common-account" then reach the test's
  // accounts, which the harness puts in those two files.
  std::string m_strPamService;
  // When set, the program is a Windows program run by Wine in this prefix: the
  // prefix's COM<port> is linked to the terminal instead, paths in the
  // configuration are the prefix's Z: paths, and logons need no PAM set-up.
  std::string m_strWinePrefix;
  // Written verbatim as config/sysconfig.xml when not empty; otherwise the file is
  // generated from the settings below.
  std::string m_strSystemConfigXml;
  BOOL m_bWriteSystemConfig = TRUE;

  DWORD m_dwMaxComPort = 8;
  DWORD m_dwComPort = 1;
  DWORD m_dwComSpeed = 9600;
  std::string m_strOutputEncoding = "Shift_JIS";
  DWORD m_dwLogonTimeout = 180;
  BOOL m_bEventLogNotification = FALSE;
  BOOL m_bHideImproperCommands = TRUE;
  BOOL m_bCpuMonitoring = FALSE;
  BOOL m_bScriptPluginSupport = FALSE;
  BOOL m_bLogging = TRUE;  // all four levels switched with it
  std::vector<CAgentAccount> m_vecAccounts;
  std::vector<CPamUser> m_vecPamOnlyUsers;
  std::vector<CAgentPlugin> m_vecPlugins;
  // Files copied into <base>/plugins/ before the program starts (full paths).
  std::vector<std::string> m_vecPluginFiles;
};

// Result of a read: whether the awaited bytes arrived, and every byte consumed.
struct CReadResult {
  BOOL m_bFound = FALSE;
  std::string m_strBytes;
};

// How the program ended.
struct CExitStatus {
  BOOL m_bExited = FALSE;    // ended normally; m_nExitCode is valid
  BOOL m_bSignaled = FALSE;  // killed by m_nSignal
  BOOL m_bTimedOut = FALSE;  // still running when the wait gave up
  int m_nExitCode = -1;
  int m_nSignal = 0;
};

// CPU time and memory of the running program, from /proc.
struct CProcessStats {
  BOOL m_bValid = FALSE;
  std::uint64_t m_ullCpuTimeMs = 0;  // user + system
  std::uint64_t m_ullRssKb = 0;      // VmRSS
  std::uint64_t m_ullPeakRssKb = 0;  // VmHWM
};

// Options for the agent program of this build with no accounts and logging on.
CAgentOptions MakeAgentOptions();
// Command IDs 0 to 16: every built-in command.
std::vector<int> AllBuiltInCommandIDs();
// The sysconfig.xml text for the options, with the log directory given.
std::string BuildSystemConfigXml(const CAgentOptions& options, const std::string& strLogDir);
// The machine name the agent shows: the host name in lower case.
std::string GetExpectedMachineName();
// Bytes made readable for failure messages: \r \n \t \\ and \xNN for the rest.
std::string EscapeBytes(const std::string& strBytes);
// The banner as the agent sends it, for a notice line.
std::string MakeBanner(const std::string& strNotice);
// The whole content of a file; empty when it cannot be read.
std::string ReadTextFile(const std::string& strPath);

class CAgentHarness {
 public:
  explicit CAgentHarness(const CAgentOptions& options);
  // Kills the program if it still runs and removes the base directory (kept when
  // the environment variable KX_E2E_KEEP is set).
  ~CAgentHarness();
  CAgentHarness(const CAgentHarness&) = delete;
  CAgentHarness& operator=(const CAgentHarness&) = delete;

  // Builds the installation, opens the terminal and starts the program. FALSE, with
  // GetLastError() telling why, when any step fails.
  BOOL Start();
  // Waits until the program has configured its end of the terminal (it changes the
  // line settings the harness left there). FALSE after the time-out.
  BOOL WaitForPortConfigured(int nTimeoutMs = kDefaultTimeoutMs);
  // Sends one line end and reads the logon screen it brings, repeating the line end
  // when nothing at all comes back for a while. m_bFound is TRUE only when the bytes
  // are exactly CR LF + the logon screen; the banner's notice line is learned here.
  CReadResult OpenLogonScreen(int nTimeoutMs = 3 * kDefaultTimeoutMs);
  // Writes all bytes to the terminal, reading whatever arrives meanwhile into the
  // pending input so that the program never blocks on a full terminal.
  BOOL Send(const std::string& strBytes, int nTimeoutMs = kDefaultTimeoutMs);
  // Reads until strExpected has arrived; returns every byte up to and including it.
  // On time-out returns everything read so far with m_bFound FALSE.
  CReadResult ReadUntil(const std::string& strExpected, int nTimeoutMs = kDefaultTimeoutMs);
  // Reads until the first of the texts has arrived; *pnIndex (when given) tells
  // which one, -1 after the time-out.
  CReadResult ReadUntilAny(const std::vector<std::string>& vecExpected, int* pnIndex,
                           int nTimeoutMs = kDefaultTimeoutMs);
  // Reads whatever arrives within the duration.
  std::string ReadFor(int nDurationMs);
  // Reads until strExpected has arrived and checks that nothing came before it.
  // On failure *pstrFailure says what was expected and what came, escaped.
  BOOL ExpectExactly(const std::string& strExpected, std::string* pstrFailure,
                     int nTimeoutMs = kDefaultTimeoutMs);
  // Forgets the input read but not yet consumed.
  void DiscardPending();
  // Closes the terminal's side of the line, as a pulled cable or a console
  // server ending its connection does; the program sees the hang-up.
  void HangUp();
  // A new terminal behind the same COM link (the old one hung up first when
  // it is still open). FALSE, with GetLastError(), when it cannot be made.
  BOOL Reattach();
  // From now on the terminal reads at most this many bytes a second, as one on
  // a slow line (3840 for 38400 bit/s); 0 reads as fast as it can.
  void SetReadRate(int nBytesPerSecond);
  // Logs on from the user-name state: name, line end, password, line end, and
  // checks the exact echo and the command prompt.
  BOOL Logon(const std::string& strUser, const std::string& strPassword, std::string* pstrFailure);

  // The command prompt of a user: "user@machine> ".
  std::string GetPrompt(const std::string& strUser) const;
  // The logon screen as the agent writes it after a line end: CR LF, the banner,
  // CR LF, the machine name, " logon: ". Empty before OpenLogonScreen succeeded.
  const std::string& GetLogonScreen() const { return m_strLogonScreen; }
  const std::string& GetBanner() const { return m_strBanner; }

  // Sends the signal (SIGTERM unless told), then waits; SIGKILL when the time-out
  // passes, in which case the status says m_bTimedOut.
  CExitStatus Stop(int nTimeoutMs = 3 * kDefaultTimeoutMs, int nSignal = SIGTERM);
  // Waits for the program to end by itself.
  CExitStatus WaitForExit(int nTimeoutMs = kDefaultTimeoutMs);
  BOOL IsRunning();
  // The terminal is served by a program the harness did not start (the service
  // its own program installed): waits on the terminal no longer end early
  // because the harness's program has ended.
  void SetServedByService() { m_bServedByService = TRUE; }
  pid_t GetPid() const { return m_pid; }
  CProcessStats GetProcessStats() const;

  // Contents of one log file of the agent (info.log, warning.log, error.log,
  // debug.log); empty when it does not exist.
  std::string ReadLogFile(const std::string& strName) const;
  // All four log files, one after another.
  std::string ReadAllLogs() const;
  // What the program wrote to its standard output and error.
  std::string ReadProgramOutput() const;
  const std::string& GetBaseDir() const { return m_strBaseDir; }
  const std::string& GetLastError() const { return m_strLastError; }
  // The tail of everything received and of the program's output, escaped, for
  // failure messages.
  std::string Describe() const;

 private:
  BOOL PrepareBaseDir();
  BOOL OpenTerminal();
  BOOL Launch();
  // Reads what is available within nWaitMs into m_strPending. FALSE when the
  // program has closed its end for good.
  BOOL FillPending(int nWaitMs);
  void Reap(BOOL bBlock);
  // Whether the terminal's program may still answer.
  BOOL IsServing() { return m_bServedByService || IsRunning(); }
  CExitStatus MakeExitStatus() const;
  BOOL Fail(const std::string& strWhy);

  CAgentOptions m_options;
  std::string m_strBaseDir;
  std::string m_strProgramPath;
  std::string m_strLastError;
  std::string m_strPending;
  std::string m_strReceivedTail;
  std::string m_strLogonScreen;
  std::string m_strBanner;
  std::string m_strMachineName;
  std::string m_strTerminalPath;  // the slave side the program opens
  int m_nMasterFd = -1;
  // The read throttle: bytes a second (0: none), and the bytes it may read now.
  int m_nReadRate = 0;
  double m_dReadBudget = 0;
  std::int64_t m_llBudgetTimeUs = 0;
  pid_t m_pid = -1;
  BOOL m_bReaped = FALSE;
  BOOL m_bServedByService = FALSE;
  int m_nWaitStatus = 0;
};

}  // namespace e2e
}  // namespace kx
