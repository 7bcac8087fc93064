#include "platform/windows_win.h"

#include <shellapi.h>

#include <cstring>

#include "platform/error_codes.h"
#include "platform/thread_error_mode_win.h"
#include "platform/volumes.h"

// Every query of a drive runs with critical errors failed rather than shown: an
// empty floppy, card reader or CD drive would otherwise raise the "no disk" box
// and block the input thread until someone clicked it.
namespace kx {
namespace {

void CopyCut(const char* lpText, char* lpName, DWORD dwSize) {
  if (lpName == nullptr || dwSize == 0) return;
  DWORD i = 0;
  for (; i + 1 < dwSize && lpText[i] != '\0'; ++i) lpName[i] = lpText[i];
  lpName[i] = '\0';
}

}  // namespace

DWORD GetDriveRootStrings(DWORD dwBufferLength, char* lpBuffer) {
  return ::GetLogicalDriveStringsA(lpBuffer == nullptr ? 0 : dwBufferLength, lpBuffer);
}

DWORD GetDriveRootType(const char* lpRoot) {
  CThreadErrorModeScope errorMode;
  return ::GetDriveTypeA(lpRoot);
}

DWORD GetVolumeFileSystemName(const char* lpRoot, char* lpName, DWORD dwSize) {
  CThreadErrorModeScope errorMode;
  char szFileSystem[MAX_PATH + 1] = {};
  if (!::GetVolumeInformationA(lpRoot, nullptr, 0, nullptr, nullptr, nullptr, szFileSystem, sizeof(szFileSystem))) {
    return ::GetLastError();
  }
  CopyCut(szFileSystem, lpName, dwSize);
  return ERROR_SUCCESS;
}

DWORD GetDriveFreeSpace(const char* lpRoot, std::uint64_t* pqwFreeToCaller, std::uint64_t* pqwTotal,
                        std::uint64_t* pqwFree) {
  CThreadErrorModeScope errorMode;
  ULARGE_INTEGER toCaller, total, free;
  if (!::GetDiskFreeSpaceExA(lpRoot, &toCaller, &total, &free)) return ::GetLastError();
  if (pqwFreeToCaller != nullptr) *pqwFreeToCaller = toCaller.QuadPart;
  if (pqwTotal != nullptr) *pqwTotal = total.QuadPart;
  if (pqwFree != nullptr) *pqwFree = free.QuadPart;
  return ERROR_SUCCESS;
}

// The shell's display name ("System (C:)"), else the label, else the device
// the drive letter stands for.
DWORD GetVolumeDisplayName(const char* lpRoot, char* lpName, DWORD dwSize) {
  CThreadErrorModeScope errorMode;
  SHFILEINFOA info = {};
  if (lpRoot != nullptr && ::SHGetFileInfoA(lpRoot, 0, &info, sizeof(info), SHGFI_DISPLAYNAME) != 0 &&
      info.szDisplayName[0] != '\0') {
    CopyCut(info.szDisplayName, lpName, dwSize);
    return ERROR_SUCCESS;
  }
  char szLabel[MAX_PATH + 1] = {};
  if (!::GetVolumeInformationA(lpRoot, szLabel, sizeof(szLabel), nullptr, nullptr, nullptr, nullptr, 0)) {
    return ::GetLastError();
  }
  if (szLabel[0] == '\0' && lpRoot != nullptr && lpRoot[0] != '\0' && lpRoot[1] == ':') {
    char szDrive[3] = {lpRoot[0], ':', '\0'};
    char szDevice[MAX_PATH + 1] = {};
    if (::QueryDosDeviceA(szDrive, szDevice, sizeof(szDevice)) != 0) CopyCut(szDevice, szLabel, sizeof(szLabel));
  }
  CopyCut(szLabel, lpName, dwSize);
  return ERROR_SUCCESS;
}

}  // namespace kx
