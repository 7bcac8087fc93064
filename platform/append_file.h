// Append-only files: a file opened for adding to its end, each write landing
// whole at the end even when other handles write the same file.
#pragma once

#include <string>

#include "platform/kx_types.h"

namespace kx {

// One file open for appending. Not copyable; the destructor closes it. Calls
// on one object must not overlap (the caller locks); different objects are independent.
class CAppendFile {
 public:
  CAppendFile();
  ~CAppendFile();
  CAppendFile(const CAppendFile&) = delete;
  CAppendFile& operator=(const CAppendFile&) = delete;

  // Opens `lpPath` (code page 932) for appending, creating it when missing with
  // read and write for its owner and read for its group (0640; on Windows the
  // folder's inherited access); others may read it meanwhile. Only a plain file
  // with one name is written, so nothing goes through a name planted in the
  // folder: a symbolic link (reparse point) is refused with
  // ERROR_STOPPED_ON_SYMLINK; a device, pipe, directory or a file with further
  // hard links with ERROR_ACCESS_DENIED. ERROR_SUCCESS, or e.g.
  // ERROR_PATH_NOT_FOUND when its directory does not exist.
  DWORD Open(const char* lpPath);
  // TRUE while a file is open.
  BOOL IsOpen() const;
  // Appends `dwSize` bytes with one system write. ERROR_SUCCESS or an error code.
  DWORD Write(const char* lpData, DWORD dwSize);
  // The current size of the file in bytes; ERROR_SUCCESS or an error code.
  DWORD GetSize(long long* pllSize);
  // Closes the file; harmless when none is open.
  void Close();

 private:
  // One system write of at most dwSize bytes to the open file; *pdwWritten
  // says how many went. ERROR_SUCCESS or an error code.
  DWORD WriteSome(const char* lpData, DWORD dwSize, DWORD* pdwWritten);

  int m_nFd;
};

}  // namespace kx
