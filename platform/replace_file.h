// Whole files: replacing a file's contents so that readers and a crash see
// either the old file or the new one, never a truncated or half-written file;
// installing a copy of a file the same way; and reading one at once.
#pragma once

#include <cstddef>
#include <string>

#include "platform/kx_types.h"

namespace kx {

// Writes the bytes to a temporary file beside lpPath (lpPath + ".tmp"), flushes
// it to the disk, renames it over lpPath and flushes the directory. The new
// file keeps the old one's permission bits. 0 on success, else a Windows error
// code (the old file is then untouched and no temporary file is left). A
// temporary file that a writer killed part-way left behind is replaced.
// Writers of one path must not run at the same time.
DWORD ReplaceFileDurably(const char* lpPath, const std::string& strBytes);

// Reads the whole file into *pstrBytes. 0, or ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY for a
// file larger than cbLimit, or another Windows error code.
DWORD ReadWholeFile(const char* lpPath, std::size_t cbLimit, std::string* pstrBytes);

// TRUE when lpName (code page 932) is a plain file name: not empty, not "." or
// "..", without a path separator ('/' or '\\') or a drive or stream colon, and
// not ending in the lead byte of a double-byte character. Only such a name
// stays inside the folder it is joined to.
BOOL IsPlainFileName(const char* lpName);

// Installs a copy of the file lpSourcePath as lpDirectory + lpName (code page
// 932; lpDirectory with or without its trailing separator). The bytes go to a
// new temporary file in lpDirectory, which is made readable by everyone and
// writable by its owner only (0644; on Windows plain attributes and the
// folder's inherited access, whatever the source had), flushed, checked
// against the source (same size and bytes, read again by its name) and only
// then renamed over any file of that name. ERROR_SUCCESS, or ERROR_INVALID_NAME
// (lpName is not plain), ERROR_FILE_NOT_FOUND (no source, or it vanished while
// copied), ERROR_ACCESS_DENIED (the source is no plain file), ERROR_FILE_INVALID
// (the source changed while copied), or the system's error code. On failure the
// temporary file is removed and a file already at the destination is untouched.
DWORD InstallFileCopy(const char* lpSourcePath, const char* lpDirectory, const char* lpName);

// Test hook: called with the temporary file's path once the copy is written and
// before it is checked; null removes it.
typedef void (*InstallCheckHook)(const char* lpTemporaryPath);
void SetInstallCheckHookForTest(InstallCheckHook pfnHook);

namespace detail {
// Shared by both systems' InstallFileCopy: the hook in force (may be null) and
// the destination path, or "" when lpName is not plain.
InstallCheckHook GetInstallCheckHook();
std::string JoinInstallPath(const char* lpDirectory, const char* lpName);
}  // namespace detail

}  // namespace kx
