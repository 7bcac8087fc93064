#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/system_info.h"
#include "platform/text_encoding.h"

namespace kx {
namespace {

DWORD Saturate(unsigned long long ullValue) {
  return ullValue > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(ullValue);
}

// The value of PRETTY_NAME in os-release, quotes removed; empty when absent.
std::string ReadPrettyName() {
  const char* const kFiles[] = {"/etc/os-release", "/usr/lib/os-release"};
  for (const char* lpFile : kFiles) {
    std::ifstream in(lpFile);
    std::string line;
    while (std::getline(in, line)) {
      const std::string key = "PRETTY_NAME=";
      if (line.compare(0, key.size(), key) != 0) continue;
      std::string value = line.substr(key.size());
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      return value;
    }
  }
  return std::string();
}

// The "MemAvailable" figure of /proc/meminfo in bytes; false when missing (old kernels).
bool ReadMemAvailable(unsigned long long* pullBytes) {
  std::ifstream in("/proc/meminfo");
  std::string line;
  while (std::getline(in, line)) {
    unsigned long long ullKb = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &ullKb) == 1) {
      *pullBytes = ullKb * 1024ull;
      return true;
    }
  }
  return false;
}

}  // namespace

std::string QueryComputerName() {
  char buffer[HOST_NAME_MAX + 1];
  if (gethostname(buffer, sizeof(buffer)) != 0) return std::string();
  buffer[HOST_NAME_MAX] = '\0';
  return Utf8ToCp932(buffer);
}

BOOL QueryOsVersion(OS_VERSION_INFO* lpInfo) {
  if (lpInfo == nullptr) return FALSE;
  std::memset(lpInfo, 0, sizeof(*lpInfo));
  lpInfo->dwOSVersionInfoSize = sizeof(*lpInfo);
  lpInfo->dwPlatformId = 2;
  lpInfo->wProductType = 3;
  struct utsname name;
  if (uname(&name) != 0) return FALSE;
  unsigned int major = 0, minor = 0, patch = 0;
  std::sscanf(name.release, "%u.%u.%u", &major, &minor, &patch);
  lpInfo->dwMajorVersion = major;
  lpInfo->dwMinorVersion = minor;
  lpInfo->dwBuildNumber = patch;
  return TRUE;
}

BOOL QueryOsDisplayName(std::string* pstrSystem, std::string* pstrEdition) {
  std::string strDistribution = Utf8ToCp932(ReadPrettyName());
  if (pstrSystem != nullptr) *pstrSystem = "Linux";
  if (pstrEdition != nullptr) *pstrEdition = strDistribution.empty() ? "Unknown" : strDistribution;
  return TRUE;
}

BOOL QueryMemoryStatus(MEMORYSTATUS* lpStatus) {
  if (lpStatus == nullptr) return FALSE;
  std::memset(lpStatus, 0, sizeof(*lpStatus));
  lpStatus->dwLength = sizeof(*lpStatus);
  struct sysinfo info;
  if (sysinfo(&info) != 0) return FALSE;
  const unsigned long long unit = info.mem_unit == 0 ? 1 : info.mem_unit;
  lpStatus->ullTotalPhys = static_cast<unsigned long long>(info.totalram) * unit;
  unsigned long long ullAvail = 0;
  if (!ReadMemAvailable(&ullAvail)) {
    ullAvail = (static_cast<unsigned long long>(info.freeram) + info.bufferram) * unit;
  }
  if (ullAvail > lpStatus->ullTotalPhys) ullAvail = lpStatus->ullTotalPhys;
  lpStatus->ullAvailPhys = ullAvail;
  lpStatus->ullTotalPageFile = static_cast<unsigned long long>(info.totalswap) * unit;
  lpStatus->ullAvailPageFile = static_cast<unsigned long long>(info.freeswap) * unit;
  if (lpStatus->ullTotalPhys != 0) {
    lpStatus->dwMemoryLoad = static_cast<DWORD>(
        (lpStatus->ullTotalPhys - lpStatus->ullAvailPhys) * 100ull / lpStatus->ullTotalPhys);
  }
  lpStatus->dwTotalPhys = Saturate(lpStatus->ullTotalPhys);
  lpStatus->dwAvailPhys = Saturate(lpStatus->ullAvailPhys);
  lpStatus->dwTotalPageFile = Saturate(lpStatus->ullTotalPageFile);
  lpStatus->dwAvailPageFile = Saturate(lpStatus->ullAvailPageFile);
  return TRUE;
}

}  // namespace kx
