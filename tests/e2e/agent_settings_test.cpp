// The session and settings commands as the terminal sees them: show date, show
// version, set timeout (and the session time-out it controls), set encoding, logoff.
#include <iconv.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>

#include "e2e_support.h"

namespace kx {
namespace e2e {
namespace {

// Seconds between a printed "YYYY-MM-DD hh:mm:ss" and a broken-down time.
long SecondsBetween(const std::smatch& match, size_t nFirst, const std::tm& reference) {
  std::tm printed = {};
  printed.tm_year = std::atoi(match[nFirst].str().c_str()) - 1900;
  printed.tm_mon = std::atoi(match[nFirst + 1].str().c_str()) - 1;
  printed.tm_mday = std::atoi(match[nFirst + 2].str().c_str());
  printed.tm_hour = std::atoi(match[nFirst + 3].str().c_str());
  printed.tm_min = std::atoi(match[nFirst + 4].str().c_str());
  printed.tm_sec = std::atoi(match[nFirst + 5].str().c_str());
  std::tm copy = reference;
  return std::labs(static_cast<long>(timegm(&printed) - timegm(&copy)));
}

// Code page 932 text as EUC-JP, converted by the C library.
std::string SjisToEucJp(const std::string& strSjis) {
  iconv_t cd = iconv_open("EUC-JP", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "(iconv unavailable)";
  std::string strIn = strSjis;
  std::string strOut(strIn.size() * 3 + 16, '\0');
  char* pIn = &strIn[0];
  char* pOut = &strOut[0];
  size_t cbIn = strIn.size(), cbOut = strOut.size();
  size_t nResult = iconv(cd, &pIn, &cbIn, &pOut, &cbOut);
  iconv_close(cd);
  if (nResult == static_cast<size_t>(-1)) return "(not convertible)";
  strOut.resize(strOut.size() - cbOut);
  return strOut;
}

class SettingsTest : public CAgentTest {
 protected:
  void SetUp() override {
    StartAgent();
    if (!HasFatalFailure()) LogOn();
  }

  // Runs show version, checks that it opens with the banner (as given, in the
  // terminal's encoding) and the shapes of its other lines, and returns the logon
  // time-out it shows.
  int ShowVersion(const std::string& strBanner) {
    TypeCommand("show version");
    if (HasFatalFailure()) return -1;
    const std::string strPattern =
        RegexLiteral(" Machine Name    : " + GetExpectedMachineName() + "\n") +
        " OS Version      : [^\r\n]+ \\d+\\.\\d+\\.\\d+ \\([^\r\n]*\\)\n"
        " Service Pack    : [^\r\n]+\n"
        "\r\n"
        " Physical Memory : [ \\d]{6,}\\d KB \\(Available : [ \\d]{6,}\\d KB \\[[ \\d]{2}\\d%\\]\\)\n"
        " Page File       : [^\r\n]* KB \\(Available : [^\r\n]* KB \\[[^\r\n]*%\\]\\)\n"
        "\r\n"
        " \\[Current Settings\\]\n"
        " -- Logon Timeout         : (\\d+) seconds\n"
        " -- Eventlog Notification : Off\n"
        "\r\n" +
        RegexLiteral(Prompt());
    ::testing::AssertionResult banner = ReceivesExactly(*m_pAgent, strBanner + "\n");
    if (!banner) {
      ADD_FAILURE() << "show version does not open with the banner: " << banner.message();
      return -1;
    }
    std::string strBytes;
    ::testing::AssertionResult shape = ReceivesMatching(*m_pAgent, Prompt(), strPattern, &strBytes);
    if (!shape) {
      ADD_FAILURE() << shape.message();
      return -1;
    }
    std::smatch match;
    std::regex_match(strBytes, match, std::regex(strPattern));
    return std::atoi(match[1].str().c_str());
  }
};

TEST_F(SettingsTest, ShowDatePrintsLocalAndSystemTime) {
  TypeCommand("show date");
  const std::string strPattern =
      " Local Time : (\\d+)-(\\d\\d)-(\\d\\d) (\\d\\d):(\\d\\d):(\\d\\d)\n"
      " System Time: (\\d+)-(\\d\\d)-(\\d\\d) (\\d\\d):(\\d\\d):(\\d\\d)\n"
      "\r\n" +
      RegexLiteral(Prompt());
  std::string strBytes;
  ASSERT_TRUE(ReceivesMatching(*m_pAgent, Prompt(), strPattern, &strBytes));
  std::smatch match;
  ASSERT_TRUE(std::regex_match(strBytes, match, std::regex(strPattern)));
  std::time_t now = std::time(nullptr);
  std::tm local = {}, utc = {};
  localtime_r(&now, &local);
  gmtime_r(&now, &utc);
  // The agent and the test share the clock and the time zone; the margin only
  // absorbs a slow machine.
  EXPECT_LE(SecondsBetween(match, 1, local), 300) << EscapeBytes(strBytes);
  EXPECT_LE(SecondsBetween(match, 7, utc), 300) << EscapeBytes(strBytes);
}

TEST_F(SettingsTest, ShowVersionPrintsBannerSystemAndSettings) {
  EXPECT_EQ(ShowVersion(m_pAgent->GetBanner()), 180);
}

TEST_F(SettingsTest, SetTimeoutAcceptsZeroTo3600AndRefusesTheRest) {
  const std::string strRefusal = "[Error] Please input an integer between 0 and 3600 into 'SEC'.\n";
  struct {
    const char* lpLine;
    std::string strOutput;
    int nShown;
  } cases[] = {
      {"set timeout 3600", "", 3600},
      {"set timeout 3601", strRefusal, 3600},
      {"set timeout -1", strRefusal, 3600},
      {"set timeout 0", "", 0},
      {"set timeout", "", 180},  // the definition's default
      {"set timeout 42abc", "", 42},
      {"set tim 7", "", 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lpLine);
    TypeCommand(c.lpLine);
    ASSERT_TRUE(ReceivesExactly(*m_pAgent, c.strOutput + Prompt()));
    EXPECT_EQ(ShowVersion(m_pAgent->GetBanner()), c.nShown);
  }
}

TEST_F(SettingsTest, IdleSessionTimesOutToTheLogonScreen) {
  TypeCommand("set timeout 2");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, Prompt()));
  EXPECT_TRUE(ReceivesExactly(*m_pAgent, "\r\nLogon Session Timeout...\n\r\n" + LogonScreen(),
                              3 * kDefaultTimeoutMs));
  // The terminal is back at the user-name state.
  LogOn();
}

TEST_F(SettingsTest, LogoffReturnsToTheLogonScreen) {
  TypeCommand("logoff");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + LogonScreen()));
  ASSERT_TRUE(m_pAgent->Send("\r"));
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "\r\n" + LogonScreen()));
  LogOn(kDave, kDavePassword);
}

TEST_F(SettingsTest, CommandsAreLoggedBeforeTheyRun) {
  TypeCommand("set timeout 3601");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent,
                              "[Error] Please input an integer between 0 and 3600 into 'SEC'.\n" + Prompt()));
  std::string strInfo = m_pAgent->ReadLogFile("info.log");
  EXPECT_TRUE(std::regex_search(
      strInfo, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d INFO  \[Command Execute\] set timeout 3601)"
                          "\r\n")))
      << EscapeBytes(strInfo);
}

TEST_F(SettingsTest, EucJpEncodingConvertsOutputAndShiftJisRestoresIt) {
  TypeCommand("set encoding eucjp");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "Encoding changed to EUC-JP.\n" + Prompt()));
  // The banner is the one text of these commands that may hold Japanese; ASCII
  // passes unchanged, so the output must be its conversion.
  EXPECT_EQ(ShowVersion(SjisToEucJp(m_pAgent->GetBanner())), 180);

  TypeCommand("set encoding utf8");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "[Error] invalid arguments.\n set encoding {sjis|eucjp}\n" + Prompt()));
  TypeCommand("set encoding s");
  ASSERT_TRUE(ReceivesExactly(*m_pAgent, "Encoding changed to Shift-JIS.\n" + Prompt()));
  EXPECT_EQ(ShowVersion(m_pAgent->GetBanner()), 180);
}

}  // namespace
}  // namespace e2e
}  // namespace kx
