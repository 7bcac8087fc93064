// Threads, events and time: event objects with timed waits, the millisecond
// tick count, sleeping, and the local and UTC clock as a SYSTEMTIME record.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/kx_types.h"

// The wait results and the endless time-out. On Windows they have the values
// and types <windows.h> gives them, whichever of the two headers comes first.
#ifndef WAIT_OBJECT_0
#ifdef _WIN32
#define WAIT_OBJECT_0 ((DWORD)0x00000000)
#else
#define WAIT_OBJECT_0 0L
#endif
#endif
#ifndef WAIT_TIMEOUT
#define WAIT_TIMEOUT 258L
#endif
#ifndef INFINITE
#define INFINITE 0xFFFFFFFF
#endif

namespace kx {

// A calendar time, field for field as Windows' SYSTEMTIME.
struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;         // 1..12
  WORD wDayOfWeek;     // 0 = Sunday
  WORD wDay;           // 1..31
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// An event object. A manual-reset event stays set until Reset; an auto-reset
// event releases one waiter and clears itself. Any thread may use it.
class CEvent {
 public:
  // `lpName` is accepted for the product's named events; on this platform the
  // event is local to the process and the name is ignored.
  CEvent(BOOL bManualReset, BOOL bInitialState, const char* lpName = nullptr);
  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;

  // Signals the event.
  void Set();
  // Clears the event.
  void Reset();
  // Waits until the event is signalled or `dwMilliseconds` pass (INFINITE: no limit).
  // WAIT_OBJECT_0 when signalled, WAIT_TIMEOUT otherwise.
  DWORD Wait(DWORD dwMilliseconds);
  // TRUE when the event is signalled, without waiting or clearing it.
  BOOL IsSet();

 private:
  std::mutex m_mutex;
  std::condition_variable m_cond;
  bool m_bManualReset;
  bool m_bSignalled;
};

// Milliseconds since an arbitrary start, from a monotonic clock; wraps at 2^32.
DWORD GetTickCount();
// Suspends the calling thread for `dwMilliseconds`.
void Sleep(DWORD dwMilliseconds);
// The current local time (time zone of the process).
void GetLocalTime(SYSTEMTIME* lpTime);
// The current coordinated universal time.
void GetSystemTime(SYSTEMTIME* lpTime);
// A time in seconds since 1970-01-01 00:00:00 UTC as local time (milliseconds 0).
void UnixTimeToLocalTime(long long llSeconds, SYSTEMTIME* lpTime);

}  // namespace kx
