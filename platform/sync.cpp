#include "platform/sync.h"

#include <chrono>
#include <thread>

namespace kx {

CEvent::CEvent(BOOL bManualReset, BOOL bInitialState, const char* /*lpName*/)
    : m_bManualReset(bManualReset != FALSE), m_bSignalled(bInitialState != FALSE) {}

void CEvent::Set() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bSignalled = true;
  if (m_bManualReset) {
    m_cond.notify_all();
  } else {
    m_cond.notify_one();
  }
}

void CEvent::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bSignalled = false;
}

BOOL CEvent::IsSet() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bSignalled ? TRUE : FALSE;
}

DWORD CEvent::Wait(DWORD dwMilliseconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  auto isSignalled = [this] { return m_bSignalled; };
  if (dwMilliseconds == INFINITE) {
    m_cond.wait(lock, isSignalled);
  } else if (!m_cond.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), isSignalled)) {
    return WAIT_TIMEOUT;
  }
  if (!m_bManualReset) m_bSignalled = false;
  return WAIT_OBJECT_0;
}

DWORD GetTickCount() {
  auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  return static_cast<DWORD>(static_cast<unsigned long long>(ms));
}

void Sleep(DWORD dwMilliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

namespace {

const long long kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
long long DaysFromCivil(long long llYear, unsigned nMonth, unsigned nDay) {
  llYear -= nMonth <= 2;
  long long llEra = (llYear >= 0 ? llYear : llYear - 399) / 400;
  unsigned nYearOfEra = static_cast<unsigned>(llYear - llEra * 400);
  unsigned nDayOfYear = (153 * (nMonth > 2 ? nMonth - 3 : nMonth + 9) + 2) / 5 + nDay - 1;
  unsigned nDayOfEra = nYearOfEra * 365 + nYearOfEra / 4 - nYearOfEra / 100 + nDayOfYear;
  return llEra * 146097 + static_cast<long long>(nDayOfEra) - 719468;
}

void CivilFromDays(long long llDays, long long* pllYear, unsigned* pnMonth, unsigned* pnDay) {
  llDays += 719468;
  long long llEra = (llDays >= 0 ? llDays : llDays - 146096) / 146097;
  unsigned nDayOfEra = static_cast<unsigned>(llDays - llEra * 146097);
  unsigned nYearOfEra = (nDayOfEra - nDayOfEra / 1460 + nDayOfEra / 36524 - nDayOfEra / 146096) / 365;
  unsigned nDayOfYear = nDayOfEra - (365 * nYearOfEra + nYearOfEra / 4 - nYearOfEra / 100);
  unsigned nMonthIndex = (5 * nDayOfYear + 2) / 153;
  *pnDay = nDayOfYear - (153 * nMonthIndex + 2) / 5 + 1;
  *pnMonth = nMonthIndex < 10 ? nMonthIndex + 3 : nMonthIndex - 9;
  *pllYear = static_cast<long long>(nYearOfEra) + llEra * 400 + (*pnMonth <= 2);
}

long long FloorDiv(long long llValue, long long llDivisor) {
  long long llQuotient = llValue / llDivisor;
  return (llValue % llDivisor != 0 && (llValue < 0) != (llDivisor < 0)) ? llQuotient - 1 : llQuotient;
}

// The moment of a transition in `llYear`, in seconds since 1970 of the local
// clock the transition is stated in.
long long TransitionTime(const SYSTEMTIME& date, long long llYear) {
  long long llDay;
  if (date.wYear != 0) {
    llDay = DaysFromCivil(date.wYear, date.wMonth, date.wDay);
  } else {
    long long llFirst = DaysFromCivil(llYear, date.wMonth, 1);
    int nFirstWeekday = static_cast<int>(((llFirst + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
    int nOffset = (date.wDayOfWeek - nFirstWeekday + 7) % 7;
    llDay = llFirst + nOffset + 7 * (date.wDay - 1);
    long long llNextMonth = date.wMonth == 12 ? DaysFromCivil(llYear + 1, 1, 1) : DaysFromCivil(llYear, date.wMonth + 1, 1);
    while (llDay >= llNextMonth) llDay -= 7;  // "the fifth" is the last one
  }
  return llDay * kSecondsPerDay + date.wHour * 3600LL + date.wMinute * 60LL + date.wSecond;
}

void FillSystemTime(long long llSeconds, SYSTEMTIME* lpTime) {
  long long llDays = FloorDiv(llSeconds, kSecondsPerDay);
  long long llSecondOfDay = llSeconds - llDays * kSecondsPerDay;
  long long llYear;
  unsigned nMonth, nDay;
  CivilFromDays(llDays, &llYear, &nMonth, &nDay);
  lpTime->wYear = static_cast<WORD>(llYear);
  lpTime->wMonth = static_cast<WORD>(nMonth);
  lpTime->wDayOfWeek = static_cast<WORD>(((llDays + 4) % 7 + 7) % 7);
  lpTime->wDay = static_cast<WORD>(nDay);
  lpTime->wHour = static_cast<WORD>(llSecondOfDay / 3600);
  lpTime->wMinute = static_cast<WORD>(llSecondOfDay / 60 % 60);
  lpTime->wSecond = static_cast<WORD>(llSecondOfDay % 60);
  lpTime->wMilliseconds = 0;
}

}  // namespace

WORD GetUtcYear(long long llSeconds) {
  SYSTEMTIME time;
  FillSystemTime(llSeconds, &time);
  return time.wYear;
}

void UnixTimeToZoneTime(long long llSeconds, const TIME_ZONE_RULES& rules, SYSTEMTIME* lpTime) {
  if (lpTime == nullptr) return;
  long long llStandardBias = (rules.Bias + rules.StandardBias) * 60LL;
  bool bDaylight = false;
  if (rules.DaylightDate.wMonth != 0 && rules.StandardDate.wMonth != 0) {
    long long llDaylightBias = (rules.Bias + rules.DaylightBias) * 60LL;
    SYSTEMTIME standard;
    FillSystemTime(llSeconds - llStandardBias, &standard);
    // Both transitions of the local year, as UTC.
    long long llBegins = TransitionTime(rules.DaylightDate, standard.wYear) + llStandardBias;
    long long llEnds = TransitionTime(rules.StandardDate, standard.wYear) + llDaylightBias;
    bDaylight = llBegins < llEnds ? (llSeconds >= llBegins && llSeconds < llEnds)
                                  : (llSeconds >= llBegins || llSeconds < llEnds);
  }
  FillSystemTime(llSeconds - (bDaylight ? (rules.Bias + rules.DaylightBias) * 60LL : llStandardBias), lpTime);
}

}  // namespace kx
