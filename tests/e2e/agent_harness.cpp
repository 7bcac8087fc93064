#include "agent_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/PtyMaster.h"

extern char** environ;

namespace kx {
namespace e2e {

const char kBannerFirstLine[] = "Kestrix Agent for Windows Version 1.1.0";

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kPamWrapperLibrary[] = "/usr/lib/x86_64-linux-gnu/libpam_wrapper.so";
const char kPamMatrixModule[] = "/usr/lib/x86_64-linux-gnu/pam_wrapper/pam_matrix.so";
const char kPamService[] = "kxagent";
const char kWineLoader[] = "/usr/lib/wine/wine64";
// Wine gives a computer name of at most 15 characters, as NetBIOS names are.
const std::string::size_type kWineComputerNameLimit = 15;

// A path of this machine as a Windows program under Wine sees it.
std::string ToWinePath(const std::string& strPath) {
  std::string strWine = "Z:" + strPath;
  std::replace(strWine.begin(), strWine.end(), '/', '\\');
  return strWine;
}
const size_t kTailLimit = 1024;

// Line settings the harness leaves on the terminal before the program starts. The
// program's own set-up (8N1 at the configured speed) changes at least one of them,
// which is how the harness sees that the port is ready and the purge that goes with
// opening it is over.
const speed_t kMarkerSpeed = B50;
const tcflag_t kMarkerFlags = CSTOPB;  // a pseudo-terminal keeps no parity setting

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

Clock::time_point DeadlineIn(int nMs) { return Clock::now() + std::chrono::milliseconds(nMs); }

std::string XmlEscape(const std::string& strText) {
  std::string strOut;
  for (char c : strText) {
    switch (c) {
      case '&': strOut += "&amp;"; break;
      case '<': strOut += "&lt;"; break;
      case '>': strOut += "&gt;"; break;
      case '"': strOut += "&quot;"; break;
      default: strOut += c; break;
    }
  }
  return strOut;
}

const char* OnOff(BOOL bValue) { return bValue ? "on" : "off"; }
const char* YesNo(BOOL bValue) { return bValue ? "yes" : "no"; }

BOOL WriteTextFile(const std::string& strPath, const std::string& strText) {
  std::ofstream file(strPath, std::ios::binary | std::ios::trunc);
  if (!file) return FALSE;
  file << strText;
  return file.good() ? TRUE : FALSE;
}

void AppendTail(std::string* pstrTail, const char* pData, size_t cbData) {
  pstrTail->append(pData, cbData);
  if (pstrTail->size() > kTailLimit) pstrTail->erase(0, pstrTail->size() - kTailLimit);
}

// pam_wrapper keeps a copy of the PAM configuration in /tmp/pam.<c>, one of a
// few dozen names shared by every process on the machine, with the owner's
// process ID in its "pid" file, and removes it when its process exits
// normally. The agent leaves with _exit, so the harness tidies up for it:
// fewer stale directories mean fewer processes racing to reclaim them.
void RemovePamWrapperDirectory(pid_t pid) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator("/tmp", error)) {
    std::string strName = entry.path().filename().string();
    if (strName.size() != 5 || strName.compare(0, 4, "pam.") != 0) continue;
    std::string strOwner = ReadTextFile(entry.path().string() + "/pid");
    if (strOwner == std::to_string(pid)) fs::remove_all(entry.path(), error);
  }
}

// A PAM service file whose relative "@include NAME" lines name strDir's files:
// libpam looks for included files in the system's /etc/pam.d even under
// pam_wrapper.
std::string PlaceIncludesIn(const std::string& strService, const std::string& strDir) {
  const std::string strInclude = "@include ";
  std::string strOut = strService;
  for (std::string::size_type pos = strOut.find(strInclude); pos != std::string::npos;
       pos = strOut.find(strInclude, pos + 1)) {
    BOOL bLineStart = (pos == 0 || strOut[pos - 1] == '\n') ? TRUE : FALSE;
    if (bLineStart && strOut.compare(pos + strInclude.size(), 1, "/") != 0) {
      strOut.insert(pos + strInclude.size(), strDir);
    }
  }
  return strOut;
}

}  // namespace

CAgentOptions MakeAgentOptions() {
  CAgentOptions options;
  options.m_strProgram = std::string(KX_BIN_DIR) + "/KxAgent";
  options.m_vecLibraries = {"libKxAgentConfigManager.so", "libKxAgentPluginManager.so", "KxPowerHelper"};
  return options;
}

std::vector<int> AllBuiltInCommandIDs() {
  std::vector<int> vecIDs;
  for (int nID = 0; nID <= 16; ++nID) vecIDs.push_back(nID);
  return vecIDs;
}

std::string BuildSystemConfigXml(const CAgentOptions& options, const std::string& strLogDir) {
  std::ostringstream xml;
  xml << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n"
      << "<system-config>\n"
      << "  <system>\n    <maxcomport>" << options.m_dwMaxComPort << "</maxcomport>\n  </system>\n"
      << "  <comport>\n    <port>" << options.m_dwComPort << "</port>\n"
      << "    <speed>" << options.m_dwComSpeed << "</speed>\n  </comport>\n"
      << "  <output-encoding>" << XmlEscape(options.m_strOutputEncoding) << "</output-encoding>\n"
      << "  <logon-timeout>" << options.m_dwLogonTimeout << "</logon-timeout>\n"
      << "  <eventlog-notification>" << OnOff(options.m_bEventLogNotification)
      << "</eventlog-notification>\n"
      << "  <execution-improper-command>" << (options.m_bHideImproperCommands ? "hidden" : "visible")
      << "</execution-improper-command>\n"
      << "  <cpu-monitoring>" << OnOff(options.m_bCpuMonitoring) << "</cpu-monitoring>\n"
      << "  <script-plugin-support>" << OnOff(options.m_bScriptPluginSupport)
      << "</script-plugin-support>\n"
      << "  <log-setting logdir=\"" << XmlEscape(strLogDir)
      << "\" logfile-limit=\"no\" logfilemaxsize=\"10485760\" logging=\"" << YesNo(options.m_bLogging)
      << "\">\n";
  for (const char* lpSeverity : {"INFO", "WARN", "ERROR", "DEBUG"}) {
    xml << "    <log severity=\"" << lpSeverity << "\" logging=\"" << YesNo(options.m_bLogging)
        << "\"/>\n";
  }
  xml << "  </log-setting>\n"
      << "  <plugin-entry>\n";
  for (const CAgentPlugin& plugin : options.m_vecPlugins) {
    xml << "    <plugin plugin-id=\"" << plugin.m_nPluginID << "\" library=\""
        << XmlEscape(plugin.m_strLibrary) << "\" type=\"" << plugin.m_nType << "\"/>\n";
  }
  xml << "  </plugin-entry>\n"
      << "  <logon-account>\n";
  int nAccountID = 0;
  for (const CAgentAccount& account : options.m_vecAccounts) {
    BOOL bDomain = account.m_strDomain.empty() ? FALSE : TRUE;
    xml << "    <account id=\"" << ++nAccountID << "\" logon=\"" << YesNo(account.m_bLogonAllowed)
        << "\" domain=\"" << YesNo(bDomain) << "\">\n"
        << "      <account-name>" << XmlEscape(account.m_strName) << "</account-name>\n"
        << "      <domain-name>" << XmlEscape(account.m_strDomain) << "</domain-name>\n"
        << "      <allow-commands>\n";
    for (int nID : account.m_vecCommandIDs) xml << "        <command id=\"" << nID << "\"/>\n";
    xml << "      </allow-commands>\n"
        << "    </account>\n";
  }
  xml << "  </logon-account>\n"
      << "</system-config>\n";
  return xml.str();
}

std::string GetExpectedMachineName() {
  char szName[256] = {};
  if (gethostname(szName, sizeof(szName) - 1) != 0) return std::string();
  std::string strName(szName);
  for (char& c : strName) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return strName;
}

std::string EscapeBytes(const std::string& strBytes) {
  std::string strOut;
  char szHex[8];
  for (unsigned char c : strBytes) {
    switch (c) {
      case '\r': strOut += "\\r"; break;
      case '\n': strOut += "\\n"; break;
      case '\t': strOut += "\\t"; break;
      case '\\': strOut += "\\\\"; break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          strOut += static_cast<char>(c);
        } else {
          std::snprintf(szHex, sizeof(szHex), "\\x%02x", c);
          strOut += szHex;
        }
    }
  }
  return strOut;
}

std::string ReadTextFile(const std::string& strPath) {
  std::ifstream file(strPath, std::ios::binary);
  if (!file) return std::string();
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string MakeBanner(const std::string& strNotice) {
  return std::string(kBannerFirstLine) + "\r\n" + strNotice + "\r\n";
}

CAgentHarness::CAgentHarness(const CAgentOptions& options)
    : m_options(options), m_strMachineName(GetExpectedMachineName()) {
  if (!m_options.m_strWinePrefix.empty()) m_strMachineName = m_strMachineName.substr(0, kWineComputerNameLimit);
}

CAgentHarness::~CAgentHarness() {
  // Asked to stop first, so that the agent leaves nothing behind in /tmp
  // (pam_wrapper's directory goes only on a normal exit).
  if (m_pid > 0 && !m_bReaped) Stop(2000, SIGTERM);
  if (m_nMasterFd >= 0) close(m_nMasterFd);
  if (!m_strBaseDir.empty()) {
    if (std::getenv("KX_E2E_KEEP") != nullptr) {
      std::fprintf(stderr, "agent harness: kept %s\n", m_strBaseDir.c_str());
    } else {
      std::error_code error;
      fs::remove_all(m_strBaseDir, error);
    }
  }
}

BOOL CAgentHarness::Fail(const std::string& strWhy) {
  m_strLastError = strWhy;
  return FALSE;
}

BOOL CAgentHarness::Start() {
  if (m_pid > 0) return Fail("already started");
  if (!PrepareBaseDir()) return FALSE;
  if (!OpenTerminal()) return FALSE;
  return Launch();
}

BOOL CAgentHarness::PrepareBaseDir() {
  const char* lpTmp = std::getenv("TMPDIR");
  std::string strTemplate = std::string(lpTmp != nullptr && *lpTmp != '\0' ? lpTmp : "/tmp") +
                            "/kx-e2e-XXXXXX";
  std::vector<char> vecTemplate(strTemplate.begin(), strTemplate.end());
  vecTemplate.push_back('\0');
  if (mkdtemp(vecTemplate.data()) == nullptr) {
    return Fail("mkdtemp " + strTemplate + ": " + std::strerror(errno));
  }
  m_strBaseDir = vecTemplate.data();

  std::error_code error;
  for (const char* lpSub : {"config", "log", "dev", "system", "pam.d", "plugins"}) {
    fs::create_directories(m_strBaseDir + "/" + lpSub, error);
    if (error) return Fail("create " + m_strBaseDir + "/" + lpSub + ": " + error.message());
  }

  // Copies, not links: the program finds its base directory through
  // /proc/self/exe, which resolves links.
  fs::path programPath(m_options.m_strProgram);
  if (!fs::is_regular_file(programPath, error)) {
    return Fail("program not found: " + m_options.m_strProgram);
  }
  m_strProgramPath = m_strBaseDir + "/" + programPath.filename().string();
  fs::copy_file(programPath, m_strProgramPath, fs::copy_options::overwrite_existing, error);
  if (error) return Fail("copy " + m_options.m_strProgram + ": " + error.message());
  for (const std::string& strLibrary : m_options.m_vecLibraries) {
    BOOL bCopied = FALSE;
    for (const fs::directory_entry& entry : fs::directory_iterator(programPath.parent_path(), error)) {
      std::string strName = entry.path().filename().string();
      if (strName.compare(0, strLibrary.size(), strLibrary) != 0) continue;
      fs::copy_file(entry.path(), m_strBaseDir + "/" + strName, fs::copy_options::overwrite_existing,
                    error);
      if (error) return Fail("copy " + entry.path().string() + ": " + error.message());
      bCopied = TRUE;
    }
    if (!bCopied) return Fail("library not found beside the program: " + strLibrary);
  }

  for (const std::string& strFile : m_options.m_vecPluginFiles) {
    fs::path filePath(strFile);
    fs::copy_file(filePath, m_strBaseDir + "/plugins/" + filePath.filename().string(),
                  fs::copy_options::overwrite_existing, error);
    if (error) return Fail("copy " + strFile + ": " + error.message());
  }

  if (m_options.m_bWriteSystemConfig) {
    std::string strLogDir = m_strBaseDir + "/log";
    if (!m_options.m_strWinePrefix.empty()) strLogDir = ToWinePath(strLogDir);
    std::string strXml = m_options.m_strSystemConfigXml.empty() ? BuildSystemConfigXml(m_options, strLogDir)
                                                                : m_options.m_strSystemConfigXml;
    if (!WriteTextFile(m_strBaseDir + "/config/sysconfig.xml", strXml)) {
      return Fail("cannot write sysconfig.xml");
    }
  }

  std::string strPassdb;
  for (const CAgentAccount& account : m_options.m_vecAccounts) {
    if (!account.m_strPassword.empty()) {
      strPassdb += account.m_strName + ":" + account.m_strPassword + ":" + kPamService + "\n";
    }
  }
  for (const CPamUser& user : m_options.m_vecPamOnlyUsers) {
    strPassdb += user.m_strName + ":" + user.m_strPassword + ":" + kPamService + "\n";
  }
  std::string strPassdbPath = m_strBaseDir + "/passdb";
  std::string strModule = std::string(kPamMatrixModule) + " passdb=" + strPassdbPath + "\n";
  std::string strAuth = "auth required " + strModule;
  std::string strAccount = "account required " + strModule;
  std::string strService = m_options.m_strPamService.empty()
                               ? strAuth + strAccount
                               : PlaceIncludesIn(m_options.m_strPamService, m_strBaseDir + "/pam.d/");
  // "other" too: pam_wrapper looks for it and complains on stderr when it is missing.
  if (!WriteTextFile(strPassdbPath, strPassdb) ||
      !WriteTextFile(m_strBaseDir + "/pam.d/" + kPamService, strService) ||
      !WriteTextFile(m_strBaseDir + "/pam.d/other", strAuth + strAccount) ||
      !WriteTextFile(m_strBaseDir + "/pam.d/common-auth", strAuth) ||
      !WriteTextFile(m_strBaseDir + "/pam.d/common-account", strAccount)) {
    return Fail("cannot write the PAM set-up");
  }
  return TRUE;
}

BOOL CAgentHarness::OpenTerminal() {
  std::string strError;
  m_nMasterFd = OpenPtyMaster(&m_strTerminalPath, &strError);
  if (m_nMasterFd < 0) return Fail(strError);
  // The terminal side is raw, like a terminal emulator's line; the marker settings
  // are set through the master, which shares the line settings with the slave.
  struct termios tio;
  if (tcgetattr(m_nMasterFd, &tio) != 0) return Fail(std::string("tcgetattr: ") + std::strerror(errno));
  cfmakeraw(&tio);
  tio.c_cflag |= kMarkerFlags;
  cfsetispeed(&tio, kMarkerSpeed);
  cfsetospeed(&tio, kMarkerSpeed);
  if (tcsetattr(m_nMasterFd, TCSANOW, &tio) != 0) {
    return Fail(std::string("tcsetattr: ") + std::strerror(errno));
  }

  if (m_options.m_bCreateComPort && m_options.m_strDeviceEnvironment.empty()) {
    std::string strPort = std::to_string(m_options.m_dwComPort);
    std::vector<std::pair<std::string, std::string>> vecLinks = {{m_strBaseDir + "/dev/COM" + strPort, m_strTerminalPath}};
    if (!m_options.m_strWinePrefix.empty()) {
      // Wine's device manager links COMn anew whenever it starts: to the path
      // the prefix's registry names for it (<prefix>/terminals/comn, set up with
      // the prefix), else to the machine's /dev/ttyS<n-1>. Both links lead to
      // this terminal, whichever comes last.
      std::string strTerminal = m_options.m_strWinePrefix + "/terminals/com" + strPort;
      mkdir((m_options.m_strWinePrefix + "/terminals").c_str(), 0755);
      vecLinks = {{strTerminal, m_strTerminalPath}, {m_options.m_strWinePrefix + "/dosdevices/com" + strPort, strTerminal}};
    }
    for (const auto& link : vecLinks) {
      unlink(link.first.c_str());  // left by an earlier run
      if (symlink(link.second.c_str(), link.first.c_str()) != 0) {
        return Fail("symlink " + link.first + ": " + std::strerror(errno));
      }
    }
  }
  return TRUE;
}

BOOL CAgentHarness::Launch() {
  // Everything the child needs is built before fork: after it only
  // async-signal-safe calls are made.
  std::vector<std::string> vecArgs;
  if (!m_options.m_strWinePrefix.empty()) vecArgs.push_back(kWineLoader);
  vecArgs.push_back(m_strProgramPath);
  for (const std::string& strArg : m_options.m_vecArguments) vecArgs.push_back(strArg);
  std::vector<char*> vecArgv;
  for (std::string& strArg : vecArgs) vecArgv.push_back(&strArg[0]);
  vecArgv.push_back(nullptr);

  const char* aOverridden[] = {"LD_PRELOAD=", "PAM_WRAPPER=", "PAM_WRAPPER_SERVICE_DIR=",
                               "KX_SYSTEM_ROOT=", "KX_SERIAL_DEVICE=", "KX_BACKEND="};
  std::vector<std::string> vecEnv;
  for (char** pp = environ; *pp != nullptr; ++pp) {
    BOOL bKeep = TRUE;
    for (const char* lpPrefix : aOverridden) {
      if (std::strncmp(*pp, lpPrefix, std::strlen(lpPrefix)) == 0) bKeep = FALSE;
    }
    if (bKeep) vecEnv.push_back(*pp);
  }
  if (m_options.m_strWinePrefix.empty()) {
    vecEnv.push_back(std::string("LD_PRELOAD=") + kPamWrapperLibrary);
    vecEnv.push_back("PAM_WRAPPER=1");
    vecEnv.push_back("PAM_WRAPPER_SERVICE_DIR=" + m_strBaseDir + "/pam.d");
    vecEnv.push_back("KX_BACKEND=" + m_options.m_strBackend);
  } else {
    vecEnv.push_back("WINEPREFIX=" + m_options.m_strWinePrefix);
  }
  vecEnv.push_back("KX_SYSTEM_ROOT=" + m_strBaseDir + "/system");
  std::string strDevice = m_options.m_strDeviceEnvironment;
  std::string::size_type posInstance = strDevice.find("%I");
  if (posInstance != std::string::npos) {
    if (m_strTerminalPath.compare(0, 5, "/dev/") != 0) return Fail("terminal outside /dev: " + m_strTerminalPath);
    strDevice.replace(posInstance, 2, m_strTerminalPath.substr(5));
  }
  if (!strDevice.empty()) vecEnv.push_back(strDevice);
  std::vector<char*> vecEnvp;
  for (std::string& strVar : vecEnv) vecEnvp.push_back(&strVar[0]);
  vecEnvp.push_back(nullptr);

  std::string strOutputPath = m_strBaseDir + "/program-output.txt";
  int nOutputFd = open(strOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (nOutputFd < 0) return Fail("cannot create " + strOutputPath);
  int nNullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_t parent = getpid();

  pid_t pid = fork();
  if (pid < 0) {
    close(nOutputFd);
    if (nNullFd >= 0) close(nNullFd);
    return Fail(std::string("fork: ") + std::strerror(errno));
  }
  if (pid == 0) {
    // Own session: the test's terminal and its signals stay out of it. The program
    // dies with the test process, so a crashed test leaves no agent behind.
    setsid();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);
    if (chdir(m_strBaseDir.c_str()) != 0) _exit(125);
    if (nNullFd >= 0) dup2(nNullFd, 0);
    dup2(nOutputFd, 1);
    dup2(nOutputFd, 2);
    execve(vecArgv[0], vecArgv.data(), vecEnvp.data());
    _exit(127);
  }
  close(nOutputFd);
  if (nNullFd >= 0) close(nNullFd);
  m_pid = pid;
  return TRUE;
}

BOOL CAgentHarness::WaitForPortConfigured(int nTimeoutMs) {
  Clock::time_point deadline = DeadlineIn(nTimeoutMs);
  for (;;) {
    struct termios tio;
    if (tcgetattr(m_nMasterFd, &tio) == 0) {
      if ((tio.c_cflag & kMarkerFlags) != kMarkerFlags || cfgetospeed(&tio) != kMarkerSpeed) {
        // A purge may follow the new settings; input sent before it is lost (the
        // logon screen's line end is repeated if that happens anyway).
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return TRUE;
      }
    }
    if (!IsServing()) return Fail("the program ended before it configured the port");
    if (Clock::now() >= deadline) return Fail("the program did not configure the port in time");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void CAgentHarness::Reap(BOOL bBlock) {
  if (m_pid <= 0 || m_bReaped) return;
  // While the ended agent is still a zombie its process ID cannot be reused,
  // so the pam_wrapper directory it names is surely the agent's own.
  siginfo_t info = {};
  int nWaited;
  do {
    nWaited = waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT | (bBlock ? 0 : WNOHANG));
  } while (nWaited < 0 && errno == EINTR);
  if (nWaited == 0 && info.si_pid == m_pid) RemovePamWrapperDirectory(m_pid);

  int nStatus = 0;
  pid_t result;
  do {
    result = waitpid(m_pid, &nStatus, bBlock ? 0 : WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == m_pid) {
    m_bReaped = TRUE;
    m_nWaitStatus = nStatus;
  } else if (result < 0) {
    m_bReaped = TRUE;  // not our child any more; nothing left to wait for
  }
}

BOOL CAgentHarness::IsRunning() {
  if (m_pid <= 0) return FALSE;
  Reap(FALSE);
  return m_bReaped ? FALSE : TRUE;
}

CExitStatus CAgentHarness::MakeExitStatus() const {
  CExitStatus status;
  if (!m_bReaped) {
    status.m_bTimedOut = TRUE;
  } else if (WIFEXITED(m_nWaitStatus)) {
    status.m_bExited = TRUE;
    status.m_nExitCode = WEXITSTATUS(m_nWaitStatus);
  } else if (WIFSIGNALED(m_nWaitStatus)) {
    status.m_bSignaled = TRUE;
    status.m_nSignal = WTERMSIG(m_nWaitStatus);
  }
  return status;
}

CExitStatus CAgentHarness::WaitForExit(int nTimeoutMs) {
  Clock::time_point deadline = DeadlineIn(nTimeoutMs);
  while (IsRunning() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return MakeExitStatus();
}

CExitStatus CAgentHarness::Stop(int nTimeoutMs, int nSignal) {
  if (m_pid <= 0) return CExitStatus();
  if (IsRunning()) kill(m_pid, nSignal);
  CExitStatus status = WaitForExit(nTimeoutMs);
  if (status.m_bTimedOut) {
    kill(m_pid, SIGKILL);
    Reap(TRUE);
  }
  return status;
}

BOOL CAgentHarness::FillPending(int nWaitMs) {
  if (m_nMasterFd < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(nWaitMs < 10 ? nWaitMs : 10));
    return IsServing();
  }
  struct pollfd pfd = {m_nMasterFd, POLLIN, 0};
  int nReady = poll(&pfd, 1, nWaitMs);
  if (nReady < 0) return errno == EINTR ? TRUE : FALSE;
  if (nReady == 0) return TRUE;
  BOOL bGotData = FALSE;
  char buffer[65536];
  size_t cbAllowed = sizeof(buffer);
  if (m_nReadRate > 0) {
    // A token bucket: the rate, with bursts of at most a tenth of a second.
    std::int64_t llNowUs =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
    m_dReadBudget += static_cast<double>(llNowUs - m_llBudgetTimeUs) * m_nReadRate / 1e6;
    m_llBudgetTimeUs = llNowUs;
    double dBurst = m_nReadRate / 10.0 > 1 ? m_nReadRate / 10.0 : 1;
    if (m_dReadBudget > dBurst) m_dReadBudget = dBurst;
    if (m_dReadBudget < 1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(nWaitMs < 5 ? nWaitMs : 5));
      return TRUE;
    }
    cbAllowed = static_cast<size_t>(m_dReadBudget);
    if (cbAllowed > sizeof(buffer)) cbAllowed = sizeof(buffer);
  }
  for (;;) {
    ssize_t cbRead = read(m_nMasterFd, buffer, cbAllowed);
    if (cbRead > 0) {
      m_strPending.append(buffer, static_cast<size_t>(cbRead));
      AppendTail(&m_strReceivedTail, buffer, static_cast<size_t>(cbRead));
      bGotData = TRUE;
      if (m_nReadRate > 0) {
        m_dReadBudget -= static_cast<double>(cbRead);
        return TRUE;
      }
      continue;
    }
    if (cbRead < 0 && errno == EINTR) continue;
    if (cbRead < 0 && errno == EAGAIN) return TRUE;
    break;  // EIO: nobody holds the slave side open
  }
  if (bGotData) return TRUE;
  // The slave side is closed. While the program lives that is a passing state (it
  // may be reopening the port); wait a little instead of spinning on the hang-up.
  if (!IsServing()) return FALSE;
  std::this_thread::sleep_for(std::chrono::milliseconds(nWaitMs < 10 ? nWaitMs : 10));
  return TRUE;
}

void CAgentHarness::HangUp() {
  if (m_nMasterFd >= 0) close(m_nMasterFd);
  m_nMasterFd = -1;
  m_strPending.clear();
}

BOOL CAgentHarness::Reattach() {
  HangUp();
  return OpenTerminal();
}

void CAgentHarness::SetReadRate(int nBytesPerSecond) {
  m_nReadRate = nBytesPerSecond;
  m_dReadBudget = 0;
  m_llBudgetTimeUs =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

BOOL CAgentHarness::Send(const std::string& strBytes, int nTimeoutMs) {
  if (m_nMasterFd < 0) return Fail("terminal not open");
  Clock::time_point deadline = DeadlineIn(nTimeoutMs);
  size_t nSent = 0;
  while (nSent < strBytes.size()) {
    struct pollfd pfd = {m_nMasterFd, POLLIN | POLLOUT, 0};
    int nReady = poll(&pfd, 1, RemainingMs(deadline));
    if (nReady < 0 && errno != EINTR) return Fail(std::string("poll: ") + std::strerror(errno));
    if (pfd.revents & POLLIN) {
      if (!FillPending(0)) return Fail("the program closed the terminal while input was sent");
    }
    if (pfd.revents & POLLOUT) {
      ssize_t cbWritten = write(m_nMasterFd, strBytes.data() + nSent, strBytes.size() - nSent);
      if (cbWritten > 0) {
        nSent += static_cast<size_t>(cbWritten);
      } else if (cbWritten < 0 && errno != EAGAIN && errno != EINTR) {
        return Fail(std::string("write: ") + std::strerror(errno));
      }
    }
    if ((pfd.revents & (POLLHUP | POLLERR)) && !(pfd.revents & POLLIN)) {
      if (!IsServing()) return Fail("the program ended while input was sent");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (nSent < strBytes.size() && Clock::now() >= deadline) {
      return Fail("time-out: sent " + std::to_string(nSent) + " of " +
                  std::to_string(strBytes.size()) + " bytes");
    }
  }
  return TRUE;
}

CReadResult CAgentHarness::ReadUntil(const std::string& strExpected, int nTimeoutMs) {
  return ReadUntilAny({strExpected}, nullptr, nTimeoutMs);
}

CReadResult CAgentHarness::ReadUntilAny(const std::vector<std::string>& vecExpected, int* pnIndex,
                                        int nTimeoutMs) {
  CReadResult result;
  if (pnIndex != nullptr) *pnIndex = -1;
  Clock::time_point deadline = DeadlineIn(nTimeoutMs);
  size_t nLongest = 0;
  for (const std::string& strExpected : vecExpected) nLongest = std::max(nLongest, strExpected.size());
  size_t nScanFrom = 0;
  BOOL bLastLook = FALSE;
  for (;;) {
    size_t nBestEnd = std::string::npos;
    for (size_t i = 0; i < vecExpected.size(); ++i) {
      size_t nAt = m_strPending.find(vecExpected[i], nScanFrom);
      if (nAt == std::string::npos) continue;
      size_t nEnd = nAt + vecExpected[i].size();
      if (nBestEnd == std::string::npos || nEnd < nBestEnd) {
        nBestEnd = nEnd;
        if (pnIndex != nullptr) *pnIndex = static_cast<int>(i);
      }
    }
    if (nBestEnd != std::string::npos) {
      result.m_bFound = TRUE;
      result.m_strBytes = m_strPending.substr(0, nBestEnd);
      m_strPending.erase(0, nBestEnd);
      return result;
    }
    if (bLastLook) break;
    // Only the tail that could still hold the start of a match needs scanning again.
    nScanFrom = m_strPending.size() >= nLongest ? m_strPending.size() - nLongest + 1 : 0;
    int nLeft = RemainingMs(deadline);
    if (nLeft == 0 || !FillPending(nLeft)) bLastLook = TRUE;
  }
  result.m_strBytes.swap(m_strPending);
  return result;
}

std::string CAgentHarness::ReadFor(int nDurationMs) {
  Clock::time_point deadline = DeadlineIn(nDurationMs);
  for (;;) {
    int nLeft = RemainingMs(deadline);
    if (nLeft == 0 || !FillPending(nLeft)) break;
  }
  std::string strBytes;
  strBytes.swap(m_strPending);
  return strBytes;
}

void CAgentHarness::DiscardPending() { m_strPending.clear(); }

BOOL CAgentHarness::ExpectExactly(const std::string& strExpected, std::string* pstrFailure,
                                  int nTimeoutMs) {
  CReadResult result = ReadUntil(strExpected, nTimeoutMs);
  if (result.m_bFound && result.m_strBytes == strExpected) return TRUE;
  if (pstrFailure != nullptr) {
    *pstrFailure = std::string(result.m_bFound ? "unexpected bytes before the expected ones"
                                               : "expected bytes did not arrive") +
                   "\n  expected: \"" + EscapeBytes(strExpected) + "\"" +
                   "\n  received: \"" + EscapeBytes(result.m_strBytes) + "\"" +
                   (IsRunning() ? "" : "\n  (the program has ended)") + "\n" + Describe();
  }
  return FALSE;
}

CReadResult CAgentHarness::OpenLogonScreen(int nTimeoutMs) {
  const std::string strMarker = "\r\n" + m_strMachineName + " logon: ";
  const int nResendAfterMs = 5000;
  Clock::time_point deadline = DeadlineIn(nTimeoutMs);
  CReadResult result;
  int nExtraLineEnds = 0;
  for (;;) {
    if (!Send("\r", RemainingMs(deadline))) {
      result.m_strBytes += "\n(send failed: " + m_strLastError + ")";
      return result;
    }
    int nStep = RemainingMs(deadline);
    if (nStep > nResendAfterMs) nStep = nResendAfterMs;
    CReadResult part = ReadUntil(strMarker, nStep);
    result.m_strBytes += part.m_strBytes;
    if (part.m_bFound) break;
    if (!result.m_strBytes.empty()) {
      // Something is on its way: give it the rest of the time instead of asking again.
      part = ReadUntil(strMarker, RemainingMs(deadline));
      result.m_strBytes += part.m_strBytes;
      if (!part.m_bFound) return result;
      break;
    }
    if (RemainingMs(deadline) == 0 || !IsServing()) return result;
    ++nExtraLineEnds;
  }
  // A line end repeated because the first came before the program's purge may
  // still have been seen; swallow the screens it produced.
  for (int i = 0; i < nExtraLineEnds; ++i) ReadUntil(strMarker, 5000);

  const std::string strPrefix = "\r\n\r\n" + std::string(kBannerFirstLine) + "\r\n";
  const std::string& strBytes = result.m_strBytes;
  if (strBytes.compare(0, strPrefix.size(), strPrefix) != 0) return result;
  size_t nNoticeEnd = strBytes.find("\r\n", strPrefix.size());
  if (nNoticeEnd == std::string::npos) return result;
  std::string strNotice = strBytes.substr(strPrefix.size(), nNoticeEnd - strPrefix.size());
  if (strNotice.find('\n') != std::string::npos || strNotice.find('\r') != std::string::npos) {
    return result;
  }
  if (strBytes.compare(nNoticeEnd + 2, std::string::npos, strMarker) != 0) return result;
  m_strBanner = MakeBanner(strNotice);
  m_strLogonScreen = "\r\n" + m_strBanner + strMarker;
  result.m_bFound = TRUE;
  return result;
}

BOOL CAgentHarness::Logon(const std::string& strUser, const std::string& strPassword,
                          std::string* pstrFailure) {
  if (!Send(strUser + "\r")) {
    if (pstrFailure != nullptr) *pstrFailure = m_strLastError;
    return FALSE;
  }
  if (!ExpectExactly(strUser + "\r\npassword: ", pstrFailure)) return FALSE;
  if (!Send(strPassword + "\r")) {
    if (pstrFailure != nullptr) *pstrFailure = m_strLastError;
    return FALSE;
  }
  return ExpectExactly("\r\n\r\n" + GetPrompt(strUser), pstrFailure);
}

std::string CAgentHarness::GetPrompt(const std::string& strUser) const {
  return strUser + "@" + m_strMachineName + "> ";
}

CProcessStats CAgentHarness::GetProcessStats() const {
  CProcessStats stats;
  if (m_pid <= 0 || m_bReaped) return stats;
  std::string strProc = "/proc/" + std::to_string(m_pid);
  std::string strStat = ReadTextFile(strProc + "/stat");
  size_t nParen = strStat.rfind(')');
  if (nParen == std::string::npos) return stats;
  // Fields after the command name start with field 3 (state); utime and stime are
  // fields 14 and 15.
  std::istringstream fields(strStat.substr(nParen + 1));
  std::string strField;
  std::uint64_t ullUtime = 0, ullStime = 0;
  for (int nField = 3; nField <= 15 && (fields >> strField); ++nField) {
    if (nField == 14) ullUtime = std::strtoull(strField.c_str(), nullptr, 10);
    if (nField == 15) ullStime = std::strtoull(strField.c_str(), nullptr, 10);
  }
  long lTicks = sysconf(_SC_CLK_TCK);
  if (lTicks <= 0) lTicks = 100;
  stats.m_ullCpuTimeMs = (ullUtime + ullStime) * 1000 / static_cast<std::uint64_t>(lTicks);

  std::istringstream status(ReadTextFile(strProc + "/status"));
  std::string strLine;
  while (std::getline(status, strLine)) {
    if (strLine.compare(0, 6, "VmRSS:") == 0) {
      stats.m_ullRssKb = std::strtoull(strLine.c_str() + 6, nullptr, 10);
    } else if (strLine.compare(0, 6, "VmHWM:") == 0) {
      stats.m_ullPeakRssKb = std::strtoull(strLine.c_str() + 6, nullptr, 10);
    }
  }
  stats.m_bValid = TRUE;
  return stats;
}

std::string CAgentHarness::ReadLogFile(const std::string& strName) const {
  return ReadTextFile(m_strBaseDir + "/log/" + strName);
}

std::string CAgentHarness::ReadAllLogs() const {
  std::string strAll;
  for (const char* lpName : {"info.log", "warning.log", "error.log", "debug.log"}) {
    strAll += ReadLogFile(lpName);
  }
  return strAll;
}

std::string CAgentHarness::ReadProgramOutput() const {
  return ReadTextFile(m_strBaseDir + "/program-output.txt");
}

std::string CAgentHarness::Describe() const {
  std::string strOutput = ReadProgramOutput();
  if (strOutput.size() > 2000) strOutput.erase(0, strOutput.size() - 2000);
  return "last bytes received: \"" + EscapeBytes(m_strReceivedTail) + "\"\nprogram output: \"" +
         EscapeBytes(strOutput) + "\"\nbase directory: " + m_strBaseDir;
}

}  // namespace e2e
}  // namespace kx
