// One instance per installation: a lock that one process at a time holds for a
// configuration file, dropped by the system when that process ends however it
// ends.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kx_types.h"

namespace kx {

// The lock of the configuration tool. Not copyable; the destructor releases it.
// Calls on one object must not overlap.
class CSingleInstance {
 public:
  CSingleInstance();
  ~CSingleInstance();
  CSingleInstance(const CSingleInstance&) = delete;
  CSingleInstance& operator=(const CSingleInstance&) = delete;

  // Takes the lock of the installation whose configuration file is lpConfigPath
  // (code page 932). On POSIX it is a lock file beside that file (GetLockName),
  // created when missing and locked with a lock the kernel drops with the
  // process; there is no fallback to another place. On Windows it is the named
  // mutex "KxAgentCtrlMutex". ERROR_SUCCESS: held until Release; ERROR_ALREADY_EXISTS:
  // another process or object holds it; any other code: the lock cannot be made
  // (e.g. ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_STOPPED_ON_SYMLINK).
  DWORD Acquire(const char* lpConfigPath);
  // TRUE while this object holds the lock.
  BOOL IsHeld() const;
  // Gives the lock up; harmless when it is not held. The lock file stays.
  void Release();

  // Where the lock of lpConfigPath lives: the lock file's path (the
  // configuration file's path + ".lock") on POSIX, the mutex name on Windows.
  static std::string GetLockName(const char* lpConfigPath);

 private:
  std::intptr_t m_hLock;  // the descriptor or the handle; -1 / 0 when not held
};

}  // namespace kx
