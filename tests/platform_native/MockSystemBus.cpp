#include "MockSystemBus.h"

#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace {

const char kMockInterface[] = "org.freedesktop.DBus.Mock";
const long long kStartDeadlineMs = 15000;

const char kSystemdPath[] = "/org/freedesktop/systemd1";
const char kSystemdManager[] = "org.freedesktop.systemd1.Manager";
const char kSystemdUnit[] = "org.freedesktop.systemd1.Unit";
const char kLogindPath[] = "/org/freedesktop/login1";
const char kLogindManager[] = "org.freedesktop.login1.Manager";

// LoadUnit answers as systemd's GetUnit does for a name it does not know.
const char kLoadUnitCode[] =
    "if args[0] not in self.units:\n"
    "    raise dbus.exceptions.DBusException('Unit ' + args[0] + ' not found.', "
    "name='org.freedesktop.systemd1.NoSuchUnit')\n"
    "ret = self.units[args[0]]\n";
// Like systemd, lists the units that are loaded: here the ones not inactive.
const char kListUnitsCode[] =
    "ret = [(n, objects[p].props['org.freedesktop.systemd1.Unit'].get('Description', ''), "
    "objects[p].props['org.freedesktop.systemd1.Unit']['LoadState'], "
    "objects[p].props['org.freedesktop.systemd1.Unit']['ActiveState'], 'running', '', p, dbus.UInt32(0), '', '/') "
    "for n, p in self.units.items() "
    "if objects[p].props['org.freedesktop.systemd1.Unit']['ActiveState'] != 'inactive']\n";
const char kListUnitFilesCode[] =
    "ret = [('/lib/systemd/system/' + n, str(objects[p].props['org.freedesktop.systemd1.Unit']"
    ".get('UnitFileState', ''))) for n, p in self.units.items()] + "
    "[('/lib/systemd/system/getty@.service', 'enabled'), ('/lib/systemd/system/ssh.socket', 'enabled')]\n";

// The property is set directly: the mock's UpdateProperties cannot take a struct.
const char kScheduleCode[] =
    "self.props['org.freedesktop.login1.Manager']['ScheduledShutdown'] = "
    "dbus.Struct((str(args[0]), dbus.UInt64(int(args[1]))), signature='st')\n";
const char kCancelCode[] =
    "ret = self.props['org.freedesktop.login1.Manager']['ScheduledShutdown'][0] != ''\n"
    "self.props['org.freedesktop.login1.Manager']['ScheduledShutdown'] = "
    "dbus.Struct(('', dbus.UInt64(0)), signature='st')\n";

long long NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

void StopProcess(pid_t* pPid) {
  if (*pPid <= 0) return;
  kill(*pPid, SIGTERM);
  int nStatus = 0;
  waitpid(*pPid, &nStatus, 0);
  *pPid = 0;
}

}  // namespace

CMockSystemBus::~CMockSystemBus() { Stop(); }

std::string CMockSystemBus::GetUnitPath(std::string strUnitName) {
  for (char& c : strUnitName) {
    if (c == '.' || c == '-') c = '_';
  }
  return std::string(kSystemdPath) + "/unit/" + strUnitName;
}

bool CMockSystemBus::StartSystemd(const std::vector<MOCK_UNIT>& units, const char* lpAddress) {
  if (!Start("systemd", lpAddress) ||
      !AddMethod(kSystemdPath, kSystemdManager, "LoadUnit", "s", "o", kLoadUnitCode) ||
      !AddMethod(kSystemdPath, kSystemdManager, "ListUnits", "", "a(ssssssouso)", kListUnitsCode) ||
      !AddMethod(kSystemdPath, kSystemdManager, "ListUnitFiles", "", "a(ss)", kListUnitFilesCode)) {
    return false;
  }
  for (const MOCK_UNIT& unit : units) {
    if (!CallMock(kSystemdPath, "AddMockUnit", unit.lpName)) return false;
    std::string strPath = GetUnitPath(unit.lpName);
    if (unit.lpDescription != nullptr &&
        !AddStringProperty(strPath.c_str(), kSystemdUnit, "Description", unit.lpDescription)) {
      return false;
    }
    if (!AddStringProperty(strPath.c_str(), kSystemdUnit, "UnitFileState", unit.lpUnitFileState)) return false;
    std::string strUpdate = "objects['" + strPath + "'].UpdateProperties('" + kSystemdUnit + "', {'ActiveState': '" +
                            unit.lpActiveState + "', 'LoadState': '" + unit.lpLoadState + "'})";
    Evaluate(strUpdate.c_str());
  }
  return true;
}

bool CMockSystemBus::StartLogind(const char* lpAddress) {
  if (!Start("logind", lpAddress)) return false;
  Evaluate("self.AddProperty('org.freedesktop.login1.Manager', 'ScheduledShutdown', "
           "dbus.Struct(('', dbus.UInt64(0)), signature='st'))");
  return AddMethod(kLogindPath, kLogindManager, "ScheduleShutdown", "st", "", kScheduleCode) &&
         AddMethod(kLogindPath, kLogindManager, "CancelScheduledShutdown", "", "b", kCancelCode);
}

void CMockSystemBus::Stop() {
  if (m_pBus != nullptr) sd_bus_flush_close_unref(m_pBus);
  m_pBus = nullptr;
  m_bEvaluateAdded = false;
  StopProcess(&m_mockPid);
  if (m_daemonPid <= 0) return;
  // Forked away, so not our child to reap: wait until it is gone.
  kill(m_daemonPid, SIGTERM);
  long long llDeadline = NowMs() + kStartDeadlineMs;
  while (kill(m_daemonPid, 0) == 0 && NowMs() < llDeadline) {
    struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  m_daemonPid = 0;
}

bool CMockSystemBus::StartDaemon(const char* lpAddress) {
  // The daemon forks once it listens and prints its address and process id.
  std::string strCommand = "dbus-daemon --session --fork --print-address=1 --print-pid=1";
  if (lpAddress != nullptr) strCommand += std::string(" '--address=") + lpAddress + "'";
  FILE* pOutput = popen(strCommand.c_str(), "r");
  if (pOutput == nullptr) {
    m_strError = "cannot run dbus-daemon";
    return false;
  }
  char szLine[512] = "";
  if (std::fgets(szLine, sizeof(szLine), pOutput) != nullptr) m_strAddress = szLine;
  if (std::fgets(szLine, sizeof(szLine), pOutput) != nullptr) m_daemonPid = static_cast<pid_t>(std::atol(szLine));
  pclose(pOutput);
  while (!m_strAddress.empty() && (m_strAddress.back() == '\n' || m_strAddress.back() == '\r')) m_strAddress.pop_back();
  if (m_strAddress.empty() || m_daemonPid <= 0) {
    m_strError = "dbus-daemon printed no address";
    return false;
  }
  return true;
}

void CMockSystemBus::ShareBusOf(const CMockSystemBus& other) { m_strSharedAddress = other.m_strAddress; }

bool CMockSystemBus::Start(const char* lpTemplate, const char* lpAddress) {
  if (!m_strSharedAddress.empty()) {
    m_strAddress = m_strSharedAddress;
  } else if (!StartDaemon(lpAddress)) {
    return false;
  }

  std::string strTemplate = lpTemplate;
  m_strDestination = strTemplate == "logind" ? "org.freedesktop.login1" : "org.freedesktop.systemd1";
  m_strMainPath = strTemplate == "logind" ? "/org/freedesktop/login1" : "/org/freedesktop/systemd1";
  std::vector<std::string> args = {"/usr/bin/python3", "-m", "dbusmock", "--session", "--template", strTemplate};
  std::vector<char*> argv;
  for (std::string& strArg : args) argv.push_back(&strArg[0]);
  argv.push_back(nullptr);
  std::vector<std::string> environment;
  for (char** p = environ; *p != nullptr; ++p) {
    if (std::strncmp(*p, "DBUS_SESSION_BUS_ADDRESS=", 25) != 0) environment.push_back(*p);
  }
  environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + m_strAddress);
  std::vector<char*> envp;
  for (std::string& strVariable : environment) envp.push_back(&strVariable[0]);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  int nResult = posix_spawn(&m_mockPid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (nResult != 0) {
    m_mockPid = 0;
    m_strError = "cannot run python3 -m dbusmock";
    return false;
  }

  if (sd_bus_new(&m_pBus) < 0 || sd_bus_set_address(m_pBus, m_strAddress.c_str()) < 0 ||
      sd_bus_set_bus_client(m_pBus, 1) < 0 || sd_bus_start(m_pBus) < 0) {
    m_strError = "cannot connect to the private bus";
    return false;
  }
  // Ready once the mock owns its name.
  long long llDeadline = NowMs() + kStartDeadlineMs;
  for (;;) {
    sd_bus_message* pReply = nullptr;
    int nHasOwner = 0;
    if (sd_bus_call_method(m_pBus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", nullptr, &pReply, "s", m_strDestination.c_str()) >= 0) {
      sd_bus_message_read(pReply, "b", &nHasOwner);
    }
    sd_bus_message_unref(pReply);
    if (nHasOwner) return true;
    int nStatus = 0;
    if (waitpid(m_mockPid, &nStatus, WNOHANG) == m_mockPid) {
      m_mockPid = 0;
      m_strError = "dbusmock ended before it owned " + m_strDestination;
      return false;
    }
    if (NowMs() > llDeadline) {
      m_strError = "dbusmock did not own " + m_strDestination + " in time";
      return false;
    }
    // Waits on the bus for the name to appear rather than sleeping blind.
    sd_bus_wait(m_pBus, 50000);
    sd_bus_process(m_pBus, nullptr);
  }
}

bool CMockSystemBus::Call(const char* lpPath, const char* lpInterface, const char* lpMethod, const char* lpTypes,
                          ...) {
  sd_bus_message* pCall = nullptr;
  sd_bus_message* pReply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int nResult = sd_bus_message_new_method_call(m_pBus, &pCall, m_strDestination.c_str(), lpPath, lpInterface, lpMethod);
  if (nResult >= 0) {
    va_list args;
    va_start(args, lpTypes);
    nResult = sd_bus_message_appendv(pCall, lpTypes, args);
    va_end(args);
  }
  if (nResult >= 0) nResult = sd_bus_call(m_pBus, pCall, 0, &error, &pReply);
  if (nResult < 0) m_strError = std::string(lpMethod) + ": " + (error.message != nullptr ? error.message : "failed");
  sd_bus_error_free(&error);
  sd_bus_message_unref(pReply);
  sd_bus_message_unref(pCall);
  return nResult >= 0;
}

bool CMockSystemBus::AddMethod(const char* lpPath, const char* lpInterface, const char* lpName,
                               const char* lpInSignature, const char* lpOutSignature, const char* lpCode) {
  return Call(lpPath, kMockInterface, "AddMethod", "sssss", lpInterface, lpName, lpInSignature, lpOutSignature, lpCode);
}

bool CMockSystemBus::AddStringProperty(const char* lpPath, const char* lpInterface, const char* lpName,
                                       const char* lpValue) {
  return Call(lpPath, kMockInterface, "AddProperty", "ssv", lpInterface, lpName, "s", lpValue);
}

bool CMockSystemBus::CallMock(const char* lpPath, const char* lpMethod, const char* lpArgument) {
  return Call(lpPath, kMockInterface, lpMethod, "s", lpArgument);
}

std::string CMockSystemBus::GetStringProperty(const char* lpPath, const char* lpInterface, const char* lpName) {
  char* lpValue = nullptr;
  if (sd_bus_get_property_string(m_pBus, m_strDestination.c_str(), lpPath, lpInterface, lpName, nullptr, &lpValue) < 0) {
    return std::string();
  }
  std::string strValue = lpValue;
  std::free(lpValue);
  return strValue;
}

std::string CMockSystemBus::Evaluate(const char* lpExpression) {
  const char kTestInterface[] = "org.example.MockTest";
  if (!m_bEvaluateAdded) {
    m_bEvaluateAdded = AddMethod(m_strMainPath.c_str(), kTestInterface, "Evaluate", "s", "s", "ret = str(eval(args[0]))");
  }
  sd_bus_message* pReply = nullptr;
  std::string strValue;
  if (sd_bus_call_method(m_pBus, m_strDestination.c_str(), m_strMainPath.c_str(), kTestInterface, "Evaluate", nullptr,
                         &pReply, "s", lpExpression) >= 0) {
    const char* lpValue = nullptr;
    if (sd_bus_message_read(pReply, "s", &lpValue) >= 0 && lpValue != nullptr) strValue = lpValue;
  }
  sd_bus_message_unref(pReply);
  return strValue;
}
