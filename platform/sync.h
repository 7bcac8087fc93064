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
// A time in seconds since 1970-01-01 00:00:00 UTC as local time (milliseconds
// 0), with the daylight-saving rules in force at that time, not today's.
void UnixTimeToLocalTime(long long llSeconds, SYSTEMTIME* lpTime);

// A time zone's rules for one year, field for field as the parts of Windows'
// TIME_ZONE_INFORMATION that convert times. Biases are minutes: UTC = local
// time + bias. A transition date with wYear 0 is a rule: the wDay-th (1-5, 5
// the last) weekday wDayOfWeek of month wMonth at wHour:wMinute; with wYear
// set, that exact date. wMonth 0 in DaylightDate: no daylight saving.
struct TIME_ZONE_RULES {
  long Bias;
  long StandardBias;
  long DaylightBias;
  SYSTEMTIME StandardDate;  // when daylight saving ends, in daylight time
  SYSTEMTIME DaylightDate;  // when it begins, in standard time
};

// The local time of `llSeconds` (seconds since 1970 UTC) under `rules`, with
// daylight saving as it applies on that date (southern-hemisphere rules, where
// it spans the new year, too). Milliseconds 0.
void UnixTimeToZoneTime(long long llSeconds, const TIME_ZONE_RULES& rules, SYSTEMTIME* lpTime);
// The calendar year of `llSeconds` (seconds since 1970 UTC) in UTC.
WORD GetUtcYear(long long llSeconds);

}  // namespace kx
