#include "platform/windows_win.h"

#include "platform/sync.h"

namespace kx {
namespace {

void CopySystemTime(const ::SYSTEMTIME& source, SYSTEMTIME* lpTime) {
  lpTime->wYear = source.wYear;
  lpTime->wMonth = source.wMonth;
  lpTime->wDayOfWeek = source.wDayOfWeek;
  lpTime->wDay = source.wDay;
  lpTime->wHour = source.wHour;
  lpTime->wMinute = source.wMinute;
  lpTime->wSecond = source.wSecond;
  lpTime->wMilliseconds = source.wMilliseconds;
}

}  // namespace

// FileTimeToLocalFileTime would apply today's daylight-saving bias to every
// time; the rules of the time's own year (GetTimeZoneInformationForYear, which
// also knows years whose rules differ) decide instead.
void UnixTimeToLocalTime(long long llSeconds, SYSTEMTIME* lpTime) {
  if (lpTime == nullptr) return;
  ::TIME_ZONE_INFORMATION zone = {};
  if (!::GetTimeZoneInformationForYear(GetUtcYear(llSeconds), nullptr, &zone) &&
      ::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) {
    zone = ::TIME_ZONE_INFORMATION();
  }
  TIME_ZONE_RULES rules = {};
  rules.Bias = zone.Bias;
  rules.StandardBias = zone.StandardBias;
  rules.DaylightBias = zone.DaylightBias;
  CopySystemTime(zone.StandardDate, &rules.StandardDate);
  CopySystemTime(zone.DaylightDate, &rules.DaylightDate);
  UnixTimeToZoneTime(llSeconds, rules, lpTime);
}

void GetLocalTime(SYSTEMTIME* lpTime) {
  ::SYSTEMTIME now;
  ::GetLocalTime(&now);
  CopySystemTime(now, lpTime);
}

void GetSystemTime(SYSTEMTIME* lpTime) {
  ::SYSTEMTIME now;
  ::GetSystemTime(&now);
  CopySystemTime(now, lpTime);
}

}  // namespace kx
