#include <sys/time.h>
#include <time.h>

#include "platform/sync.h"

namespace kx {
namespace {

void FillSystemTime(const struct tm& tmValue, long lMicroseconds, SYSTEMTIME* lpTime) {
  lpTime->wYear = static_cast<WORD>(tmValue.tm_year + 1900);
  lpTime->wMonth = static_cast<WORD>(tmValue.tm_mon + 1);
  lpTime->wDayOfWeek = static_cast<WORD>(tmValue.tm_wday);
  lpTime->wDay = static_cast<WORD>(tmValue.tm_mday);
  lpTime->wHour = static_cast<WORD>(tmValue.tm_hour);
  lpTime->wMinute = static_cast<WORD>(tmValue.tm_min);
  // A leap second (tm_sec 60) is shown as 59, as Windows has no leap seconds.
  lpTime->wSecond = static_cast<WORD>(tmValue.tm_sec > 59 ? 59 : tmValue.tm_sec);
  lpTime->wMilliseconds = static_cast<WORD>(lMicroseconds / 1000);
}

}  // namespace

void GetLocalTime(SYSTEMTIME* lpTime) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm tmValue;
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &tmValue);
  FillSystemTime(tmValue, now.tv_usec, lpTime);
}

void UnixTimeToLocalTime(long long llSeconds, SYSTEMTIME* lpTime) {
  struct tm tmValue = {};
  time_t seconds = static_cast<time_t>(llSeconds);
  localtime_r(&seconds, &tmValue);
  FillSystemTime(tmValue, 0, lpTime);
}

void GetSystemTime(SYSTEMTIME* lpTime) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm tmValue;
  time_t seconds = now.tv_sec;
  gmtime_r(&seconds, &tmValue);
  FillSystemTime(tmValue, now.tv_usec, lpTime);
}

}  // namespace kx
