#include "platform/volumes.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/posix_error.h"
#include "platform/text_encoding.h"

namespace kx {
namespace {

struct CMount {
  std::string strSource;      // as the mount table gives it (UTF-8)
  std::string strMountPoint;  // UTF-8, as the OS needs it
  std::string strRoot;        // the mount point in code page 932, as the product sees it
  std::string strType;
};

// The mount table writes blanks, tabs, newlines and backslashes as \ooo.
std::string UnescapeOctal(const std::string& strText) {
  std::string strOut;
  for (std::size_t i = 0; i < strText.size(); ++i) {
    if (strText[i] == '\\' && i + 3 < strText.size()) {
      const char* p = strText.c_str() + i + 1;
      if (p[0] >= '0' && p[0] <= '3' && p[1] >= '0' && p[1] <= '7' && p[2] >= '0' && p[2] <= '7') {
        strOut += static_cast<char>((p[0] - '0') * 64 + (p[1] - '0') * 8 + (p[2] - '0'));
        i += 3;
        continue;
      }
    }
    strOut += strText[i];
  }
  return strOut;
}

bool IsOneOf(const std::string& strValue, std::initializer_list<const char*> names) {
  for (const char* lpName : names) {
    if (strValue == lpName) return true;
  }
  return false;
}

bool IsRemoteType(const std::string& strType) {
  return IsOneOf(
      strType, {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "9p", "afs", "ceph", "glusterfs", "davfs",
                "fuse.sshfs", "fuse.glusterfs", "fuse.s3fs", "fuse.davfs2", "fuse.rclone", "lustre", "gpfs"});
}

bool IsCdRomType(const std::string& strType) { return IsOneOf(strType, {"iso9660", "udf"}); }

// Disk file systems whose source is not a /dev path.
bool IsPoolType(const std::string& strType) { return IsOneOf(strType, {"zfs", "bcachefs"}); }

// A drive is a file system that holds data on a device or across the network;
// read-only package images (squashfs) and everything in memory are not drives.
bool IsDrive(const CMount& mount) {
  if (mount.strMountPoint == "/") return true;
  if (mount.strType == "squashfs") return false;
  if (IsRemoteType(mount.strType) || IsPoolType(mount.strType)) return true;
  return mount.strSource.compare(0, 5, "/dev/") == 0;
}

// A mount point or source as a text for the terminal (code page 932): the
// control characters a user may put in one become '?', so that a drive never
// breaks a row into several lines.
std::string ToDisplayText(const std::string& strUtf8) {
  return MaskControlCharacters(Utf8ToCp932(strUtf8));
}

bool IsDirectory(const std::string& strPath) {
  struct stat info;
  return stat(strPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ReadMounts(std::vector<CMount>* pMounts) {
  std::ifstream table("/proc/self/mounts");
  if (!table) return false;
  std::string strLine;
  while (std::getline(table, strLine)) {
    // Fields are separated by single blanks, the only whitespace the table
    // escapes; a carriage return or the like inside a field is part of it.
    std::vector<std::string> fields;
    for (std::size_t nPos = 0; fields.size() < 3 && nPos <= strLine.size();) {
      std::size_t nEnd = strLine.find(' ', nPos);
      if (nEnd == std::string::npos) nEnd = strLine.size();
      fields.push_back(strLine.substr(nPos, nEnd - nPos));
      nPos = nEnd + 1;
    }
    if (fields.size() < 3 || fields[0].empty() || fields[1].empty() || fields[2].empty()) continue;
    CMount mount;
    mount.strSource = UnescapeOctal(fields[0]);
    mount.strMountPoint = UnescapeOctal(fields[1]);
    mount.strType = fields[2];
    mount.strRoot = ToDisplayText(mount.strMountPoint);
    // Files bind-mounted into place (a container's /etc/hosts) are not volumes.
    if (!IsDrive(mount) || !IsDirectory(mount.strMountPoint)) continue;
    std::vector<CMount>::iterator it =
        std::find_if(pMounts->begin(), pMounts->end(),
                     [&mount](const CMount& m) { return m.strMountPoint == mount.strMountPoint; });
    if (it != pMounts->end()) {
      *it = mount;  // a later mount over the same point hides the earlier one
    } else {
      pMounts->push_back(mount);
    }
  }
  return true;
}

bool FindMount(const char* lpRoot, CMount* pMount) {
  if (lpRoot == nullptr) return false;
  std::vector<CMount> mounts;
  if (!ReadMounts(&mounts)) return false;
  for (const CMount& mount : mounts) {
    if (mount.strRoot == lpRoot) {
      *pMount = mount;
      return true;
    }
  }
  return false;
}

void CopyText(const std::string& strText, char* lpBuffer, DWORD dwSize) {
  if (dwSize == 0) return;
  std::size_t nLength = std::min<std::size_t>(strText.size(), dwSize - 1);
  std::memcpy(lpBuffer, strText.data(), nLength);
  lpBuffer[nLength] = '\0';
}

std::string RealPath(const std::string& strPath) {
  char szResolved[PATH_MAX];
  return realpath(strPath.c_str(), szResolved) ? std::string(szResolved) : std::string();
}

std::string ReadFirstLine(const std::string& strPath) {
  std::ifstream file(strPath);
  std::string strLine;
  std::getline(file, strLine);
  return strLine;
}

// The kernel's own name of a block device ("sdb1"), or empty.
std::string BlockDeviceName(const std::string& strSource) {
  std::string strDevice = RealPath(strSource);
  if (strDevice.compare(0, 5, "/dev/") != 0) return std::string();
  return strDevice.substr(5);
}

// A partition's removable flag is its whole disk's.
bool IsRemovableDevice(const std::string& strName) {
  std::string strSys = RealPath("/sys/class/block/" + strName);
  if (strSys.empty()) return false;
  if (access((strSys + "/partition").c_str(), F_OK) == 0) strSys = strSys.substr(0, strSys.rfind('/'));
  return ReadFirstLine(strSys + "/removable") == "1";
}

// /dev/disk/by-label writes unsafe characters as \xHH.
std::string UnescapeHex(const std::string& strText) {
  std::string strOut;
  for (std::size_t i = 0; i < strText.size(); ++i) {
    if (strText[i] == '\\' && i + 3 < strText.size() && strText[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(strText[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(strText[i + 3]))) {
      strOut += static_cast<char>(std::strtol(strText.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
      continue;
    }
    strOut += strText[i];
  }
  return strOut;
}

std::string VolumeLabel(const std::string& strSource) {
  std::string strDevice = RealPath(strSource);
  if (strDevice.empty()) return std::string();
  DIR* pDir = opendir("/dev/disk/by-label");
  if (pDir == nullptr) return std::string();
  std::string strLabel;
  while (struct dirent* pEntry = readdir(pDir)) {
    if (pEntry->d_name[0] == '.') continue;
    if (RealPath(std::string("/dev/disk/by-label/") + pEntry->d_name) == strDevice) {
      strLabel = UnescapeHex(pEntry->d_name);
      break;
    }
  }
  closedir(pDir);
  return strLabel;
}

}  // namespace

DWORD GetDriveRootStrings(DWORD dwBufferLength, char* lpBuffer) {
  std::vector<CMount> mounts;
  if (!ReadMounts(&mounts)) return 0;
  std::string strList;
  for (const CMount& mount : mounts) {
    strList += mount.strRoot;
    strList += '\0';
  }
  DWORD dwNeeded = static_cast<DWORD>(strList.size() + 1);
  if (lpBuffer == nullptr || dwBufferLength < dwNeeded) return dwNeeded;
  std::memcpy(lpBuffer, strList.data(), strList.size());
  lpBuffer[strList.size()] = '\0';
  return static_cast<DWORD>(strList.size());
}

DWORD GetDriveRootType(const char* lpRoot) {
  CMount mount;
  if (!FindMount(lpRoot, &mount)) return DRIVE_NO_ROOT_DIR;
  if (IsRemoteType(mount.strType)) return DRIVE_REMOTE;
  if (IsCdRomType(mount.strType)) return DRIVE_CDROM;
  std::string strDevice = BlockDeviceName(mount.strSource);
  if (strDevice.compare(0, 2, "sr") == 0) return DRIVE_CDROM;
  if (!strDevice.empty() && IsRemovableDevice(strDevice)) return DRIVE_REMOVABLE;
  return DRIVE_FIXED;
}

DWORD GetVolumeFileSystemName(const char* lpRoot, char* lpName, DWORD dwSize) {
  CopyText(std::string(), lpName, dwSize);
  CMount mount;
  if (!FindMount(lpRoot, &mount)) return ERROR_PATH_NOT_FOUND;
  CopyText(mount.strType, lpName, dwSize);
  return ERROR_SUCCESS;
}

DWORD GetDriveFreeSpace(const char* lpRoot, std::uint64_t* pqwFreeToCaller, std::uint64_t* pqwTotal,
                         std::uint64_t* pqwFree) {
  *pqwFreeToCaller = *pqwTotal = *pqwFree = 0;
  CMount mount;
  if (!FindMount(lpRoot, &mount)) return ERROR_PATH_NOT_FOUND;
  struct statvfs info;
  if (statvfs(mount.strMountPoint.c_str(), &info) != 0) return ErrnoToWinError(errno);
  std::uint64_t qwUnit = info.f_frsize ? info.f_frsize : info.f_bsize;
  *pqwTotal = static_cast<std::uint64_t>(info.f_blocks) * qwUnit;
  *pqwFree = static_cast<std::uint64_t>(info.f_bfree) * qwUnit;
  *pqwFreeToCaller = static_cast<std::uint64_t>(info.f_bavail) * qwUnit;
  return ERROR_SUCCESS;
}

DWORD GetVolumeDisplayName(const char* lpRoot, char* lpName, DWORD dwSize) {
  CopyText(std::string(), lpName, dwSize);
  CMount mount;
  if (!FindMount(lpRoot, &mount)) return ERROR_PATH_NOT_FOUND;
  std::string strLabel = VolumeLabel(mount.strSource);
  CopyText(ToDisplayText(strLabel.empty() ? mount.strSource : strLabel), lpName, dwSize);
  return ERROR_SUCCESS;
}

}  // namespace kx
