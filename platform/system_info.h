// System information: the computer name, the operating-system version and the
// memory status, in the shape of the Windows records the product prints.
#pragma once

#include <string>

#include "platform/kx_types.h"

namespace kx {

// The operating-system version, field for field as OSVERSIONINFOEXA.
struct OS_VERSION_INFO {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;    // kernel major version on Linux
  DWORD dwMinorVersion;    // kernel minor version
  DWORD dwBuildNumber;     // kernel patch level
  DWORD dwPlatformId;      // always 2, the NT family
  char szCSDVersion[128];  // service pack text; empty on Linux
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;         // 0 on Linux
  BYTE wProductType;       // 1 workstation, 2 domain controller, 3 server; 3 on Linux
  BYTE wReserved;
};

// Memory use, as GlobalMemoryStatus reports it. The page file is the swap space.
// The DWORD byte counts saturate at 0xFFFFFFFF, as GlobalMemoryStatus does on
// large machines; the ull fields carry the exact 64-bit values.
struct MEMORYSTATUS {
  DWORD dwLength;
  DWORD dwMemoryLoad;  // percent of physical memory in use
  DWORD dwTotalPhys;
  DWORD dwAvailPhys;
  DWORD dwTotalPageFile;
  DWORD dwAvailPageFile;
  unsigned long long ullTotalPhys;
  unsigned long long ullAvailPhys;
  unsigned long long ullTotalPageFile;
  unsigned long long ullAvailPageFile;
};

// The computer's network name as the system reports it (not lower-cased);
// empty when it cannot be read.
std::string QueryComputerName();
// Fills `lpInfo` with the running system's version. TRUE on success.
BOOL QueryOsVersion(OS_VERSION_INFO* lpInfo);
// How a system that is not Windows names itself where the product shows the
// Windows version: *pstrSystem gets its name ("Linux") and *pstrEdition its
// edition or distribution (code page 932; "Unknown" when it has none). FALSE
// on Windows, where the version record itself names the system.
BOOL QueryOsDisplayName(std::string* pstrSystem, std::string* pstrEdition);
// Fills `lpStatus` with the current memory figures. TRUE on success.
BOOL QueryMemoryStatus(MEMORYSTATUS* lpStatus);

}  // namespace kx
