#include "platform/event_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/error_codes.h"
#include "tests/support/TemporarySystemRoot.h"

namespace {

// A fresh system state directory for each test, and the previous one back after it.
class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.Enter("/tmp/kx-eventlog-XXXXXX"));
    m_strRoot = m_root.GetPath();
  }
  void TearDown() override {
    m_root.Leave();
  }

  static DWORD Write(const char* lpSource, WORD wType, DWORD dwEventID, std::vector<const char*> vecStrings) {
    kx::HEVENTSOURCE hSource = nullptr;
    DWORD dwError = kx::RegisterEventLogSource(lpSource, &hSource);
    if (dwError != ERROR_SUCCESS) return dwError;
    dwError = kx::ReportEventLogEntry(hSource, wType, 0, dwEventID, static_cast<WORD>(vecStrings.size()),
                                      vecStrings.data());
    kx::DeregisterEventLogSource(hSource);
    return dwError;
  }

  // Reads one record whole; empty when it cannot be read.
  static std::vector<BYTE> Read(kx::HEVENTLOG hLog, DWORD dwNumber, DWORD* pdwError = nullptr) {
    DWORD dwRead = 0, dwNeeded = 0;
    BYTE probe[1];
    DWORD dwError = kx::ReadEventLogRecord(hLog, dwNumber, probe, 1, &dwRead, &dwNeeded);
    if (pdwError != nullptr) *pdwError = dwError;
    if (dwError != ERROR_INSUFFICIENT_BUFFER) return {};
    std::vector<BYTE> record(dwNeeded);
    dwError = kx::ReadEventLogRecord(hLog, dwNumber, record.data(), dwNeeded, &dwRead, &dwNeeded);
    if (pdwError != nullptr) *pdwError = dwError;
    if (dwError != ERROR_SUCCESS) return {};
    return record;
  }

  static kx::EVENTLOGRECORD Header(const std::vector<BYTE>& record) {
    kx::EVENTLOGRECORD header;
    std::memcpy(&header, record.data(), sizeof(header));
    return header;
  }

  static std::vector<std::string> Strings(const std::vector<BYTE>& record) {
    kx::EVENTLOGRECORD header = Header(record);
    std::vector<std::string> strings;
    const char* p = reinterpret_cast<const char*>(record.data()) + header.StringOffset;
    for (WORD i = 0; i < header.NumStrings; ++i) {
      strings.push_back(p);
      p += strings.back().size() + 1;
    }
    return strings;
  }

  static DWORD Count(kx::HEVENTLOG hLog) {
    DWORD dwCount = 0xDEAD;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetNumberOfEventLogRecords(hLog, &dwCount));
    return dwCount;
  }
  static DWORD Oldest(kx::HEVENTLOG hLog) {
    DWORD dwOldest = 0xDEAD;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetOldestEventLogRecord(hLog, &dwOldest));
    return dwOldest;
  }

  std::string WriteFile(const std::string& strName, const std::string& strText) {
    std::string strPath = m_strRoot + "/" + strName;
    std::ofstream(strPath, std::ios::binary) << strText;
    return strPath;
  }

  std::string m_strRoot;
  CTemporarySystemRoot m_root;
};

TEST_F(EventLogTest, RecordsAreNumberedFromOneAndReadBackByNumber) {
  kx::HEVENTLOG hLog = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenEventLogByName("application", &hLog));
  // A log nobody wrote is empty; its oldest number is the one the first record gets.
  EXPECT_EQ(0u, Count(hLog));
  EXPECT_EQ(1u, Oldest(hLog));

  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Write("SrcA", EVENTLOG_ERROR_TYPE, 0xC0000103, {"one"}));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Write("SrcB", EVENTLOG_WARNING_TYPE, 7, {"first", "", "third"}));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Write("SrcA", EVENTLOG_SUCCESS, 0, {}));
  EXPECT_EQ(3u, Count(hLog));
  EXPECT_EQ(1u, Oldest(hLog));

  std::vector<BYTE> record = Read(hLog, 2);
  ASSERT_FALSE(record.empty());
  kx::EVENTLOGRECORD header = Header(record);
  EXPECT_EQ(2u, header.RecordNumber);
  EXPECT_EQ(7u, header.EventID);
  EXPECT_EQ(EVENTLOG_WARNING_TYPE, header.EventType);
  EXPECT_EQ(record.size(), header.Length);
  EXPECT_STREQ("SrcB", reinterpret_cast<const char*>(record.data()) + sizeof(kx::EVENTLOGRECORD));
  EXPECT_EQ((std::vector<std::string>{"first", "", "third"}), Strings(record));
  EXPECT_LE(header.TimeGenerated, static_cast<DWORD>(time(nullptr)));
  EXPECT_GT(header.TimeGenerated, 1600000000u);

  EXPECT_EQ(0u, Header(Read(hLog, 3)).NumStrings);

  DWORD dwError = 0;
  for (DWORD dwNumber : {0u, 4u, 0xFFFFFFFFu}) {
    EXPECT_TRUE(Read(hLog, dwNumber, &dwError).empty()) << dwNumber;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), dwError) << dwNumber;
  }
  kx::CloseEventLogHandle(hLog);
}

TEST_F(EventLogTest, UnknownLogNamesAreRefusedAndKnownOnesMatchInAnyCase) {
  kx::HEVENTLOG hLog = reinterpret_cast<kx::HEVENTLOG>(1);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), kx::OpenEventLogByName("Setup", &hLog));
  EXPECT_EQ(nullptr, hLog);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), kx::OpenEventLogByName("", &hLog));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), kx::OpenEventLogByName(nullptr, &hLog));
  EXPECT_STREQ("System", kx::GetCanonicalEventLogName("sYsTeM"));
  EXPECT_STREQ("Security", kx::GetCanonicalEventLogName("SECURITY"));
  EXPECT_EQ(nullptr, kx::GetCanonicalEventLogName("System "));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), kx::InstallEventSource("Apps", "X", nullptr));
}

TEST_F(EventLogTest, ClearEmptiesTheLogAndNumberingStartsAgainAtOne) {
  kx::HEVENTLOG hLog = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenEventLogByName("Application", &hLog));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Write("S", 4, 1, {"x"}));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ClearEventLogRecords(hLog));
  EXPECT_EQ(0u, Count(hLog));
  EXPECT_EQ(1u, Oldest(hLog));
  EXPECT_TRUE(Read(hLog, 1).empty());
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Write("S", 4, 1, {"after"}));
  EXPECT_EQ(1u, Count(hLog));
  EXPECT_EQ((std::vector<std::string>{"after"}), Strings(Read(hLog, 1)));
  kx::CloseEventLogHandle(hLog);
}

TEST_F(EventLogTest, MaximumRecordCountDropsTheOldestRecords) {
  kx::HEVENTLOG hLog = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenEventLogByName("System", &hLog));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallEventSource("System", "Sys", nullptr));
  kx::HEVENTSOURCE hSource = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::RegisterEventLogSource("Sys", &hSource));
  for (int i = 1; i <= 200; ++i) {
    std::string strText = "r" + std::to_string(i);
    const char* lpText = strText.c_str();
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ReportEventLogEntry(hSource, 4, 0, 1, 1, &lpText));
  }
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::SetEventLogMaxRecords(hLog, 101));
  EXPECT_EQ(100u, Oldest(hLog));
  EXPECT_EQ(101u, Count(hLog));
  EXPECT_TRUE(Read(hLog, 99).empty());
  EXPECT_EQ((std::vector<std::string>{"r100"}), Strings(Read(hLog, 100)));

  // Far more writes than the maximum: the dropped records are compacted away
  // and every record kept still reads back under its own number.
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::SetEventLogMaxRecords(hLog, 10));
  for (int i = 201; i <= 5000; ++i) {
    std::string strText = "r" + std::to_string(i);
    const char* lpText = strText.c_str();
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ReportEventLogEntry(hSource, 4, 0, 1, 1, &lpText));
  }
  kx::DeregisterEventLogSource(hSource);
  EXPECT_EQ(4991u, Oldest(hLog));
  EXPECT_EQ(10u, Count(hLog));
  for (DWORD dwNumber = 4991; dwNumber <= 5000; ++dwNumber) {
    EXPECT_EQ((std::vector<std::string>{"r" + std::to_string(dwNumber)}), Strings(Read(hLog, dwNumber)));
  }
  DWORD dwMax = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetEventLogMaxRecords(hLog, &dwMax));
  EXPECT_EQ(10u, dwMax);
  // The maximum survives a clear.
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ClearEventLogRecords(hLog));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetEventLogMaxRecords(hLog, &dwMax));
  EXPECT_EQ(10u, dwMax);
  kx::CloseEventLogHandle(hLog);
}

TEST_F(EventLogTest, ConcurrentWriterProcessesLoseAndTearNothing) {
  const int kWriters = 4;
  const int kRecordsEach = 250;
  std::vector<pid_t> children;
  for (int k = 0; k < kWriters; ++k) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      kx::HEVENTSOURCE hSource = nullptr;
      if (kx::RegisterEventLogSource("Writer", &hSource) != ERROR_SUCCESS) _exit(1);
      for (int i = 0; i < kRecordsEach; ++i) {
        // Records of different sizes, so that a torn write would show.
        std::string strTag = std::to_string(k) + ":" + std::to_string(i);
        std::string strPad(static_cast<size_t>((i * 37 + k * 11) % 300), 'x');
        const char* strings[2] = {strTag.c_str(), strPad.c_str()};
        if (kx::ReportEventLogEntry(hSource, 4, 0, 1, 2, strings) != ERROR_SUCCESS) _exit(2);
      }
      kx::DeregisterEventLogSource(hSource);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int nStatus = 0;
    ASSERT_EQ(pid, waitpid(pid, &nStatus, 0));
    ASSERT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << nStatus;
  }

  kx::HEVENTLOG hLog = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenEventLogByName("Application", &hLog));
  ASSERT_EQ(static_cast<DWORD>(kWriters * kRecordsEach), Count(hLog));
  std::set<std::string> seen;
  for (DWORD dwNumber = 1; dwNumber <= static_cast<DWORD>(kWriters * kRecordsEach); ++dwNumber) {
    std::vector<BYTE> record = Read(hLog, dwNumber);
    ASSERT_FALSE(record.empty()) << dwNumber;
    EXPECT_EQ(dwNumber, Header(record).RecordNumber);
    std::vector<std::string> strings = Strings(record);
    ASSERT_EQ(2u, strings.size());
    size_t nColon = strings[0].find(':');
    int k = std::stoi(strings[0].substr(0, nColon));
    int i = std::stoi(strings[0].substr(nColon + 1));
    EXPECT_EQ(std::string(static_cast<size_t>((i * 37 + k * 11) % 300), 'x'), strings[1]);
    EXPECT_TRUE(seen.insert(strings[0]).second) << "twice: " << strings[0];
  }
  EXPECT_EQ(static_cast<size_t>(kWriters * kRecordsEach), seen.size());
  kx::CloseEventLogHandle(hLog);
}

TEST_F(EventLogTest, ADamagedRecordIsReportedNotHandedOut) {
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Write("S", 4, 1, {"intact"}));
  // Overwrite the record's middle in the data file.
  std::string strData = m_strRoot + "/eventlog/Application.1.dat";
  std::fstream file(strData, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(file.good());
  file.seekp(8);
  file.write("\xFF\xFF\xFF\xFF", 4);
  file.close();
  kx::HEVENTLOG hLog = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenEventLogByName("Application", &hLog));
  DWORD dwError = 0;
  EXPECT_TRUE(Read(hLog, 1, &dwError).empty());
  EXPECT_EQ(static_cast<DWORD>(ERROR_EVENTLOG_FILE_CORRUPT), dwError);
  kx::CloseEventLogHandle(hLog);
}

TEST_F(EventLogTest, ChangeWaiterWakesOnAWriteFromAnotherProcessAndOnWake) {
  kx::CEventLogChangeWaiter waiter;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), waiter.AddLog("Application"));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), waiter.AddLog("Security"));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), waiter.AddLog("System"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), waiter.AddLog("Other"));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallEventSource("System", "SysSrc", nullptr));

  DWORD dwMask = 0;
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), waiter.Wait(50, &dwMask));

  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(Write("SysSrc", 1, 1, {"x"}) == ERROR_SUCCESS ? 0 : 1);
  // Without a time-out: only the write can end this wait.
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), waiter.Wait(INFINITE, &dwMask));
  EXPECT_EQ(4u, dwMask);
  int nStatus = 0;
  waitpid(pid, &nStatus, 0);
  EXPECT_EQ(0, nStatus);

  // The write may have come in several steps; take them all before going on.
  while (waiter.Wait(0, &dwMask) == WAIT_OBJECT_0) {
  }
  std::thread waker([&waiter] { waiter.Wake(); });
  EXPECT_EQ(static_cast<DWORD>(WAIT_IO_COMPLETION), waiter.Wait(INFINITE, &dwMask));
  waker.join();

  // A clear is a change too.
  kx::HEVENTLOG hLog = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenEventLogByName("System", &hLog));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::ClearEventLogRecords(hLog));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), waiter.Wait(INFINITE, &dwMask));
  EXPECT_EQ(4u, dwMask);
  kx::CloseEventLogHandle(hLog);
}

TEST_F(EventLogTest, SourcesWriteToTheLogTheyAreRegisteredUnder) {
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallEventSource("system", "MySrc", "a.msg;b.msg"));
  std::string strLog;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::FindEventSourceLog("MYSRC", &strLog));
  EXPECT_EQ("System", strLog);
  std::string strValue;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            kx::QueryEventSourceValue("SYSTEM", "mysrc", "eventmessagefile", &strValue));
  EXPECT_EQ("a.msg;b.msg", strValue);
  // Registering again without a file list keeps the list.
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallEventSource("System", "MySrc", nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            kx::QueryEventSourceValue("System", "MySrc", "EventMessageFile", &strValue));
  EXPECT_EQ("a.msg;b.msg", strValue);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            kx::QueryEventSourceValue("Application", "MySrc", "EventMessageFile", &strValue));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            kx::QueryEventSourceValue("System", "MySrc", "CategoryMessageFile", &strValue));

  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Write("mysrc", 4, 1, {"to system"}));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Write("Unregistered", 4, 1, {"to application"}));
  kx::HEVENTLOG hSystem = nullptr, hApplication = nullptr;
  kx::OpenEventLogByName("System", &hSystem);
  kx::OpenEventLogByName("Application", &hApplication);
  EXPECT_EQ((std::vector<std::string>{"to system"}), Strings(Read(hSystem, 1)));
  EXPECT_EQ((std::vector<std::string>{"to application"}), Strings(Read(hApplication, 1)));
  kx::CloseEventLogHandle(hSystem);
  kx::CloseEventLogHandle(hApplication);
}

TEST_F(EventLogTest, HostileSourceNamesAreRefused) {
  for (const char* lpName : {"", ".", "..", "../escape", "a/b", "a\\b", "tab\tname", "Evil\x1b[2J", "del\x7f"}) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), kx::InstallEventSource("Application", lpName, nullptr))
        << lpName;
    kx::HEVENTSOURCE hSource = nullptr;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), kx::RegisterEventLogSource(lpName, &hSource)) << lpName;
  }
  // "表" ends in the byte 0x5C, which is no separator inside the character.
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallEventSource("Application", "\x95\x5C", nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Write("\x95\x5C", 4, 1, {"x"}));
}

struct FormatCase {
  const char* lpTemplate;
  std::vector<const char*> vecArguments;
  const char* lpExpected;
};

TEST(FormatMessageTextTest, InsertsAndEscapesFollowFormatMessage) {
  const FormatCase cases[] = {
      {"%1 and %2\r\n", {"a", "b"}, "a and b\r\n"},
      {"%2%1", {"a", "b"}, "ba"},
      {"%1!s! done", {"x"}, "x done"},
      // Inserts beyond the strings given stay as written.
      {"%1 %2 %3!d!", {"only"}, "only %2 %3!d!"},
      {"%1", {}, "%1"},
      {"100%% sure%n", {}, "100% sure\r\n"},
      {"a%tb%rc%bd%.%!", {}, "a\tb\rc d.!"},
      {"kept%0dropped", {}, "kept"},
      {"%12", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "twelve"}, "twelve"},
      {"%123", {"1"}, "%123"},
      {"trailing %", {}, "trailing %"},
      // An argument is inserted as it is, never formatted again.
      {"%1", {"%2 stays"}, "%2 stays"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(c.lpExpected, kx::FormatMessageText(c.lpTemplate, c.vecArguments.data(),
                                                  static_cast<DWORD>(c.vecArguments.size())))
        << c.lpTemplate;
  }
}

TEST_F(EventLogTest, CataloguesResolveMessagesByIdWithInserts) {
  std::string strPath = WriteFile("cat.msg",
                                  "; comment\r\n"
                                  "Encoding=UTF-8\r\n"
                                  "MessageId=0x40000101\r\n"
                                  "User %1 logged on\r\n"
                                  "from %2\r\n"
                                  ".\r\n"
                                  "MessageId=7\n"
                                  "表示%0\n"
                                  ".\n");
  kx::HMESSAGEMODULE hModule = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::LoadMessageModule(strPath.c_str(), &hModule));
  const char* args[] = {"alice", "COM1"};
  std::string strText;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::FormatModuleMessage(hModule, 0x40000101, args, 2, &strText));
  EXPECT_EQ("User alice logged on\r\nfrom COM1\r\n", strText);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::FormatModuleMessage(hModule, 7, args, 2, &strText));
  EXPECT_EQ("\x95\x5C\x8E\xA6", strText);  // "表示" in code page 932
  EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), kx::FormatModuleMessage(hModule, 0x101, args, 2, &strText));
  kx::FreeMessageModule(hModule);

  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            kx::LoadMessageModule((m_strRoot + "/missing.msg").c_str(), &hModule));
  EXPECT_EQ(nullptr, hModule);
  std::string strBroken = WriteFile("broken.msg", "\x7F" "ELF garbage\n");
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), kx::LoadMessageModule(strBroken.c_str(), &hModule));
  std::string strBadId = WriteFile("badid.msg", "MessageId=0x1FFFFFFFF\nx\n.\n");
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), kx::LoadMessageModule(strBadId.c_str(), &hModule));
}

TEST(ExpandEnvironmentTextTest, SetVariablesExpandAndOthersStay) {
  setenv("KX_EVENTLOG_TEST_DIR", "/opt/kx", 1);
  unsetenv("KX_EVENTLOG_TEST_UNSET");
  EXPECT_EQ("/opt/kx/a.msg;/opt/kx/b.msg",
            kx::ExpandEnvironmentText("%KX_EVENTLOG_TEST_DIR%/a.msg;%KX_EVENTLOG_TEST_DIR%/b.msg"));
  EXPECT_EQ("%KX_EVENTLOG_TEST_UNSET%/a.msg", kx::ExpandEnvironmentText("%KX_EVENTLOG_TEST_UNSET%/a.msg"));
  EXPECT_EQ("100% and %%", kx::ExpandEnvironmentText("100% and %%"));
  unsetenv("KX_EVENTLOG_TEST_DIR");
}

// Only a real trail byte belongs to a lead byte: a '/' after one is still a
// separator.
TEST_F(EventLogTest, ALeadByteDoesNotSmuggleASeparatorIntoASourceName) {
  for (const char* lpName : {"\x81/x", "\x81/../../escape", "\xE0/", "a\xFC/b"}) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), kx::InstallEventSource("System", lpName, nullptr))
        << lpName;
    kx::HEVENTSOURCE hSource = nullptr;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), kx::RegisterEventLogSource(lpName, &hSource)) << lpName;
    kx::DeregisterEventLogSource(hSource);
  }
  // "ソ" ends in 0x5C and "ー" in 0x5B: whole characters, accepted.
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::InstallEventSource("System", "\x83\x5C\x81\x5B", nullptr));
}

}  // namespace
