// Replacing a file's whole contents so that readers and a crash see either
// the old file or the new one, never a truncated or half-written file.
#pragma once

#include <string>

#include "platform/kx_types.h"

namespace kx {

// Writes the bytes to a temporary file beside lpPath, flushes it to the disk,
// renames it over lpPath and flushes the directory. The new file keeps the old
// one's permission bits. 0 on success, else a Windows error code (the old file
// is then untouched and no temporary file is left).
DWORD ReplaceFileDurably(const char* lpPath, const std::string& strBytes);

}  // namespace kx
