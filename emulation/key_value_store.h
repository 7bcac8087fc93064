// The small state files of the emulated facilities (the pending shutdown, the
// service store, event-source registrations): "key=value" lines, one format
// and one durability rule for all of them.
//
// Format: one entry per line, "key=value". The key is the text before the
// first '=' without surrounding blanks or tabs; the value is the rest of the
// line, with "\\", "\n" and "\r" standing for a backslash, a line feed and a
// carriage return. Lines may end in LF or CR LF; blank lines, lines whose
// first non-blank character is '#', lines without '=' and lines with an
// empty key are skipped. A key given twice keeps its last value.
//
// Writing replaces the whole file durably (replace_file.h): a crash at any
// instant leaves the old file or the new one. Writers of one file serialise
// through the lock of its directory (CStoreLock).
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "platform/kx_types.h"

namespace kx {

typedef std::map<std::string, std::string> CKeyValues;

// The entries of a store file's text.
CKeyValues ParseKeyValues(const std::string& strText);
// The text of a store file holding the entries, keys in order.
std::string FormatKeyValues(const CKeyValues& values);

// Reads the store file at strPath. ERROR_SUCCESS, or the error that kept it
// from being read (ERROR_FILE_NOT_FOUND for a missing file,
// ERROR_NOT_ENOUGH_MEMORY for one larger than 1 MB); *pValues is then empty.
DWORD ReadKeyValueFile(const std::string& strPath, CKeyValues* pValues);
// Replaces the store file at strPath durably with the entries. ERROR_SUCCESS or
// an error code, with the old file untouched.
DWORD WriteKeyValueFile(const std::string& strPath, const CKeyValues& values);

// The value of lpKey; empty when there is none.
std::string GetKeyText(const CKeyValues& values, const char* lpKey);
// The value of lpKey read as a decimal number; ullDefault when there is none.
unsigned long long GetKeyNumber(const CKeyValues& values, const char* lpKey, unsigned long long ullDefault = 0);

// The exclusive lock of a store directory (an flock on <directory>/.lock,
// created when missing), held for the object's life, across processes. Not
// re-entrant: a thread that holds it must not take it again.
class CStoreLock {
 public:
  explicit CStoreLock(const std::string& strDirectory);
  ~CStoreLock();
  CStoreLock(const CStoreLock&) = delete;
  CStoreLock& operator=(const CStoreLock&) = delete;
  bool IsHeld() const { return m_fd >= 0; }
  // The errno of a failed open or lock; 0 while held.
  int GetErrno() const { return m_nErrno; }

 private:
  int m_fd;
  int m_nErrno;
};

}  // namespace kx
