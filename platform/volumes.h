// Volumes: the list of drive roots, each drive's type, file-system name, sizes
// and display name.
//
// On this platform a drive root is the mount point of a mounted file system
// ("/", "/home", ...). Pseudo and memory file systems (proc, sysfs, tmpfs,
// devtmpfs, cgroup, overlay, ...) are not drives, with one exception: the root
// file system "/" is always a drive, whatever it is mounted from, so a system
// running on an overlay or a RAM disk still lists itself. When one mount point
// is mounted several times, the last mount (the one in effect) counts.
#pragma once

#include <cstdint>

#include "platform/kx_types.h"

#ifndef DRIVE_UNKNOWN
#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6
#endif

namespace kx {

// Fills `lpBuffer` with the drive roots as GetLogicalDriveStringsA does: each
// root NUL-terminated, the list ended by an empty string. Returns the length
// written without the final NUL; when the list does not fit in `dwBufferLength`
// bytes, writes nothing and returns the length needed (final NUL included);
// 0 when the mount table cannot be read. Roots are code page 932, any control
// character of a mount point shown as '?'.
DWORD GetDriveRootStrings(DWORD dwBufferLength, char* lpBuffer);
// DRIVE_FIXED for a disk file system, DRIVE_REMOTE for a network one (nfs,
// cifs, smb3, sshfs, 9p, ...), DRIVE_CDROM for iso9660 and udf, DRIVE_REMOVABLE
// when the system marks the block device removable, DRIVE_NO_ROOT_DIR when
// `lpRoot` is not a drive root.
DWORD GetDriveRootType(const char* lpRoot);
// The file-system type name ("ext4", "xfs", ...), cut to `dwSize` - 1 bytes.
// ERROR_SUCCESS, or ERROR_PATH_NOT_FOUND when `lpRoot` is not a drive root.
DWORD GetVolumeFileSystemName(const char* lpRoot, char* lpName, DWORD dwSize);
// The bytes free to the caller, the total bytes and the free bytes of the
// volume, as GetDiskFreeSpaceExA. ERROR_SUCCESS or the error of the query.
DWORD GetDriveFreeSpace(const char* lpRoot, std::uint64_t* pqwFreeToCaller, std::uint64_t* pqwTotal,
                         std::uint64_t* pqwFree);
// The name a user knows the volume by: on Windows the shell's display name
// (label and drive letter), elsewhere its label when it has one, else the
// device or source it is mounted from (control characters as '?'). Cut to
// `dwSize` - 1 bytes.
DWORD GetVolumeDisplayName(const char* lpRoot, char* lpName, DWORD dwSize);

}  // namespace kx
