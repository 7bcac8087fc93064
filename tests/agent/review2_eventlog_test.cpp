#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <fstream>
#include <string>
#include <vector>

#include "EventLogManager.h"
#include "commands/EventLogCommands.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "tests/support/RecordingWriter.h"
#include "tests/support/TemporarySystemRoot.h"

namespace {

// A manager on a fresh system state directory, for texts that writers control.
class EventLogReviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.Enter("/tmp/kx-review-evt-XXXXXX"));
    m_strRoot = m_root.GetPath();
    m_manager.OpenLogs();
  }
  void TearDown() override {
    m_manager.CloseLogs();
    m_root.Leave();
  }

  void Write(const char* lpSource, const char* lpText) {
    kx::HEVENTSOURCE hSource = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallEventSource("System", lpSource, nullptr));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::RegisterEventLogSource(lpSource, &hSource));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ReportEventLogEntry(hSource, 4, 0, 1, 1, &lpText));
    kx::DeregisterEventLogSource(hSource);
  }

  std::vector<std::string> Show(const char* lpLine) {
    CRecordingWriter writer;
    EXPECT_EQ(1, ShowEventLog(writer, m_manager, "system", lpLine));
    return writer.m_vecLines;
  }

  std::string m_strRoot;
  CTemporarySystemRoot m_root;
  CEventLogManager m_manager;
};

// A lead byte that no trail byte follows must not carry a line break or a tab
// through the cleaning: a writer could otherwise start a line of its own on
// the terminal.
TEST_F(EventLogReviewTest, StrayLeadByteDoesNotShieldLineBreaksOrTabs) {
  Write("Stray", "a\x81\r\nb\x82\tc\x9F\n");
  std::vector<std::string> lines = Show("1");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(std::string::npos, lines[0].find_first_of("\r\n\t")) << lines[0];
  EXPECT_EQ(lines[0].size() - std::strlen("a\x81" "b\x82 c\x9F"), lines[0].rfind("a\x81" "b\x82 c\x9F"));

  char szLine[1024];
  ASSERT_EQ(1, m_manager.GetEventLogMessage("System", 1, szLine, 1));
  EXPECT_EQ(nullptr, std::strpbrk(szLine, "\r\n\t")) << szLine;
}

// Damaged log files read as empty or skip the damaged records; nothing is read
// past what the files hold.
TEST_F(EventLogReviewTest, DamagedLogFilesAreSkippedWithoutACrash) {
  Write("Src", "one");
  Write("Src", "two");
  std::string strIndex = m_strRoot + "/eventlog/System.idx";
  std::string strData = m_strRoot + "/eventlog/System.1.dat";

  // The data file loses its last record's tail: record 1 stays readable.
  std::ifstream in(strData, std::ios::binary);
  std::string strBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  ASSERT_GT(strBytes.size(), 10u);
  std::ofstream(strData, std::ios::binary | std::ios::trunc) << strBytes.substr(0, strBytes.size() - 10);
  std::vector<std::string> lines = Show("10");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(0u, lines[0].find("[00001] "));

  // An index cut inside its header: the log reads as holding nothing.
  std::ofstream(strIndex, std::ios::binary | std::ios::trunc) << "KXEVLOG1";
  EXPECT_EQ((std::vector<std::string>{"[Error] No records found."}), Show("10"));
  char szLine[1024];
  EXPECT_EQ(0, m_manager.GetEventLogMessage("System", 1, szLine, 0));
}

}  // namespace
