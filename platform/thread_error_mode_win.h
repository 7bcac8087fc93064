// Internal to the Windows side: the calling thread's critical-error mode,
// switched for one scope so that a query of an empty drive or a load of a
// module with a missing dependency fails with an error code instead of
// showing a message box that blocks the thread until someone clicks it.
#pragma once

#include "platform/windows_win.h"

namespace kx {

// SetThreadErrorMode affects only the calling thread, so other threads (and the
// process-wide mode) are left as they are; the previous mode is restored on
// destruction.
class CThreadErrorModeScope {
 public:
  CThreadErrorModeScope() : m_dwOldMode(0) {
    m_bSet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &m_dwOldMode) ? TRUE : FALSE;
  }
  ~CThreadErrorModeScope() {
    if (m_bSet) ::SetThreadErrorMode(m_dwOldMode, nullptr);
  }
  CThreadErrorModeScope(const CThreadErrorModeScope&) = delete;
  CThreadErrorModeScope& operator=(const CThreadErrorModeScope&) = delete;

 private:
  DWORD m_dwOldMode;
  BOOL m_bSet;
};

}  // namespace kx
