#include <gtest/gtest.h>

#include <thread>

#include "platform/sync.h"

namespace {

TEST(CEvent, AutoResetReleasesOneWaitThenClears) {
  kx::CEvent event(FALSE, TRUE);
  EXPECT_EQ(WAIT_OBJECT_0, event.Wait(0));
  EXPECT_EQ(WAIT_TIMEOUT, event.Wait(10));
}

TEST(CEvent, ManualResetStaysSetUntilReset) {
  kx::CEvent event(TRUE, FALSE, "READ_1");
  EXPECT_EQ(WAIT_TIMEOUT, event.Wait(0));
  event.Set();
  EXPECT_EQ(WAIT_OBJECT_0, event.Wait(0));
  EXPECT_EQ(WAIT_OBJECT_0, event.Wait(0));
  event.Reset();
  EXPECT_EQ(WAIT_TIMEOUT, event.Wait(0));
}

TEST(CEvent, SetFromAnotherThreadWakesAnInfiniteWait) {
  kx::CEvent event(FALSE, FALSE);
  std::thread setter([&event] { event.Set(); });
  EXPECT_EQ(WAIT_OBJECT_0, event.Wait(INFINITE));
  setter.join();
}

TEST(GetTickCount, NeverGoesBackwardAcrossASleep) {
  DWORD dwBefore = kx::GetTickCount();
  kx::Sleep(20);
  DWORD dwElapsed = kx::GetTickCount() - dwBefore;  // unsigned: correct across the wrap
  EXPECT_GE(dwElapsed, 20u);
}

TEST(GetLocalTime, FieldsAreInTheirRanges) {
  kx::SYSTEMTIME local;
  kx::SYSTEMTIME utc;
  kx::GetLocalTime(&local);
  kx::GetSystemTime(&utc);
  for (const kx::SYSTEMTIME* t : {&local, &utc}) {
    EXPECT_GE(t->wYear, 2020);
    EXPECT_GE(t->wMonth, 1);
    EXPECT_LE(t->wMonth, 12);
    EXPECT_GE(t->wDay, 1);
    EXPECT_LE(t->wDay, 31);
    EXPECT_LE(t->wDayOfWeek, 6);
    EXPECT_LE(t->wHour, 23);
    EXPECT_LE(t->wMinute, 59);
    EXPECT_LE(t->wSecond, 59);
    EXPECT_LE(t->wMilliseconds, 999);
  }
}

}  // namespace
