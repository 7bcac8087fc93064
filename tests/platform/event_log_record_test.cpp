// The rules both systems share for event records and source names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/event_log.h"

namespace {

// A record as the logs hand it out: header, source, computer, strings, length.
std::string MakeRecord(const std::vector<std::string>& vecStrings) {
  std::string strRecord(sizeof(kx::EVENTLOGRECORD), '\0');
  strRecord.append("Src\0Host\0", 9);
  while (strRecord.size() % 4 != 0) strRecord += '\0';
  DWORD dwStringOffset = static_cast<DWORD>(strRecord.size());
  for (const std::string& strText : vecStrings) strRecord.append(strText.c_str(), strText.size() + 1);
  DWORD dwDataOffset = static_cast<DWORD>(strRecord.size());
  DWORD dwLength = static_cast<DWORD>(strRecord.size() + 4);
  strRecord.append(reinterpret_cast<const char*>(&dwLength), 4);
  kx::EVENTLOGRECORD header;
  std::memset(&header, 0, sizeof(header));
  header.Length = dwLength;
  header.Reserved = kx::kEventLogRecordMagic;
  header.NumStrings = static_cast<WORD>(vecStrings.size());
  header.StringOffset = dwStringOffset;
  header.DataOffset = dwDataOffset;
  std::memcpy(&strRecord[0], &header, sizeof(header));
  return strRecord;
}

kx::EVENTLOGRECORD* Header(std::string* pstrRecord) {
  return reinterpret_cast<kx::EVENTLOGRECORD*>(&(*pstrRecord)[0]);
}

TEST(EventLogRecordTest, ASoundRecordGivesItsTexts) {
  std::string strRecord = MakeRecord({"one", "", "three"});
  kx::EVENTLOGRECORD_TEXTS texts;
  ASSERT_TRUE(kx::ParseEventLogRecord(strRecord.data(), static_cast<DWORD>(strRecord.size()), &texts));
  EXPECT_STREQ("Src", texts.lpSourceName);
  EXPECT_STREQ("Host", texts.lpComputerName);
  ASSERT_EQ(3u, texts.vecStrings.size());
  EXPECT_STREQ("one", texts.vecStrings[0]);
  EXPECT_STREQ("", texts.vecStrings[1]);
  EXPECT_STREQ("three", texts.vecStrings[2]);
}

// Every way a record can lie about itself is refused before a text is read.
TEST(EventLogRecordTest, ABrokenRecordIsRefused) {
  struct BreakCase {
    const char* lpWhat;
    void (*Break)(std::string*);
  };
  const BreakCase cases[] = {
      {"short", [](std::string* p) { p->resize(sizeof(kx::EVENTLOGRECORD)); }},
      {"length", [](std::string* p) { Header(p)->Length += 4; }},
      {"trailer", [](std::string* p) { (*p)[p->size() - 1] = 1; }},
      {"magic", [](std::string* p) { Header(p)->Reserved = 0; }},
      {"strings before header", [](std::string* p) { Header(p)->StringOffset = 4; }},
      {"data before strings", [](std::string* p) { Header(p)->DataOffset = Header(p)->StringOffset - 1; }},
      {"data past end", [](std::string* p) { Header(p)->DataLength = 8; }},
      {"one string too many", [](std::string* p) { Header(p)->NumStrings = 2; }},
      {"unterminated string", [](std::string* p) { (*p)[Header(p)->DataOffset - 1] = 'x'; }},
      {"unterminated computer", [](std::string* p) {
         std::memset(&(*p)[sizeof(kx::EVENTLOGRECORD)], 'x', Header(p)->StringOffset - sizeof(kx::EVENTLOGRECORD));
       }},
  };
  for (const BreakCase& test : cases) {
    std::string strRecord = MakeRecord({"only"});
    test.Break(&strRecord);
    kx::EVENTLOGRECORD_TEXTS texts;
    EXPECT_FALSE(kx::ParseEventLogRecord(strRecord.data(), static_cast<DWORD>(strRecord.size()), &texts))
        << test.lpWhat;
  }
}

TEST(EventSourceNameTest, NamesThatCannotBeASourceAreRefusedOnEverySystem) {
  struct NameCase {
    const char* lpName;
    BOOL bValid;
  };
  const NameCase cases[] = {
      {"KxAgent", TRUE},
      {"\x95\x5C", TRUE},          // ends in 0x5C inside the character
      {"\x83\x5C\x81\x5B", TRUE},  // two whole characters
      {"", FALSE},
      {".", FALSE},
      {"..", FALSE},
      {"a/b", FALSE},
      {"a\\b", FALSE},
      {"\x81/x", FALSE},  // a lead byte does not smuggle a separator in
      {"tab\tname", FALSE},
      {"Evil\x1b[2J", FALSE},
      {"del\x7f", FALSE},
      {"\x81\x1b", FALSE},
  };
  for (const NameCase& test : cases) {
    EXPECT_EQ(test.bValid, kx::IsValidEventSourceName(test.lpName)) << test.lpName;
  }
  EXPECT_FALSE(kx::IsValidEventSourceName(nullptr));
}

}  // namespace
