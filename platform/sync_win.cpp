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
