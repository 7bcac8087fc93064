// The journal as the three event logs: journal files made by
// systemd-journal-remote from export-format text, read through the class.
#include "platform/native/journal_event_logs.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "JournalFiles.h"
#include "platform/error_codes.h"
#include "platform/event_log_record.h"
#include "platform/text_encoding.h"

namespace {

using kx::native::CJournalChangeWaiter;
using kx::native::CJournalEventLogs;

const char kOldBoot[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const char kBoot[] = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";

typedef JOURNAL_ENTRY ENTRY;
const long long kEpochUsec = kJournalEpochUsec;

// The entries of the first file: an older boot, then this boot's entries of every kind.
const std::vector<ENTRY> kFirstFile = {
    {kOldBoot, 1, "_TRANSPORT=kernel\nPRIORITY=6\nSYSLOG_IDENTIFIER=kernel\nMESSAGE=old boot\n"},
    {kOldBoot, 2, "_TRANSPORT=syslog\nPRIORITY=6\nSYSLOG_IDENTIFIER=cron\nMESSAGE=old job\n"},
    {kBoot, 10, "_TRANSPORT=kernel\nPRIORITY=3\nSYSLOG_IDENTIFIER=kernel\nMESSAGE=ata1: link down\n"},
    {kBoot, 11,
     "_TRANSPORT=syslog\nSYSLOG_FACILITY=10\nPRIORITY=5\nSYSLOG_IDENTIFIER=sshd\nMESSAGE_ID=4625\n"
     "MESSAGE=Failed password for root\n"},
    {kBoot, 12,
     "_TRANSPORT=journal\n_PID=1\nPRIORITY=6\nSYSLOG_IDENTIFIER=systemd\n"
     "MESSAGE_ID=39f53479d3a045ac8e11786248231fbf\nUNIT=nginx.service\nMESSAGE=Started nginx.service.\n"},
    {kBoot, 13, "_TRANSPORT=stdout\nPRIORITY=4\n_SYSTEMD_UNIT=nginx.service\n_COMM=nginx\nMESSAGE=worker exited\n"},
    {kBoot, 14, "_TRANSPORT=audit\nMESSAGE=USER_LOGIN pid=42 res=failed\n"},
    {kBoot, 15,
     "_TRANSPORT=journal\nPRIORITY=2\nSYSLOG_IDENTIFIER=backup\nMESSAGE_ID=0x1F4\n"
     "MESSAGE=\xE3\x83\x90\xE3\x83\x83\xE3\x82\xAF\xE3\x82\xA2\xE3\x83\x83\xE3\x83\x97\xE5\xA4\xB1\xE6\x95\x97\n"},
    {kBoot, 16, "_TRANSPORT=syslog\nSYSLOG_FACILITY=4\nPRIORITY=4\nSYSLOG_IDENTIFIER=sudo\nMESSAGE=3 incorrect password attempts\n"},
    {kBoot, 17, "_TRANSPORT=driver\nPRIORITY=6\nSYSLOG_IDENTIFIER=systemd-journald\nMESSAGE=Journal started\n"},
};

// A record as the agent reads it back.
struct RECORD_VIEW {
  DWORD dwNumber;
  DWORD dwTime;
  DWORD dwEventId;
  WORD wType;
  std::string strSource;
  std::string strComputer;
  std::vector<std::string> strings;
};

bool ParseRecord(const std::string& strRecord, RECORD_VIEW* pView) {
  if (strRecord.size() < sizeof(kx::EVENTLOGRECORD) + 4) return false;
  kx::EVENTLOGRECORD header;
  std::memcpy(&header, strRecord.data(), sizeof(header));
  DWORD dwTrailer = 0;
  std::memcpy(&dwTrailer, strRecord.data() + strRecord.size() - 4, 4);
  if (header.Length != strRecord.size() || dwTrailer != header.Length || header.Reserved != 0x654c664c) return false;
  pView->dwNumber = header.RecordNumber;
  pView->dwTime = header.TimeGenerated;
  pView->dwEventId = header.EventID;
  pView->wType = header.EventType;
  const char* lpBase = strRecord.data();
  pView->strSource = lpBase + sizeof(header);
  pView->strComputer = lpBase + sizeof(header) + pView->strSource.size() + 1;
  pView->strings.clear();
  const char* p = lpBase + header.StringOffset;
  for (WORD i = 0; i < header.NumStrings; ++i) {
    pView->strings.push_back(p);
    p += pView->strings.back().size() + 1;
  }
  return static_cast<DWORD>(p - lpBase) <= header.DataOffset;
}

class JournalEventLogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char szTemplate[] = "/tmp/kx-journal-XXXXXX";
    ASSERT_NE(mkdtemp(szTemplate), nullptr);
    m_strDir = szTemplate;
  }
  void TearDown() override {
    std::string strCommand = "rm -rf '" + m_strDir + "'";
    ASSERT_EQ(std::system(strCommand.c_str()), 0);
  }
  // Writes the entries into <dir>/<name>.journal through systemd-journal-remote.
  void WriteJournal(const char* lpName, const std::vector<ENTRY>& entries) {
    std::string strError;
    ASSERT_TRUE(WriteJournalFile(m_strDir, lpName, entries, &strError)) << strError;
  }
  RECORD_VIEW Read(CJournalEventLogs* pLogs, int nLog, DWORD dwNumber) {
    std::string strRecord;
    RECORD_VIEW view = {};
    EXPECT_EQ(pLogs->ReadRecord(nLog, dwNumber, &strRecord), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(ParseRecord(strRecord, &view));
    return view;
  }

  std::string m_strDir;
};

// Every kind of entry lands in its log, in order, with its type, source, event
// ID and text; the older boot's entries are left out.
TEST_F(JournalEventLogsTest, EntriesBecomeTheRecordsOfTheirLogs) {
  WriteJournal("first", kFirstFile);
  CJournalEventLogs logs;
  ASSERT_EQ(logs.DoOpenDirectory(m_strDir.c_str()), static_cast<DWORD>(ERROR_SUCCESS));

  const std::string strBackupFailed = kx::Utf8ToCp932(
      "\xE3\x83\x90\xE3\x83\x83\xE3\x82\xAF\xE3\x82\xA2\xE3\x83\x83\xE3\x83\x97\xE5\xA4\xB1\xE6\x95\x97");
  const struct {
    const char* lpLog;
    DWORD dwNumber;
    int nSecond;
    WORD wType;
    const char* lpSource;
    DWORD dwEventId;
    std::string strMessage;
  } kExpected[] = {
      {"System", 1, 10, EVENTLOG_ERROR_TYPE, "kernel", 0, "ata1: link down"},
      {"System", 2, 12, EVENTLOG_INFORMATION_TYPE, "systemd", 0, "Started nginx.service."},
      {"System", 3, 17, EVENTLOG_INFORMATION_TYPE, "systemd-journald", 0, "Journal started"},
      {"Security", 1, 11, EVENTLOG_INFORMATION_TYPE, "sshd", 4625, "Failed password for root"},
      {"Security", 2, 14, EVENTLOG_INFORMATION_TYPE, "journal", 0, "USER_LOGIN pid=42 res=failed"},
      {"Security", 3, 16, EVENTLOG_WARNING_TYPE, "sudo", 0, "3 incorrect password attempts"},
      {"application", 1, 13, EVENTLOG_WARNING_TYPE, "nginx.service", 0, "worker exited"},
      {"APPLICATION", 2, 15, EVENTLOG_ERROR_TYPE, "backup", 500, strBackupFailed},
  };
  for (const auto& expected : kExpected) {
    SCOPED_TRACE(std::string(expected.lpLog) + " #" + std::to_string(expected.dwNumber));
    int nLog = CJournalEventLogs::FindLog(expected.lpLog);
    ASSERT_GE(nLog, 0);
    RECORD_VIEW view = Read(&logs, nLog, expected.dwNumber);
    EXPECT_EQ(view.dwNumber, expected.dwNumber);
    EXPECT_EQ(view.dwTime, static_cast<DWORD>(kEpochUsec / 1000000 + expected.nSecond));
    EXPECT_EQ(view.wType, expected.wType);
    EXPECT_EQ(view.strSource, expected.lpSource);
    EXPECT_EQ(view.strComputer, "web01");
    EXPECT_EQ(view.dwEventId, expected.dwEventId);
    EXPECT_EQ(view.strings, std::vector<std::string>{expected.strMessage});
  }

  const struct {
    int nLog;
    DWORD dwOldest;
    DWORD dwCount;
  } kCounts[] = {{CJournalEventLogs::kSystem, 1, 3}, {CJournalEventLogs::kSecurity, 1, 3},
                 {CJournalEventLogs::kApplication, 1, 2}};
  for (const auto& expected : kCounts) {
    DWORD dwOldest = 0, dwCount = 0;
    EXPECT_EQ(logs.GetOldestRecord(expected.nLog, &dwOldest), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(logs.GetNumberOfRecords(expected.nLog, &dwCount), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(dwOldest, expected.dwOldest);
    EXPECT_EQ(dwCount, expected.dwCount);
  }
}

// Reading by number: the same bytes every time, the facility's codes for a
// number outside the log and for a buffer too small.
TEST_F(JournalEventLogsTest, ReadsRecordsByNumberWithTheFacilityCodes) {
  WriteJournal("first", kFirstFile);
  CJournalEventLogs logs;
  ASSERT_EQ(logs.DoOpenFiles({m_strDir + "/first.journal"}), static_cast<DWORD>(ERROR_SUCCESS));
  std::string strFirst, strAgain;
  ASSERT_EQ(logs.ReadRecord(CJournalEventLogs::kSystem, 3, &strFirst), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(logs.ReadRecord(CJournalEventLogs::kSystem, 1, &strAgain), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(logs.ReadRecord(CJournalEventLogs::kSystem, 3, &strAgain), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(strAgain, strFirst);

  const DWORD dwLength = static_cast<DWORD>(strFirst.size());
  const struct {
    int nLog;
    DWORD dwNumber;
    DWORD nBufferSize;
    DWORD dwResult;
    DWORD dwRead;
    DWORD dwNeeded;
  } kReads[] = {
      {CJournalEventLogs::kSystem, 3, 4096, ERROR_SUCCESS, dwLength, 0},
      {CJournalEventLogs::kSystem, 3, dwLength, ERROR_SUCCESS, dwLength, 0},
      {CJournalEventLogs::kSystem, 3, dwLength - 1, ERROR_INSUFFICIENT_BUFFER, 0, dwLength},
      {CJournalEventLogs::kSystem, 0, 4096, ERROR_INVALID_PARAMETER, 0, 0},
      {CJournalEventLogs::kSystem, 4, 4096, ERROR_INVALID_PARAMETER, 0, 0},
      {CJournalEventLogs::kApplication, 0xFFFFFFFF, 4096, ERROR_INVALID_PARAMETER, 0, 0},
      {7, 1, 4096, ERROR_INVALID_HANDLE, 0, 0},
  };
  for (const auto& read : kReads) {
    SCOPED_TRACE("log " + std::to_string(read.nLog) + " #" + std::to_string(read.dwNumber));
    std::vector<char> buffer(4096);
    DWORD dwRead = 99, dwNeeded = 99;
    EXPECT_EQ(logs.ReadRecord(read.nLog, read.dwNumber, buffer.data(), read.nBufferSize, &dwRead, &dwNeeded),
              read.dwResult);
    EXPECT_EQ(dwRead, read.dwRead);
    EXPECT_EQ(dwNeeded, read.dwNeeded);
    if (read.dwResult == ERROR_SUCCESS) {
      EXPECT_EQ(std::string(buffer.data(), dwRead), strFirst);
    }
  }
  EXPECT_EQ(CJournalEventLogs::FindLog("Setup"), -1);
  EXPECT_EQ(CJournalEventLogs::FindLog(nullptr), -1);
}

// A new journal file in the watched directory reaches a waiter once, for the
// log it wrote to; Wake ends a wait.
TEST_F(JournalEventLogsTest, NewEntriesWakeTheWaiterOnceForTheirLog) {
  WriteJournal("first", kFirstFile);
  CJournalEventLogs logs;
  ASSERT_EQ(logs.DoOpenDirectory(m_strDir.c_str()), static_cast<DWORD>(ERROR_SUCCESS));
  CJournalChangeWaiter waiter(&logs);
  ASSERT_EQ(waiter.AddLog("System"), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(waiter.AddLog("Application"), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(waiter.AddLog("Setup"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  DWORD dwMask = 99;
  EXPECT_EQ(waiter.Wait(0, &dwMask), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(dwMask, 0u);

  WriteJournal("second", {{kBoot, 30, "_TRANSPORT=syslog\nPRIORITY=6\nSYSLOG_IDENTIFIER=app\nMESSAGE=later\n"}});
  EXPECT_EQ(waiter.Wait(10000, &dwMask), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(dwMask, 2u);
  EXPECT_EQ(waiter.Wait(0, &dwMask), static_cast<DWORD>(WAIT_TIMEOUT));
  DWORD dwCount = 0;
  ASSERT_EQ(logs.GetNumberOfRecords(CJournalEventLogs::kApplication, &dwCount), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(dwCount, 3u);
  EXPECT_EQ(Read(&logs, CJournalEventLogs::kApplication, 3).strings, std::vector<std::string>{"later"});

  waiter.Wake();
  EXPECT_EQ(waiter.Wait(10000, &dwMask), static_cast<DWORD>(WAIT_IO_COMPLETION));
}

// A directory with no journal yet reads as three empty logs, and takes the
// boot of the first entries that appear.
TEST_F(JournalEventLogsTest, EmptyJournalReadsAsEmptyLogsUntilEntriesAppear) {
  CJournalEventLogs logs;
  ASSERT_EQ(logs.DoOpenDirectory(m_strDir.c_str()), static_cast<DWORD>(ERROR_SUCCESS));
  DWORD dwOldest = 0, dwCount = 99;
  EXPECT_EQ(logs.GetOldestRecord(CJournalEventLogs::kSystem, &dwOldest), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(logs.GetNumberOfRecords(CJournalEventLogs::kSystem, &dwCount), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(dwOldest, 1u);
  EXPECT_EQ(dwCount, 0u);

  WriteJournal("late", {{kBoot, 5, "_TRANSPORT=kernel\nPRIORITY=6\nSYSLOG_IDENTIFIER=kernel\nMESSAGE=up\n"},
                        {kOldBoot, 6, "_TRANSPORT=kernel\nPRIORITY=6\nSYSLOG_IDENTIFIER=kernel\nMESSAGE=other\n"}});
  ASSERT_EQ(logs.DoRefresh(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(logs.GetNumberOfRecords(CJournalEventLogs::kSystem, &dwCount), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(dwCount, 1u);
  EXPECT_EQ(Read(&logs, CJournalEventLogs::kSystem, 1).strings, std::vector<std::string>{"up"});
}

// What the writer makes of an event comes back from the journal as the record
// of the log it was written to, when root wrote it.
TEST_F(JournalEventLogsTest, WrittenEventsReadBackInTheirLog) {
  const std::string strJapanese = kx::Utf8ToCp932("\xE5\x81\x9C\xE6\xAD\xA2");  // two kanji
  const char* kOne[] = {"service started"};
  const char* kTwo[] = {"disk", nullptr};
  const char* kCp932[] = {strJapanese.c_str()};
  const struct {
    const char* lpUid;  // of the writing process
    const char* lpLog;
    const char* lpSource;
    WORD wType;
    DWORD dwEventId;
    WORD wNumStrings;
    const char** lpStrings;
    const char* lpReadLog;
    WORD wReadType;
    std::string strReadMessage;
  } kWrites[] = {
      {"0", "Application", "KxAgent", EVENTLOG_INFORMATION_TYPE, 0x40000101, 1, kOne, "Application",
       EVENTLOG_INFORMATION_TYPE, "service started"},
      {"0", "system", "KxPower", EVENTLOG_ERROR_TYPE, 7, 2, kTwo, "System", EVENTLOG_ERROR_TYPE, "disk "},
      {"0", "Security", "audit-tool", EVENTLOG_AUDIT_FAILURE, 0, 1, kCp932, "Security", EVENTLOG_INFORMATION_TYPE,
       strJapanese},
      {"0", "Application", "KxAgent", EVENTLOG_WARNING_TYPE, 12, 0, nullptr, "Application", EVENTLOG_WARNING_TYPE, ""},
      {"1000", "System", "impostor", EVENTLOG_ERROR_TYPE, 0, 1, kOne, "Application", EVENTLOG_ERROR_TYPE,
       "service started"},
  };
  std::vector<std::string> fieldTexts;
  for (const auto& write : kWrites) {
    std::vector<std::string> fields;
    ASSERT_EQ(CJournalEventLogs::MakeEventFields(write.lpLog, write.lpSource, write.wType, write.dwEventId,
                                                 write.wNumStrings, write.lpStrings, &fields),
              static_cast<DWORD>(ERROR_SUCCESS));
    std::string strFields = std::string("_TRANSPORT=journal\n_UID=") + write.lpUid + "\n";
    for (const std::string& strField : fields) strFields += strField + "\n";
    fieldTexts.push_back(strFields);
  }
  std::vector<ENTRY> entries;
  int nSecond = 40;
  for (const std::string& strFields : fieldTexts) entries.push_back({kBoot, nSecond++, strFields.c_str()});
  WriteJournal("own", entries);
  CJournalEventLogs logs;
  ASSERT_EQ(logs.DoOpenFiles({m_strDir + "/own.journal"}), static_cast<DWORD>(ERROR_SUCCESS));
  DWORD dwNext[CJournalEventLogs::kLogCount] = {1, 1, 1};
  for (const auto& write : kWrites) {
    SCOPED_TRACE(write.lpSource);
    int nLog = CJournalEventLogs::FindLog(write.lpReadLog);
    RECORD_VIEW view = Read(&logs, nLog, dwNext[nLog]++);
    EXPECT_EQ(view.strSource, write.lpSource);
    EXPECT_EQ(view.wType, write.wReadType);
    EXPECT_EQ(view.dwEventId, write.dwEventId);
    EXPECT_EQ(view.strings, std::vector<std::string>{write.strReadMessage});
  }

  std::vector<std::string> fields;
  const std::string strHuge(kx::kMaxEventRecordSize + 1, 'x');
  const char* kHuge[] = {strHuge.c_str()};
  const struct {
    const char* lpLog;
    const char* lpSource;
    WORD wNumStrings;
    const char** lpStrings;
  } kRefused[] = {{"Setup", "KxAgent", 1, kOne}, {"Application", "", 1, kOne}, {"Application", nullptr, 1, kOne},
                  {"Application", "KxAgent", 1, nullptr}, {"Application", "KxAgent", 1, kHuge}};
  for (const auto& refused : kRefused) {
    EXPECT_EQ(CJournalEventLogs::MakeEventFields(refused.lpLog, refused.lpSource, EVENTLOG_INFORMATION_TYPE, 0,
                                                 refused.wNumStrings, refused.lpStrings, &fields),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
}

// A journal that cannot be opened gives an error code, and the object then
// answers every question with one.
TEST_F(JournalEventLogsTest, UnopenableJournalsGiveErrorCodes) {
  std::ofstream(m_strDir + "/garbage.journal") << "not a journal file at all";
  const struct {
    const char* lpDirectory;
    const char* lpFile;
  } kOpens[] = {{"/nonexistent/journal", nullptr}, {nullptr, "/nonexistent/a.journal"}, {nullptr, "garbage.journal"}};
  for (const auto& open : kOpens) {
    SCOPED_TRACE(open.lpDirectory != nullptr ? open.lpDirectory : open.lpFile);
    CJournalEventLogs logs;
    if (open.lpDirectory != nullptr) {
      EXPECT_NE(logs.DoOpenDirectory(open.lpDirectory), static_cast<DWORD>(ERROR_SUCCESS));
    } else {
      std::string strPath = open.lpFile[0] == '/' ? open.lpFile : m_strDir + "/" + open.lpFile;
      EXPECT_NE(logs.DoOpenFiles({strPath}), static_cast<DWORD>(ERROR_SUCCESS));
    }
    DWORD dwCount = 99;
    std::string strRecord;
    EXPECT_EQ(logs.GetNumberOfRecords(CJournalEventLogs::kSystem, &dwCount), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(dwCount, 0u);
    EXPECT_NE(logs.ReadRecord(CJournalEventLogs::kSystem, 1, &strRecord), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(logs.DoRefresh(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
}

}  // namespace
