// The Windows side of the platform layer against the system it runs on (Wine
// on the build machine): each facility's answers for this process and machine.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/accounts.h"
#include "platform/com_apartment.h"
#include "platform/error_text.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/processes.h"
#include "platform/program_path.h"
#include "platform/services.h"
#include "platform/sync.h"
#include "platform/system_info.h"
#include "platform/text_encoding.h"
#include "platform/volumes.h"

namespace {

TEST(WindowsSystem, VersionAndNameComeFromTheSystem) {
  kx::OS_VERSION_INFO info;
  ASSERT_TRUE(kx::QueryOsVersion(&info));
  EXPECT_EQ(2u, info.dwPlatformId);
  // The true version: without a compatibility manifest GetVersionExA would
  // answer 6.2 on every later system.
  EXPECT_GE(info.dwMajorVersion, 5u);
  EXPECT_FALSE(info.dwMajorVersion == 6 && info.dwMinorVersion == 2 && info.dwBuildNumber == 9200)
      << "the version the system tells programs without a manifest";
  std::string strSystem, strEdition;
  EXPECT_FALSE(kx::QueryOsDisplayName(&strSystem, &strEdition));
  EXPECT_FALSE(kx::QueryComputerName().empty());
  kx::MEMORYSTATUS memory;
  ASSERT_TRUE(kx::QueryMemoryStatus(&memory));
  EXPECT_GT(memory.ullTotalPhys, 0u);
  EXPECT_LE(memory.ullAvailPhys, memory.ullTotalPhys);
}

TEST(WindowsSystem, TextConvertsThroughCodePage932) {
  const struct {
    std::string strUtf8;
    std::string strCp932;
  } kCases[] = {
      {"\xE7\xAE\xA1\xE7\x90\x86", "\x8A\xC7\x97\x9D"},  // 管理
      {"\xEF\xBD\xB1", "\xB1"},                           // half-width katakana
      {"abc", "abc"},
      {"", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.strCp932, kx::Utf8ToCp932(c.strUtf8));
    EXPECT_EQ(c.strUtf8, kx::Cp932ToUtf8(c.strCp932));
  }
  EXPECT_EQ("?", kx::Utf8ToCp932("\xF0\x9F\x98\x80"));  // no mapping in code page 932
}

TEST(WindowsProcesses, ThisProcessIsListedTimedAndNamed) {
  std::vector<kx::PROCESSENTRY> entries;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetProcessSnapshot(&entries));
  ASSERT_FALSE(entries.empty());
  EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(), [](const kx::PROCESSENTRY& a, const kx::PROCESSENTRY& b) {
    return a.th32ProcessID < b.th32ProcessID;
  }));
  std::string strProgram = kx::GetProgramPath();
  std::string strImage = strProgram.substr(strProgram.find_last_of('\\') + 1);
  auto itSelf = std::find_if(entries.begin(), entries.end(), [&](const kx::PROCESSENTRY& entry) {
    return strImage == entry.szExeFile;
  });
  ASSERT_NE(entries.end(), itSelf) << strImage;

  kx::HPROCESS hProcess = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenProcess(itSelf->th32ProcessID, &hProcess));
  std::uint64_t qwKernelMs = 0, qwUserMs = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetProcessTimes(hProcess, &qwKernelMs, &qwUserMs));
  kx::PROCESS_MEMORY_COUNTERS counters;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetProcessMemoryCounters(hProcess, &counters));
  EXPECT_GT(counters.WorkingSetSize, 0u);
  char szName[8];
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetProcessImageName(hProcess, szName, sizeof(szName)));
  EXPECT_EQ(strImage.substr(0, 7), szName);
  kx::CloseProcess(hProcess);

  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), kx::OpenProcess(0, &hProcess));
  EXPECT_EQ(nullptr, hProcess);
}

TEST(WindowsProcesses, CpuShareCoversThisProcessBetweenTwoCollections) {
  kx::CProcessCpuQuery query;
  ASSERT_TRUE(query.Open());
  ASSERT_TRUE(query.Collect());
  EXPECT_EQ(-1, query.GetLongValue(0));
  volatile unsigned long long ullSpin = 0;
  for (int i = 0; i < 20000000; ++i) ullSpin = ullSpin + static_cast<unsigned long long>(i);
  ASSERT_TRUE(query.Collect());
  std::unordered_map<DWORD, int> shares;
  query.GetAllValues(&shares);
  EXPECT_FALSE(shares.empty());
  for (const auto& share : shares) EXPECT_GE(share.second, 0) << share.first;
}

TEST(WindowsServices, TheManagerListsOpensAndRefusesUnknownNames) {
  kx::SC_HANDLE hManager = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::OpenServiceManager(&hManager));
  std::vector<kx::SERVICE_LIST_ENTRY> services;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::EnumerateServices(hManager, &services));
  ASSERT_FALSE(services.empty());
  kx::SC_HANDLE hService = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            kx::OpenServiceByName(hManager, services.front().strServiceName.c_str(), &hService));
  kx::SERVICE_CONFIG config;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::QueryServiceConfiguration(hService, &config));
  kx::SERVICE_STATUS status;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::QueryServiceStatus(hService, &status));
  kx::CloseServiceHandle(hService);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST),
            kx::OpenServiceByName(hManager, "KxNoSuchService", &hService));
  kx::CloseServiceHandle(hManager);
}

TEST(WindowsVolumes, TheSystemDriveIsAFixedDriveWithSizes) {
  char szRoots[512] = {};
  DWORD dwLength = kx::GetDriveRootStrings(sizeof(szRoots), szRoots);
  ASSERT_GT(dwLength, 0u);
  std::vector<std::string> roots;
  for (const char* p = szRoots; *p != '\0'; p += std::strlen(p) + 1) roots.push_back(p);
  ASSERT_NE(roots.end(), std::find(roots.begin(), roots.end(), "C:\\"));
  EXPECT_EQ(static_cast<DWORD>(DRIVE_FIXED), kx::GetDriveRootType("C:\\"));
  std::uint64_t qwToCaller = 0, qwTotal = 0, qwFree = 0;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetDriveFreeSpace("C:\\", &qwToCaller, &qwTotal, &qwFree));
  EXPECT_LE(qwFree, qwTotal);
  char szName[64];
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::GetVolumeFileSystemName("C:\\", szName, sizeof(szName)));
  EXPECT_NE('\0', szName[0]);
}

TEST(WindowsAccounts, ArgumentsAreCheckedBeforeTheSystemIsAsked) {
  kx::HLOGONTOKEN hToken = nullptr;
  EXPECT_EQ(static_cast<DWORD>(ERROR_LOGON_FAILURE), kx::LogonUserAccount("", "", "x", &hToken));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), kx::LogonUserAccount(nullptr, "", "x", &hToken));
  EXPECT_EQ(nullptr, hToken);
  EXPECT_STREQ("", kx::GetLogonTokenUser(nullptr));
}

// The agent's message table is built from its catalogue into the program.
TEST(WindowsEventLog, TheAgentsMessageTableFormatsItsMessages) {
  std::string strAgent = kx::GetProgramDirectory() + "KxAgent.exe";
  // A source registers the running program itself as its message file.
  EXPECT_EQ(kx::GetProgramPath(), kx::GetMessageFileForCatalogue(kx::GetProgramDirectory() + "KxAgent.msg"));
  kx::HMESSAGEMODULE hModule = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), kx::LoadMessageModule(strAgent.c_str(), &hModule));
  const struct {
    DWORD dwId;
    std::vector<const char*> arguments;
    std::string strText;
  } kCases[] = {
      {0x40000101, {"started"}, "started\r\n"},
      {0xC0000103, {"\x83\x7C\x81\x5B\x83\x67"}, "\x83\x7C\x81\x5B\x83\x67\r\n"},  // ポート
      {0x80000102, {}, "%1\r\n"},  // an insert without its string stays as written
      {1, {}, kx::Utf8ToCp932("\xE3\x82\xA2\xE3\x83\x97\xE3\x83\xAA\xE3\x82\xB1\xE3\x83\xBC\xE3\x82\xB7\xE3\x83\xA7\xE3\x83\xB3")},
  };
  for (const auto& c : kCases) {
    std::string strText;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              kx::FormatModuleMessage(hModule, c.dwId, c.arguments.data(), static_cast<DWORD>(c.arguments.size()),
                                      &strText));
    EXPECT_EQ(c.strText, strText) << std::hex << c.dwId;
  }
  std::string strText;
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), kx::FormatModuleMessage(hModule, 0x40000999, nullptr, 0, &strText));
  kx::FreeMessageModule(hModule);
}

// The calls the agent's Windows side relies on, as the system answers them.
TEST(WindowsSystem, ErrorTextsComApartmentsAndDriveQueriesUseTheSystemsCalls) {
  // The system's own English text, in its own wording (Wine's differs from
  // Windows'); the table answers only what the system lacks.
  std::string strSystemText = kx::QuerySystemMessage(5);
  EXPECT_FALSE(strSystemText.empty());
  EXPECT_EQ(kx::ChooseSystemMessage(strSystemText, 5), kx::FormatSystemMessage(5));
  EXPECT_NE(std::string::npos, strSystemText.find("ccess")) << strSystemText;
  // The input thread's apartment: joined, and left again by the same thread.
  {
    kx::CComApartment apartment;
    EXPECT_TRUE(apartment.IsJoined());
    kx::CComApartment nested;  // already in it: joined again, balanced
    EXPECT_TRUE(nested.IsJoined());
  }
  // A drive letter that names nothing fails with an error code, not a box.
  char szName[64] = {};
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), kx::GetVolumeFileSystemName("Q:\\", szName, sizeof(szName)));
  EXPECT_EQ(static_cast<DWORD>(DRIVE_NO_ROOT_DIR), kx::GetDriveRootType("Q:\\"));
}

// Record times: the local time of a record is the one its own date's rules
// give, the same as the system's conversion for that date.
TEST(WindowsSystem, RecordTimesFollowTheSystemsTimeZoneRulesForTheirDate) {
  const long long kTimes[] = {1610712000, 1626350400, 0x7FFFFFFF};
  for (long long llTime : kTimes) {
    kx::SYSTEMTIME ours = {};
    kx::UnixTimeToLocalTime(llTime, &ours);
    ::SYSTEMTIME utc = {}, local = {};
    unsigned long long ullUnits = (static_cast<unsigned long long>(llTime) + 11644473600ull) * 10000000ull;
    FILETIME file = {static_cast<DWORD>(ullUnits), static_cast<DWORD>(ullUnits >> 32)};
    ASSERT_TRUE(::FileTimeToSystemTime(&file, &utc));
    ASSERT_TRUE(::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
    EXPECT_EQ(local.wYear, ours.wYear) << llTime;
    EXPECT_EQ(local.wMonth, ours.wMonth) << llTime;
    EXPECT_EQ(local.wDay, ours.wDay) << llTime;
    EXPECT_EQ(local.wHour, ours.wHour) << llTime;
    EXPECT_EQ(local.wMinute, ours.wMinute) << llTime;
  }
}

}  // namespace
