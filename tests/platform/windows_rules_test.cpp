// The rules the Windows side of the platform layer applies, run on every
// system: local time by the time-zone rules of a time's own date, the logon
// name as LogonUser wants it, and the choice of an error text.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/accounts.h"
#include "platform/error_text.h"
#include "platform/sync.h"

namespace {

// Transition rules: {year 0, month, weekday (0 Sunday), occurrence (5 last), hour}.
kx::SYSTEMTIME Rule(WORD wMonth, WORD wOccurrence, WORD wHour) { return {0, wMonth, 0, wOccurrence, wHour, 0, 0, 0}; }

const kx::TIME_ZONE_RULES kNewYork = {300, 0, -60, Rule(11, 1, 2), Rule(3, 2, 2)};
const kx::TIME_ZONE_RULES kBerlin = {-60, 0, -60, Rule(10, 5, 3), Rule(3, 5, 2)};
const kx::TIME_ZONE_RULES kSydney = {-600, 0, -60, Rule(4, 1, 3), Rule(10, 1, 2)};
const kx::TIME_ZONE_RULES kTokyo = {-540, 0, 0, {}, {}};

struct ZoneTimeCase {
  const char* lpZone;
  const kx::TIME_ZONE_RULES* pRules;
  long long llUtc;
  const char* lpLocal;
};

// Each time takes the daylight-saving state of its own date, whatever the
// season is today: winter and summer records of one log differ by the
// zone's daylight bias, and the transitions fall at the local hour they name.
TEST(UnixTimeToZoneTime, AppliesTheRulesOfTheTimesOwnDate) {
  const ZoneTimeCase kCases[] = {
      {"New York, winter", &kNewYork, 1610712000, "2021-01-15 07:00:00 5"},
      {"New York, summer", &kNewYork, 1626350400, "2021-07-15 08:00:00 4"},
      {"New York, before spring", &kNewYork, 1615705199, "2021-03-14 01:59:59 0"},
      {"New York, spring", &kNewYork, 1615705200, "2021-03-14 03:00:00 0"},
      {"New York, before autumn", &kNewYork, 1636264799, "2021-11-07 01:59:59 0"},
      {"New York, autumn", &kNewYork, 1636264800, "2021-11-07 01:00:00 0"},
      {"Berlin, last Sunday of March", &kBerlin, 1616893199, "2021-03-28 01:59:59 0"},
      {"Berlin, spring", &kBerlin, 1616893200, "2021-03-28 03:00:00 0"},
      {"Berlin, last Sunday of October", &kBerlin, 1635641999, "2021-10-31 02:59:59 0"},
      {"Berlin, autumn", &kBerlin, 1635642000, "2021-10-31 02:00:00 0"},
      {"Sydney, January is summer", &kSydney, 1610668800, "2021-01-15 11:00:00 5"},
      {"Sydney, July is winter", &kSydney, 1626307200, "2021-07-15 10:00:00 4"},
      {"Tokyo, no daylight saving", &kTokyo, 1626350400, "2021-07-15 21:00:00 4"},
      {"Tokyo, the epoch", &kTokyo, 0, "1970-01-01 09:00:00 4"},
  };
  for (const ZoneTimeCase& c : kCases) {
    kx::SYSTEMTIME time = {};
    kx::UnixTimeToZoneTime(c.llUtc, *c.pRules, &time);
    char szTime[64];
    std::snprintf(szTime, sizeof(szTime), "%04u-%02u-%02u %02u:%02u:%02u %u", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond, time.wDayOfWeek);
    EXPECT_STREQ(c.lpLocal, szTime) << c.lpZone;
  }
}

struct LogonNameCase {
  const char* lpUser;
  const char* lpDomain;
  const char* lpExpectedUser;
  const char* lpExpectedDomain;  // null: LogonUser gets no domain
};

TEST(SplitLogonName, GivesLogonUserTheNamesItExpects) {
  const LogonNameCase kCases[] = {
      {"alice", "", "alice", "."},
      {"alice", ".", "alice", "."},
      {"alice", "CORP", "alice", "CORP"},
      {"CORP\\alice", "", "alice", "CORP"},
      {"CORP\\alice", ".", "alice", "CORP"},
      {"alice@corp.example", "", "alice@corp.example", nullptr},
      // A domain given with the name: the name passes as typed.
      {"CORP\\alice", "OTHER", "CORP\\alice", "OTHER"},
      // A backslash at either end names no domain or no user.
      {"\\alice", "", "\\alice", "."},
      {"CORP\\", "", "CORP\\", "."},
      // 0x5C as the second byte of a double-byte character is no backslash.
      {"\x95\x5C" "a", "", "\x95\x5C" "a", "."},
      {"\x95\x5C\\a", "", "a", "\x95\x5C"},
  };
  for (const LogonNameCase& c : kCases) {
    std::string strUser, strDomain;
    BOOL bNoDomain = FALSE;
    kx::SplitLogonName(c.lpUser, c.lpDomain, &strUser, &strDomain, &bNoDomain);
    EXPECT_EQ(c.lpExpectedUser, strUser) << c.lpUser << " / " << c.lpDomain;
    EXPECT_EQ(c.lpExpectedDomain == nullptr, bNoDomain != FALSE) << c.lpUser << " / " << c.lpDomain;
    if (c.lpExpectedDomain != nullptr) {
      EXPECT_EQ(c.lpExpectedDomain, strDomain) << c.lpUser;
    }
  }
}

struct MessageCase {
  const char* lpSystemText;
  DWORD dwCode;
  const char* lpExpected;
};

// The system's own text wins, without its line end; the table stands in when
// the system has none, the logon codes included; else nothing.
TEST(ChooseSystemMessage, TakesTheSystemsTextWithTheTableAsFallback) {
  const MessageCase kCases[] = {
      {"Access is denied.\r\n", 5, "Access is denied."},
      {"A text of the system's own.\r\n", 1326, "A text of the system's own."},
      {"\r\n", 5, "Access is denied."},
      {"", 1385, "Logon failure: the user has not been granted the requested logon type at this computer."},
      {"", 1311, "There are currently no logon servers available to service the logon request."},
      {"", 1907, "The user's password must be changed before logging on the first time."},
      {"", 1328, "Logon failure: account logon time restriction violation."},
      {"", 1329, "Logon failure: user not allowed to log on to this computer."},
      {"", 1355, "The specified domain either does not exist or could not be contacted."},
      {"", 1314, "A required privilege is not held by the client."},
      {"", 0xDEAD, ""},
  };
  for (const MessageCase& c : kCases) {
    EXPECT_EQ(c.lpExpected, kx::ChooseSystemMessage(c.lpSystemText, c.dwCode)) << c.dwCode;
  }
}

}  // namespace
