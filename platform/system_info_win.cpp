#include "platform/windows_win.h"

#include <cstring>

#include "platform/system_info.h"

namespace kx {
namespace {

DWORD Saturate(unsigned long long ullValue) {
  return ullValue > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(ullValue);
}

}  // namespace

std::string QueryComputerName() {
  char szName[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD dwSize = sizeof(szName);
  if (!::GetComputerNameA(szName, &dwSize)) return std::string();
  return std::string(szName, dwSize);
}

BOOL QueryOsVersion(OS_VERSION_INFO* lpInfo) {
  if (lpInfo == nullptr) return FALSE;
  std::memset(lpInfo, 0, sizeof(*lpInfo));
  lpInfo->dwOSVersionInfoSize = sizeof(*lpInfo);
  OSVERSIONINFOEXA info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  BOOL bOk = ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info));
#pragma GCC diagnostic pop
  if (!bOk) return FALSE;
  lpInfo->dwMajorVersion = info.dwMajorVersion;
  lpInfo->dwMinorVersion = info.dwMinorVersion;
  lpInfo->dwBuildNumber = info.dwBuildNumber;
  lpInfo->dwPlatformId = info.dwPlatformId;
  std::memcpy(lpInfo->szCSDVersion, info.szCSDVersion, sizeof(lpInfo->szCSDVersion));
  lpInfo->szCSDVersion[sizeof(lpInfo->szCSDVersion) - 1] = '\0';
  lpInfo->wServicePackMajor = info.wServicePackMajor;
  lpInfo->wServicePackMinor = info.wServicePackMinor;
  lpInfo->wSuiteMask = info.wSuiteMask;
  lpInfo->wProductType = info.wProductType;
  return TRUE;
}

BOOL QueryOsDisplayName(std::string* /*pstrSystem*/, std::string* /*pstrEdition*/) { return FALSE; }

BOOL QueryMemoryStatus(MEMORYSTATUS* lpStatus) {
  if (lpStatus == nullptr) return FALSE;
  std::memset(lpStatus, 0, sizeof(*lpStatus));
  lpStatus->dwLength = sizeof(*lpStatus);
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  if (!::GlobalMemoryStatusEx(&status)) return FALSE;
  lpStatus->dwMemoryLoad = status.dwMemoryLoad;
  lpStatus->ullTotalPhys = status.ullTotalPhys;
  lpStatus->ullAvailPhys = status.ullAvailPhys;
  lpStatus->ullTotalPageFile = status.ullTotalPageFile;
  lpStatus->ullAvailPageFile = status.ullAvailPageFile;
  lpStatus->dwTotalPhys = Saturate(status.ullTotalPhys);
  lpStatus->dwAvailPhys = Saturate(status.ullAvailPhys);
  lpStatus->dwTotalPageFile = Saturate(status.ullTotalPageFile);
  lpStatus->dwAvailPageFile = Saturate(status.ullAvailPageFile);
  return TRUE;
}

}  // namespace kx
