#include <cstdio>
#include <cstring>

#include "AgentContext.h"
#include "ConsoleSession.h"
#include "EventLogManager.h"
#include "KxAgentLog.h"
#include "KxAgentPluginManager/BuiltInCommand.h"
#include "SerialComm.h"
#include "commands/BuiltInHandlers.h"
#include "commands/EventLogCommands.h"
#include "commands/HandlerSupport.h"
#include "commands/PowerCommands.h"
#include "commands/SystemCommands.h"
#include "platform/sync.h"
#include "platform/system_info.h"

namespace {

// Versions 6.0 and later: one client and one server name per version, and
// within 10.0 the first build of each release.
struct LaterSystem {
  unsigned long dwMajor, dwMinor, dwFirstBuild;
  const char* lpClient;
  const char* lpServer;
};

const LaterSystem kLaterSystems[] = {
    // Highest first: the first row whose version matches and whose first
    // build the system has reached names it.
    {10, 0, 26100, "Windows 11", "Windows Server 2025"},
    {10, 0, 22000, "Windows 11", "Windows Server 2022"},
    {10, 0, 20348, "Windows 10", "Windows Server 2022"},
    {10, 0, 17763, "Windows 10", "Windows Server 2019"},
    {10, 0, 0, "Windows 10", "Windows Server 2016"},
    {6, 3, 0, "Windows 8.1", "Windows Server 2012 R2"},
    {6, 2, 0, "Windows 8", "Windows Server 2012"},
    {6, 1, 0, "Windows 7", "Windows Server 2008 R2"},
    {6, 0, 0, "Windows Vista", "Windows Server 2008"},
};

}  // namespace

const char* GetOSName(unsigned long dwPlatformId, unsigned long dwMajor, unsigned long dwMinor,
                      int nProductType, unsigned int nSuiteMask, unsigned long dwBuildNumber) {
  const unsigned int kSuiteEnterprise = 0x02;
  const unsigned int kSuiteDatacenter = 0x80;
  const unsigned int kSuitePersonal = 0x200;
  const unsigned int kSuiteBlade = 0x400;
  const int kWorkstation = 1;

  if (dwPlatformId == 1 && dwMajor == 4) {
    if (dwMinor == 0) return "Windows 95";
    if (dwMinor == 10) return "Windows 98";
    if (dwMinor == 90) return "Windows Me";
    return "Unknown";
  }
  if (dwPlatformId != 2) return "Unknown";
  if (dwMajor == 3 && dwMinor == 51) return "Windows NT 3.51";
  if (dwMajor == 4 && dwMinor == 0) return "Windows NT 4.0";
  if (dwMajor >= 6) {
    for (const LaterSystem& system : kLaterSystems) {
      if (system.dwMajor == dwMajor && system.dwMinor == dwMinor && dwBuildNumber >= system.dwFirstBuild) {
        return nProductType == kWorkstation ? system.lpClient : system.lpServer;
      }
    }
    return "Unknown";
  }
  if (dwMajor != 5) return "Unknown";
  if (dwMinor == 0) {
    if (nProductType == kWorkstation) return "Windows 2000 Professional";
    if (nSuiteMask & kSuiteDatacenter) return "Windows 2000 Data Center Server";
    if (nSuiteMask & kSuiteEnterprise) return "Windows 2000 Advanced Server";
    return "Windows 2000 Server";
  }
  if (dwMinor == 1) {
    if (nSuiteMask & kSuitePersonal) return "Windows XP Home Edition";
    return "Windows XP Professional";
  }
  if (dwMinor == 2) {
    if (nSuiteMask & kSuiteDatacenter) return "Windows Server 2003, Datacenter Edition";
    if (nSuiteMask & kSuiteEnterprise) return "Windows Server 2003, Enterprise Edition";
    if (nSuiteMask & kSuiteBlade) return "Windows Server 2003, Web Edition";
    return "Windows Server 2003";
  }
  return "Unknown";
}

std::string FormatMemoryLine(const char* lpLabel, std::uint64_t qwTotal, std::uint64_t qwAvailable) {
  // A machine without a page file reports a total of 0: show 0 % rather than divide by it.
  int nPercent = qwTotal == 0 ? 0 : static_cast<int>(qwAvailable * 100.0 / qwTotal);
  char szLine[256];
  std::snprintf(szLine, sizeof(szLine), " %-16s: %7ld KB (Available : %7ld KB [%3d%%])", lpLabel,
                static_cast<long>(qwTotal >> 10), static_cast<long>(qwAvailable >> 10), nPercent);
  return szLine;
}

int CmdShowVersion(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& /*argument*/) {
  CKxAgentLog::LogInfo(kCommandExecute, "show version");

  writer.WriteLine(CConsoleSession::GetBanner());
  WriteFormattedLine(writer, " Machine Name    : %s", context.GetMachineName(1));

  kx::OS_VERSION_INFO version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  kx::QueryOsVersion(&version);
  // Names the system reports are shown through the same filter as the machine
  // name: whoever can name the system must not be able to steer the terminal.
  MaskControlCharacters(version.szCSDVersion);
  std::string strSystem;
  std::string strEdition;
  if (kx::QueryOsDisplayName(&strSystem, &strEdition)) {
    strSystem = MaskControlCharacters(strSystem);
    strEdition = MaskControlCharacters(strEdition);
    // Not Windows: the system's own name and edition stand in the Windows
    // version's place.
    WriteFormattedLine(writer, " OS Version      : %s %lu.%lu.%lu (%s)", strSystem.c_str(),
                       static_cast<unsigned long>(version.dwMajorVersion),
                       static_cast<unsigned long>(version.dwMinorVersion),
                       static_cast<unsigned long>(version.dwBuildNumber), strEdition.c_str());
  } else {
    WriteFormattedLine(writer, " OS Version      : %s %lu.%lu.%lu (%s)",
                       version.dwPlatformId == 2 ? "Windows NT" : "Windows",
                       static_cast<unsigned long>(version.dwMajorVersion),
                       static_cast<unsigned long>(version.dwMinorVersion),
                       static_cast<unsigned long>(version.dwBuildNumber),
                       GetOSName(version.dwPlatformId, version.dwMajorVersion,
                                 version.dwMinorVersion, version.wProductType, version.wSuiteMask,
                                 version.dwBuildNumber));
  }
  WriteFormattedLine(writer, " Service Pack    : %s",
                     version.szCSDVersion[0] == '\0' ? "Not installed" : version.szCSDVersion);
  writer.WriteChar('\n');

  kx::MEMORYSTATUS memory = {};
  memory.dwLength = sizeof(memory);
  kx::QueryMemoryStatus(&memory);
  writer.WriteLine(FormatMemoryLine("Physical Memory", memory.ullTotalPhys, memory.ullAvailPhys).c_str());
  writer.WriteLine(FormatMemoryLine("Page File", memory.ullTotalPageFile, memory.ullAvailPageFile).c_str());
  writer.WriteChar('\n');

  writer.WriteLine(" [Current Settings]");
  WriteFormattedLine(writer, " -- Logon Timeout         : %d seconds",
                     static_cast<int>(context.GetSessionTimeout() / 1000));
  WriteFormattedLine(writer, " -- Eventlog Notification : %s",
                     context.IsEventLogNotification() ? "On" : "Off");
  writer.WriteChar('\n');
  return 1;
}

int CmdShowDate(CAgentContext& /*context*/, CWriter& writer, CKxAgentCommandArgument& /*argument*/) {
  CKxAgentLog::LogInfo(kCommandExecute, "show date");
  kx::SYSTEMTIME local;
  kx::SYSTEMTIME utc;
  kx::GetLocalTime(&local);
  kx::GetSystemTime(&utc);
  WriteFormattedLine(writer, " Local Time : %d-%02d-%02d %02d:%02d:%02d", local.wYear, local.wMonth,
                     local.wDay, local.wHour, local.wMinute, local.wSecond);
  WriteFormattedLine(writer, " System Time: %d-%02d-%02d %02d:%02d:%02d", utc.wYear, utc.wMonth,
                     utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
  writer.WriteChar('\n');
  return 1;
}

int CmdSetEncoding(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument) {
  const char* lpEncoding = ArgumentText(argument, "ENCODING");
  CKxAgentLog::LogInfo(kCommandExecute, "set encoding %s", lpEncoding);
  if (std::strcmp(lpEncoding, "sjis") == 0) {
    if (context.GetSerialComm() != nullptr) context.GetSerialComm()->SetEncoding(1);
    writer.WriteLine("Encoding changed to Shift-JIS.");
  } else if (std::strcmp(lpEncoding, "eucjp") == 0) {
    if (context.GetSerialComm() != nullptr) context.GetSerialComm()->SetEncoding(2);
    writer.WriteLine("Encoding changed to EUC-JP.");
  }
  return 1;
}

int CmdSetTimeout(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument) {
  const char* lpSeconds = ArgumentText(argument, "SEC");
  CKxAgentLog::LogInfo(kCommandExecute, "set timeout %s", lpSeconds);
  unsigned long dwSeconds = ParseNumber(lpSeconds);
  if (dwSeconds > 3600) {
    writer.WriteLine("[Error] Please input an integer between 0 and 3600 into 'SEC'.");
    return 1;
  }
  context.SetSessionTimeout(static_cast<DWORD>(dwSeconds * 1000));
  return 1;
}

int CmdSetEventLogNotification(CAgentContext& context, CWriter& /*writer*/, CKxAgentCommandArgument& argument) {
  const char* lpSwitch = ArgumentText(argument, "SWITCH");
  CKxAgentLog::LogInfo(kCommandExecute, "set eventlog notification %s", lpSwitch);
  if (std::strcmp(lpSwitch, "on") == 0) {
    context.SetEventLogNotification(1);
  } else if (std::strcmp(lpSwitch, "off") == 0) {
    context.SetEventLogNotification(0);
  }
  return 1;
}

int CmdDosPrompt(CAgentContext& context, CWriter& /*writer*/, CKxAgentCommandArgument& /*argument*/) {
  CKxAgentLog::LogInfo(kCommandExecute, "dosprompt");
  context.RunCommandPrompt();
  return 1;
}

int CmdLogoff(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& /*argument*/) {
  CKxAgentLog::LogInfo(kCommandExecute, "logoff");
  context.Logoff();
  writer.WriteChar('\n');
  return 1;
}
