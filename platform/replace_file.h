// Whole files: replacing a file's contents so that readers and a crash see
// either the old file or the new one, never a truncated or half-written file;
// and reading one at once.
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

}  // namespace kx
