#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "EventLogManager.h"
#include "KxAgentPluginManager/Writer.h"
#include "commands/EventLogCommands.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "tests/support/RecordingWriter.h"
#include "tests/support/TemporarySystemRoot.h"

namespace {


// A manager on a fresh system state directory.
class ShowEventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.Enter("/tmp/kx-showevent-XXXXXX"));
    m_strRoot = m_root.GetPath();
    m_manager.OpenLogs();
  }
  void TearDown() override {
    m_manager.CloseLogs();
    m_root.Leave();
  }

  void Write(const char* lpLog, const char* lpSource, WORD wType, DWORD dwEventID,
             std::vector<const char*> vecStrings, DWORD dwTimes = 1) {
    std::string strLog;
    if (kx::FindEventSourceLog(lpSource, &strLog) != ERROR_SUCCESS) {
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallEventSource(lpLog, lpSource, nullptr));
    }
    kx::HEVENTSOURCE hSource = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::RegisterEventLogSource(lpSource, &hSource));
    for (DWORD i = 0; i < dwTimes; ++i) {
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                kx::ReportEventLogEntry(hSource, wType, 0, dwEventID, static_cast<WORD>(vecStrings.size()),
                                        vecStrings.data()));
    }
    kx::DeregisterEventLogSource(hSource);
  }

  void SetMaxRecords(const char* lpLog, DWORD dwMax) {
    kx::HEVENTLOG hLog = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenEventLogByName(lpLog, &hLog));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::SetEventLogMaxRecords(hLog, dwMax));
    kx::CloseEventLogHandle(hLog);
  }

  std::string WriteCatalogue(const std::string& strName, const std::string& strText) {
    std::string strPath = m_strRoot + "/" + strName;
    std::ofstream(strPath, std::ios::binary) << strText;
    return strPath;
  }

  std::vector<std::string> Show(const char* lpLog, const char* lpLine) {
    CRecordingWriter writer;
    EXPECT_EQ(1, ShowEventLog(writer, m_manager, lpLog, lpLine));
    return writer.m_vecLines;
  }

  // The message part of a show eventlog line (after "(source:code) ").
  static std::string MessageOf(const std::string& strLine) {
    size_t nPos = strLine.find(") ");
    return nPos == std::string::npos ? "<no message>" : strLine.substr(nPos + 2);
  }

  std::string m_strRoot;
  CTemporarySystemRoot m_root;
  CEventLogManager m_manager;
};

TEST_F(ShowEventLogTest, LinesHaveTheRecordNumberTimeTypeSourceAndCode) {
  Write("System", "Disk", EVENTLOG_ERROR_TYPE, 0xC0070007, {"The device is not ready."});
  std::vector<std::string> lines = Show("system", "10");
  ASSERT_EQ(1u, lines.size());
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("\\[00001\\] \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "
                                                    "\\[ERROR\\] \\(Disk:7\\) The device is not ready\\.")))
      << lines[0];
}

TEST_F(ShowEventLogTest, ShowsTheNewestRecordsOldestFirst) {
  // Newest record 3: LINE 5 asks from record -1, so 0 is tried and skipped silently.
  Write("System", "S", EVENTLOG_INFORMATION_TYPE, 1, {"m"}, 3);
  std::vector<std::string> lines = Show("system", "5");
  ASSERT_EQ(3u, lines.size());
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(0u, lines[i].find("[0000" + std::to_string(i + 1) + "] "));

  // Records 100 to 200 (the log keeps 101): the last five.
  m_manager.CloseLogs();
  Write("Application", "A", EVENTLOG_INFORMATION_TYPE, 1, {"m"}, 200);
  SetMaxRecords("Application", 101);
  m_manager.OpenLogs();
  EXPECT_EQ(101u, m_manager.GetRecordCount("APPLICATION"));
  EXPECT_EQ(200u, m_manager.GetNewestRecordNumber("application"));
  lines = Show("application", "5");
  ASSERT_EQ(5u, lines.size());
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(0u, lines[i].find("[00" + std::to_string(196 + i) + "] "));
  EXPECT_EQ(101u, Show("application", "1000").size());
  EXPECT_EQ(1u, Show("application", "1").size());
}

TEST_F(ShowEventLogTest, LineOutsideOneToThousandIsRefused) {
  Write("Application", "A", EVENTLOG_INFORMATION_TYPE, 1, {"m"});
  // Negative texts and numbers beyond the type's range must not wrap to a small count.
  for (const char* lpLine : {"0", "1001", "-1", "abc", "", "99999999999999999999", "-18446744073709551615",
                             " -5", "4294967297", "18446744073709551617"}) {
    EXPECT_EQ(std::vector<std::string>{"[Error] Please input an integer between 1 and 1000 into 'LINE'."},
              Show("application", lpLine))
        << lpLine;
  }
  // Read as strtoul reads a number: leading blanks skipped, digits up to the first other character.
  for (const char* lpLine : {" 1", "1x", "+1", "0001"}) EXPECT_EQ(1u, Show("application", lpLine).size()) << lpLine;
}

TEST_F(ShowEventLogTest, EmptyOrUnknownLogHasNoRecords) {
  const std::vector<std::string> kNoRecords = {"[Error] No records found."};
  EXPECT_EQ(kNoRecords, Show("security", "10"));
  EXPECT_EQ(kNoRecords, Show("setup", "10"));
  Write("Security", "Sec", EVENTLOG_AUDIT_SUCCESS, 1, {"x"});
  EXPECT_EQ(1u, Show("security", "10").size());
}

TEST_F(ShowEventLogTest, MessagesComeFromTheSourceCatalogueWithInserts) {
  setenv("KX_SHOW_EVENTLOG_TEST_DIR", m_strRoot.c_str(), 1);
  WriteCatalogue("first.msg", "MessageId=0x1\nfirst only\n.\n");
  WriteCatalogue("app.msg",
                 "MessageId=0x40000101\n"
                 "User %1 did %2.\n"
                 "Second\tline\n"
                 ".\n"
                 "MessageId=5\n"
                 "Needs %1, %2 and %3!s!\n"
                 ".\n");
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            kx::InstallEventSource("Application", "App",
                                   "%KX_SHOW_EVENTLOG_TEST_DIR%/first.msg;%KX_SHOW_EVENTLOG_TEST_DIR%/app.msg"));
  Write("Application", "App", EVENTLOG_INFORMATION_TYPE, 0x40000101, {"alice", "this"});
  // The message wants three strings; the record carries one.
  Write("Application", "App", EVENTLOG_WARNING_TYPE, 5, {"one"});
  // No message of that ID in any catalogue.
  Write("Application", "App", EVENTLOG_ERROR_TYPE, 0xC0000103, {"ignored"});
  // Event ID 0 never consults the catalogues.
  Write("Application", "App", EVENTLOG_INFORMATION_TYPE, 0, {"plain text"});

  std::vector<std::string> lines = Show("application", "10");
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("User alice did this.Second line", MessageOf(lines[0]));
  EXPECT_EQ("Needs one, %2 and %3!s!", MessageOf(lines[1]));
  EXPECT_EQ("## An event message cannot be displayed. (EID:C0000103) ##", MessageOf(lines[2]));
  EXPECT_NE(std::string::npos, lines[2].find("(App:259) "));
  EXPECT_EQ("plain text", MessageOf(lines[3]));

  // A catalogue that cannot be loaded ends the search, even when a later one has the message.
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            kx::InstallEventSource("Application", "App",
                                   "%KX_SHOW_EVENTLOG_TEST_DIR%/missing.msg;%KX_SHOW_EVENTLOG_TEST_DIR%/app.msg"));
  EXPECT_EQ("## An event message cannot be displayed. (EID:40000101) ##",
            MessageOf(Show("application", "4")[0]));
  unsetenv("KX_SHOW_EVENTLOG_TEST_DIR");
}

TEST_F(ShowEventLogTest, WithoutCatalogueTheFirstStringIsTheCleanedMessage) {
  Write("System", "Plain", EVENTLOG_WARNING_TYPE, 0x80000102, {"line one\r\nline\ttwo\r\n", "second"});
  Write("System", "Plain", EVENTLOG_INFORMATION_TYPE, 3, {});
  // "表" (0x95 0x5C) and "ソ" (0x83 0x5C) keep their trail bytes; tabs become blanks.
  Write("System", "Plain", EVENTLOG_INFORMATION_TYPE, 4, {"\x95\x5C\t\x83\x5C\r\n\x82\xA0"});
  std::vector<std::string> lines = Show("system", "10");
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("line oneline two", MessageOf(lines[0]));
  // No strings and no catalogue: the line ends after the parenthesised source and code.
  EXPECT_EQ(lines[1].size() - std::strlen("(Plain:3) "), lines[1].rfind("(Plain:3) "));
  EXPECT_EQ("\x95\x5C \x83\x5C\x82\xA0", MessageOf(lines[2]));
}

TEST_F(ShowEventLogTest, TypeNamesCoverEveryEventType) {
  const struct {
    WORD wType;
    const char* lpName;
  } kTypes[] = {{0, "SUCCESS"},        {1, "ERROR"},          {2, "WARNING"}, {4, "INFO"},
                {8, "AUDIT_SUCCESS"}, {16, "AUDIT_FAILURE"}, {3, "UNKNOWN"}, {0x100, "UNKNOWN"}};
  for (const auto& type : kTypes) Write("Security", "Sec", type.wType, 1, {"x"});
  std::vector<std::string> lines = Show("security", "100");
  ASSERT_EQ(sizeof(kTypes) / sizeof(kTypes[0]), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NE(std::string::npos, lines[i].find(std::string("[") + kTypes[i].lpName + "] (Sec:1) ")) << lines[i];
  }
}

TEST_F(ShowEventLogTest, NotifyFormatNamesTheLogAsPassedIn) {
  Write("System", "Svc", EVENTLOG_ERROR_TYPE, 0x10005, {"stopped\r\n"});
  char szLine[1024];
  ASSERT_EQ(1, m_manager.GetEventLogMessage("system", 1, szLine, 1));
  EXPECT_TRUE(std::regex_match(std::string(szLine),
                               std::regex("\\* \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\[system:ERROR\\] "
                                          "\\(Svc:5\\) stopped")))
      << szLine;
  EXPECT_EQ(0, m_manager.GetEventLogMessage("system", 2, szLine, 1));
  EXPECT_EQ(0, m_manager.GetEventLogMessage("nolog", 1, szLine, 0));
}

TEST_F(ShowEventLogTest, LongMessagesAreCutToOneLineOf1023Bytes) {
  // Double-byte characters from an odd offset: the cut must not split one.
  std::string strLong = "x";
  for (int i = 0; i < 3000; ++i) strLong += "\x82\xA0";
  Write("Application", "Long", EVENTLOG_INFORMATION_TYPE, 1, {strLong.c_str()});
  std::vector<std::string> lines = Show("application", "1");
  ASSERT_EQ(1u, lines.size());
  EXPECT_GE(lines[0].size(), 1022u);
  EXPECT_LE(lines[0].size(), 1023u);
  std::string strMessage = MessageOf(lines[0]);
  EXPECT_EQ(0u, (strMessage.size() - 1) % 2);
  EXPECT_EQ('\xA0', strMessage.back());
}

TEST_F(ShowEventLogTest, RecordNumbersArePaddedToFiveDigitsAndGrowBeyond) {
  SetMaxRecords("System", 3);
  Write("System", "S", EVENTLOG_INFORMATION_TYPE, 1, {"m"}, 100001);
  std::vector<std::string> lines = Show("system", "3");
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(0u, lines[0].find("[99999] "));
  EXPECT_EQ(0u, lines[1].find("[100000] "));
  EXPECT_EQ(0u, lines[2].find("[100001] "));
}

// A lead byte that no trail byte follows must not carry a line break or a tab
// through the cleaning (a writer could otherwise start a line of its own on
// the terminal), nor reach the terminal itself.
TEST_F(ShowEventLogTest, StrayLeadByteDoesNotShieldLineBreaksOrTabs) {
  Write("System", "Stray", EVENTLOG_INFORMATION_TYPE, 1, {"a\x81\r\nb\x82\tc\x9F\n"});
  std::vector<std::string> lines = Show("system", "1");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(std::string::npos, lines[0].find_first_of("\r\n\t")) << lines[0];
  // Once the line break has gone, 0x81 and 'b' make one character; the other
  // stray lead bytes are shown as '?' (0x9B alone would be a terminal's CSI).
  const char* lpTail = "a\x81" "b? c?";
  EXPECT_EQ(lines[0].size() - std::strlen(lpTail), lines[0].rfind(lpTail)) << lines[0];

  char szLine[1024];
  ASSERT_EQ(1, m_manager.GetEventLogMessage("System", 1, szLine, 1));
  EXPECT_EQ(nullptr, std::strpbrk(szLine, "\r\n\t")) << szLine;
}

// Damaged log files read as empty or skip the damaged records; nothing is read
// past what the files hold.
TEST_F(ShowEventLogTest, DamagedLogFilesAreSkippedWithoutACrash) {
  Write("System", "Src", EVENTLOG_INFORMATION_TYPE, 1, {"one"});
  Write("System", "Src", EVENTLOG_INFORMATION_TYPE, 1, {"two"});
  std::string strIndex = m_strRoot + "/eventlog/System.idx";
  std::string strData = m_strRoot + "/eventlog/System.1.dat";

  // The data file loses its last record's tail: record 1 stays readable.
  std::ifstream in(strData, std::ios::binary);
  std::string strBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  ASSERT_GT(strBytes.size(), 10u);
  std::ofstream(strData, std::ios::binary | std::ios::trunc) << strBytes.substr(0, strBytes.size() - 10);
  std::vector<std::string> lines = Show("system", "10");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(0u, lines[0].find("[00001] "));

  // An index cut inside its header: the log reads as holding nothing.
  std::ofstream(strIndex, std::ios::binary | std::ios::trunc) << "KXEVLOG1";
  EXPECT_EQ((std::vector<std::string>{"[Error] No records found."}), Show("system", "10"));
  char szLine[1024];
  EXPECT_EQ(0, m_manager.GetEventLogMessage("System", 1, szLine, 0));
}

}  // namespace
