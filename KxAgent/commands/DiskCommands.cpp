#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "KxAgentLog.h"
#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/Writer.h"
#include "commands/HandlerSupport.h"
#include "commands/SystemCommands.h"
#include "platform/error_codes.h"
#include "platform/volumes.h"

namespace {

const char* const kTraceSource = "show diskinfo";
// The drive-list and file-system name buffers.
const DWORD kInfoBufferSize = 1024;
const std::size_t kDisplayNameColumn = 24;


void Trace(const DiskTraceSink& trace, const char* lpFormat, ...) __attribute__((format(printf, 2, 3)));

void Trace(const DiskTraceSink& trace, const char* lpFormat, ...) {
  char szText[2048];
  va_list args;
  va_start(args, lpFormat);
  std::vsnprintf(szText, sizeof(szText), lpFormat, args);
  va_end(args);
  trace(szText);
}

std::uint64_t Percent(std::uint64_t qwPart, std::uint64_t qwTotal) {
  return (qwPart == 0 || qwTotal == 0) ? 0 : qwPart * 100 / qwTotal;
}

}  // namespace

DWORD CVolumeQuery::GetLogicalDriveStrings(DWORD dwBufferLength, char* lpBuffer) {
  return kx::GetDriveRootStrings(dwBufferLength, lpBuffer);
}

DWORD CVolumeQuery::GetDriveType(const char* lpRoot) { return kx::GetDriveRootType(lpRoot); }

BOOL CVolumeQuery::GetFileSystemName(const char* lpRoot, char* lpName, DWORD dwSize) {
  return kx::GetVolumeFileSystemName(lpRoot, lpName, dwSize) == ERROR_SUCCESS;
}

BOOL CVolumeQuery::GetDiskFreeSpaceEx(const char* lpRoot, std::uint64_t* pqwFreeToCaller,
                                      std::uint64_t* pqwTotal, std::uint64_t* pqwFree) {
  return kx::GetDriveFreeSpace(lpRoot, pqwFreeToCaller, pqwTotal, pqwFree) == ERROR_SUCCESS;
}

BOOL CVolumeQuery::GetDisplayName(const char* lpRoot, char* lpName, DWORD dwSize) {
  return kx::GetVolumeDisplayName(lpRoot, lpName, dwSize) == ERROR_SUCCESS;
}

std::string UpperCaseCp932(const char* lpText) {
  std::string strText = lpText ? lpText : "";
  for (std::size_t i = 0; i < strText.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(strText[i]);
    if (IsCp932LeadByte(c) && i + 1 < strText.size()) {
      ++i;  // the trail byte may look like a lower-case letter
    } else if (c >= 'a' && c <= 'z') {
      strText[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
  return strText;
}

std::string GetDriveColumn(const char* lpRoot) {
  std::string strRoot = lpRoot ? lpRoot : "";
  if (strRoot.size() > 1 && (strRoot.back() == '\\' || strRoot.back() == '/')) strRoot.pop_back();
  return strRoot;
}

std::string FormatDiskInfoLine(const char* lpRoot, const char* lpDisplayName, const char* lpFileSystem,
                               std::uint64_t qwTotal, std::uint64_t qwFree) {
  // A file system may report more free than total blocks while it changes.
  std::uint64_t qwUsed = qwTotal >= qwFree ? qwTotal - qwFree : 0;
  char szLine[1024];
  std::snprintf(szLine, sizeof(szLine), "%-3s %-24s %-6s %8llu %8llu [%3llu%%] %8llu [%3llu%%]",
                GetDriveColumn(lpRoot).c_str(), CutCp932(lpDisplayName, kDisplayNameColumn).c_str(),
                lpFileSystem, static_cast<unsigned long long>(qwTotal >> 20),
                static_cast<unsigned long long>(qwUsed >> 20),
                static_cast<unsigned long long>(Percent(qwUsed, qwTotal)),
                static_cast<unsigned long long>(qwFree >> 20),
                static_cast<unsigned long long>(Percent(qwFree, qwTotal)));
  return MaskControlCharacters(std::string(szLine));
}

int ShowDiskInfo(CWriter& writer, const char* lpOption, CVolumeQuery& volumes, const DiskTraceSink& trace) {
  std::string strOption = UpperCaseCp932(lpOption);
  if (strOption != "HDD" && strOption != "ALL") {
    writer.WriteLine("[Error] Invalid option! (OPTION=hdd|all)");
    return 0;
  }
  bool bAll = strOption == "ALL";
  writer.WriteLine("Drv Volume Label             FSType Total(M)          Use(M)         Free(M)");
  writer.WriteLine("--- ------------------------ ------ -------- --------------- ---------------");

  // Nothing on this system raises error dialogs; the trace keeps its place.
  Trace(trace, "::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)");
  Trace(trace, "::GetLogicalDriveStrings(INFOBUF_SIZE, szDrives)");
  std::vector<char> drives(kInfoBufferSize, '\0');
  DWORD dwLength = volumes.GetLogicalDriveStrings(kInfoBufferSize, drives.data());
  // More roots than the buffer holds (many mount points): take them all in a
  // buffer of the size asked for rather than list nothing.
  for (int nTry = 0; nTry < 3 && dwLength > drives.size(); ++nTry) {
    drives.assign(static_cast<std::size_t>(dwLength) + 1, '\0');
    dwLength = volumes.GetLogicalDriveStrings(static_cast<DWORD>(drives.size()), drives.data());
  }
  if (dwLength > drives.size()) dwLength = 0;
  drives.push_back('\0');
  drives.push_back('\0');
  Trace(trace, "::GetLogicalDriveStrings() return code=%ld, szDrives=\"%s\"", static_cast<long>(dwLength),
        drives.data());

  for (const char* lpRoot = drives.data(); dwLength != 0 && *lpRoot != '\0';
       lpRoot += std::strlen(lpRoot) + 1) {
    Trace(trace, "::GetDriveType(\"%s\")", lpRoot);
    DWORD dwType = volumes.GetDriveType(lpRoot);
    if (!bAll && dwType != DRIVE_FIXED) continue;
    char szFileSystem[kInfoBufferSize];
    szFileSystem[0] = '\0';
    if (dwType == DRIVE_FIXED) {
      Trace(trace, "::GetVolumeInformation(\"%s\", 0, 0, 0, 0, 0, szFSType, INFOBUF_SIZE)", lpRoot);
      BOOL bResult = volumes.GetFileSystemName(lpRoot, szFileSystem, sizeof(szFileSystem));
      if (!bResult) szFileSystem[0] = '\0';
      Trace(trace, "::GetVolumeInformation() return code=%d, szFSType=\"%s\"", bResult ? 1 : 0, szFileSystem);
    }
    Trace(trace,
          "::GetDiskFreeSpaceEx(\"%s\", (PULARGE_INTEGER)&i64FreeBytesToCaller, "
          "(PULARGE_INTEGER)&i64TotalBytes, "
          "(PULARGE_INTEGER)&i64FreeBytes)",
          lpRoot);
    std::uint64_t qwFreeToCaller = 0, qwTotal = 0, qwFree = 0;
    BOOL bSizes = volumes.GetDiskFreeSpaceEx(lpRoot, &qwFreeToCaller, &qwTotal, &qwFree);
    if (!bSizes) qwFreeToCaller = qwTotal = qwFree = 0;
    Trace(trace,
          "::GetDiskFreeSpaceEx() return code=%d, i64FreeBytesToCaller=%llu, i64TotalBytes=%llu, "
          "i64FreeBytes=%llu",
          bSizes ? 1 : 0, static_cast<unsigned long long>(qwFreeToCaller),
          static_cast<unsigned long long>(qwTotal), static_cast<unsigned long long>(qwFree));
    Trace(trace, "::SHGetFileInfo(\"%s\", 0, &shFileInfo, sizeof(SHFILEINFO), SHGFI_DISPLAYNAME)", lpRoot);
    char szDisplayName[260];
    if (!volumes.GetDisplayName(lpRoot, szDisplayName, sizeof(szDisplayName))) szDisplayName[0] = '\0';
    writer.WriteLine(FormatDiskInfoLine(lpRoot, szDisplayName, szFileSystem, qwTotal, qwFree).c_str());
  }
  Trace(trace, "::SetErrorMode(uOldErrorMode)");
  Trace(trace, "show diskinfo finish.");
  return 1;
}

int CmdShowDiskInfo(CAgentContext& /*context*/, CWriter& writer, CKxAgentCommandArgument& argument) {
  const char* lpOption = ArgumentText(argument, "OPTION");
  CKxAgentLog::LogInfo(kCommandExecute, "show diskinfo %s", lpOption);
  CVolumeQuery volumes;
  return ShowDiskInfo(writer, lpOption, volumes,
                      [](const char* lpText) { CKxAgentLog::LogDebugText(kTraceSource, lpText); });
}
