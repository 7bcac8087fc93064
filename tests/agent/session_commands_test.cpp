#include <gtest/gtest.h>

#include <string>

#include "ConsoleSession.h"
#include "SystemErrorText.h"
#include "commands/BuiltInHandlers.h"

namespace {

struct OSNameCase {
  unsigned long dwPlatformId, dwMajor, dwMinor;
  int nProductType;
  unsigned int nSuiteMask;
  const char* lpExpected;
};

TEST(GetOSNameTest, NamesEveryEditionOfTheTable) {
  const OSNameCase cases[] = {
      {1, 4, 0, 0, 0, "Windows 95"},
      {1, 4, 10, 0, 0, "Windows 98"},
      {1, 4, 90, 0, 0, "Windows Me"},
      {2, 3, 51, 0, 0, "Windows NT 3.51"},
      {2, 4, 0, 0, 0, "Windows NT 4.0"},
      {2, 5, 0, 1, 0x80, "Windows 2000 Professional"},
      {2, 5, 0, 3, 0x82, "Windows 2000 Data Center Server"},
      {2, 5, 0, 3, 0x02, "Windows 2000 Advanced Server"},
      {2, 5, 0, 3, 0, "Windows 2000 Server"},
      {2, 5, 1, 1, 0x200, "Windows XP Home Edition"},
      {2, 5, 1, 1, 0, "Windows XP Professional"},
      {2, 5, 2, 3, 0x80, "Windows Server 2003, Datacenter Edition"},
      {2, 5, 2, 3, 0x402, "Windows Server 2003, Enterprise Edition"},
      {2, 5, 2, 3, 0x400, "Windows Server 2003, Web Edition"},
      {2, 5, 2, 3, 0, "Windows Server 2003"},
      {2, 7, 0, 3, 0, "Unknown"},
      {1, 4, 20, 0, 0, "Unknown"},
      {3, 5, 1, 1, 0, "Unknown"},
  };
  for (const OSNameCase& c : cases) {
    EXPECT_STREQ(c.lpExpected,
                 GetOSName(c.dwPlatformId, c.dwMajor, c.dwMinor, c.nProductType, c.nSuiteMask, 0))
        << c.dwPlatformId << " " << c.dwMajor << "." << c.dwMinor;
  }
}

struct LaterOSNameCase {
  unsigned long dwMajor, dwMinor, dwBuild;
  int nProductType;
  const char* lpExpected;
};

// Client (product type 1) and server (2, a domain controller, or 3) editions of
// one version differ; within 10.0 the build number decides at each release's
// first build.
TEST(GetOSNameTest, NamesTheSystemsAfter2003ByProductTypeAndBuild) {
  const LaterOSNameCase cases[] = {
      {6, 0, 6002, 1, "Windows Vista"},         {6, 0, 6003, 3, "Windows Server 2008"},
      {6, 1, 7601, 1, "Windows 7"},             {6, 1, 7601, 2, "Windows Server 2008 R2"},
      {6, 2, 9200, 1, "Windows 8"},             {6, 2, 9200, 3, "Windows Server 2012"},
      {6, 3, 9600, 1, "Windows 8.1"},           {6, 3, 9600, 3, "Windows Server 2012 R2"},
      {10, 0, 10240, 1, "Windows 10"},          {10, 0, 14393, 3, "Windows Server 2016"},
      {10, 0, 17762, 3, "Windows Server 2016"}, {10, 0, 17763, 3, "Windows Server 2019"},
      {10, 0, 19045, 1, "Windows 10"},          {10, 0, 20348, 2, "Windows Server 2022"},
      {10, 0, 21999, 1, "Windows 10"},          {10, 0, 22000, 1, "Windows 11"},
      {10, 0, 26100, 1, "Windows 11"},          {10, 0, 26100, 3, "Windows Server 2025"},
      {6, 4, 9841, 1, "Unknown"},               {11, 0, 30000, 1, "Unknown"},
  };
  for (const LaterOSNameCase& c : cases) {
    EXPECT_STREQ(c.lpExpected, GetOSName(2, c.dwMajor, c.dwMinor, c.nProductType, 0, c.dwBuild))
        << c.dwMajor << "." << c.dwMinor << "." << c.dwBuild << " type " << c.nProductType;
  }
}

TEST(FormatMemoryLineTest, PercentIsTruncatedPaddedAndSafeForAnEmptyPageFile) {
  EXPECT_EQ(" Physical Memory :    1024 KB (Available :    1024 KB [100%])",
            FormatMemoryLine("Physical Memory", 1 << 20, 1 << 20));
  EXPECT_EQ(" Page File       :    1000 KB (Available :      50 KB [  5%])",
            FormatMemoryLine("Page File", 1000 * 1024, 50 * 1024 + 1023));
  EXPECT_EQ(" Page File       :       0 KB (Available :       0 KB [  0%])",
            FormatMemoryLine("Page File", 0, 0));
  // 2 of 3 bytes is 66.66 %: truncated, not rounded.
  EXPECT_EQ(" Page File       :       0 KB (Available :       0 KB [ 66%])",
            FormatMemoryLine("Page File", 3, 2));
}

TEST(SystemErrorTextTest, KnownCodeIsCutAtItsLineEndAndUnknownCodeSaysSo) {
  EXPECT_EQ("[Error] (0x00000005) Access is denied.", GetSystemErrorText(5));
  EXPECT_EQ("[Error] (0x0000052e) Logon failure: unknown user name or bad password.",
            GetSystemErrorText(1326));
  EXPECT_EQ("[Error] (0x7fff0001) Unknown error.", GetSystemErrorText(0x7fff0001));
}

TEST(BannerTest, FirstLineNamesTheVersionAndEveryLineEndsWithCrLf) {
  std::string strBanner = CConsoleSession::GetBanner();
  EXPECT_EQ(0u, strBanner.find("Kestrix Agent for Windows Version 1.1.0\r\n"));
  EXPECT_EQ("\r\n", strBanner.substr(strBanner.size() - 2));
  size_t nLines = 0;
  for (size_t nPos = strBanner.find("\r\n"); nPos != std::string::npos;
       nPos = strBanner.find("\r\n", nPos + 2)) {
    ++nLines;
  }
  EXPECT_EQ(2u, nLines);
}

}  // namespace
