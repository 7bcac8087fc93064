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
  // GetVersionExA answers 6.2 to a program whose manifest does not name the
  // running system (every system after Windows 8); RtlGetVersion tells the
  // truth. Its record is the wide one: the service-pack text is converted.
  typedef LONG(WINAPI * RtlGetVersionProc)(OSVERSIONINFOEXW*);
  HMODULE hNtdll = ::GetModuleHandleA("ntdll.dll");
  RtlGetVersionProc pRtlGetVersion =
      hNtdll != nullptr ? reinterpret_cast<RtlGetVersionProc>(
                              reinterpret_cast<void*>(::GetProcAddress(hNtdll, "RtlGetVersion")))
                        : nullptr;
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (pRtlGetVersion != nullptr && pRtlGetVersion(&info) == 0) {
    // Converted here rather than through the text conversions: those are also
    // exported by the configuration library, and the program must not link both.
    if (::WideCharToMultiByte(CP_ACP, 0, info.szCSDVersion, -1, lpInfo->szCSDVersion,
                              sizeof(lpInfo->szCSDVersion), nullptr, nullptr) == 0) {
      lpInfo->szCSDVersion[0] = '\0';
    }
  } else {
    OSVERSIONINFOEXA infoA = {};
    infoA.dwOSVersionInfoSize = sizeof(infoA);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL bOk = ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&infoA));
#pragma GCC diagnostic pop
    if (!bOk) return FALSE;
    std::memcpy(lpInfo->szCSDVersion, infoA.szCSDVersion, sizeof(lpInfo->szCSDVersion));
    lpInfo->szCSDVersion[sizeof(lpInfo->szCSDVersion) - 1] = '\0';
    info.dwMajorVersion = infoA.dwMajorVersion;
    info.dwMinorVersion = infoA.dwMinorVersion;
    info.dwBuildNumber = infoA.dwBuildNumber;
    info.dwPlatformId = infoA.dwPlatformId;
    info.wServicePackMajor = infoA.wServicePackMajor;
    info.wServicePackMinor = infoA.wServicePackMinor;
    info.wSuiteMask = infoA.wSuiteMask;
    info.wProductType = infoA.wProductType;
  }
  lpInfo->dwMajorVersion = info.dwMajorVersion;
  lpInfo->dwMinorVersion = info.dwMinorVersion;
  lpInfo->dwBuildNumber = info.dwBuildNumber;
  lpInfo->dwPlatformId = info.dwPlatformId;
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
