// Internal to the POSIX implementations: opening a name that must be a plain
// file, so that a link, device or pipe planted under it is refused rather than
// written through or waited on.
#pragma once

#include "platform/kx_types.h"

namespace kx {

// Opens lpPath (native text) with nFlags plus close-on-exec and never as a
// controlling terminal, creating it with uMode when nFlags holds O_CREAT. Add
// O_NOFOLLOW to nFlags to refuse a symbolic link (ERROR_STOPPED_ON_SYMLINK). A
// directory, device or pipe is refused with ERROR_ACCESS_DENIED without waiting
// for a peer, and so, when bSingleName, is a file with further hard links. A
// missing name is ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND when creating
// (its folder is missing). The descriptor, or -1 with *pdwError set.
int OpenPlainFile(const char* lpPath, int nFlags, unsigned int uMode, bool bSingleName, DWORD* pdwError);

}  // namespace kx
