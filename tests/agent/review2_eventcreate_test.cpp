#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "tests/support/TemporarySystemRoot.h"

namespace {

// The eventcreate program of this build: bin/ beside the tests' folder.
std::string EventCreatePath() {
  char szSelf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", szSelf, sizeof(szSelf) - 1);
  if (n <= 0) return std::string();
  std::string strSelf(szSelf, static_cast<size_t>(n));
  std::string strDir = strSelf.substr(0, strSelf.rfind('/'));
  return strDir.substr(0, strDir.rfind('/')) + "/bin/eventcreate";
}

class EventCreateReviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strProgram = EventCreatePath();
    if (access(m_strProgram.c_str(), X_OK) != 0) GTEST_SKIP() << "eventcreate not built: " << m_strProgram;
    ASSERT_TRUE(m_root.Enter("/tmp/kx-review-evc-XXXXXX"));
    m_strRoot = m_root.GetPath();
  }
  void TearDown() override {
    if (m_strRoot.empty()) return;
    m_root.Leave();
  }

  // Runs eventcreate quietly; its exit code.
  int Run(const std::vector<std::string>& vecArgs) {
    std::string strCommand = m_strProgram;
    for (const std::string& strArg : vecArgs) strCommand += " '" + strArg + "'";
    int nStatus = std::system((strCommand + " >/dev/null 2>&1").c_str());
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
  }

  // The event ID of record dwRecord of the Application log, or 0xFFFFFFFF.
  DWORD EventIdOf(DWORD dwRecord) {
    kx::HEVENTLOG hLog = nullptr;
    if (kx::OpenEventLogByName("Application", &hLog) != ERROR_SUCCESS) return 0xFFFFFFFF;
    std::vector<BYTE> record(4096);
    DWORD dwRead = 0, dwNeeded = 0;
    DWORD dwError = kx::ReadEventLogRecord(hLog, dwRecord, record.data(), static_cast<DWORD>(record.size()),
                                           &dwRead, &dwNeeded);
    kx::CloseEventLogHandle(hLog);
    if (dwError != ERROR_SUCCESS) return 0xFFFFFFFF;
    return reinterpret_cast<const kx::EVENTLOGRECORD*>(record.data())->EventID;
  }

  std::string m_strProgram;
  std::string m_strRoot;
  CTemporarySystemRoot m_root;
};

// Numbers are decimal unless they start with 0x: a leading zero is no octal prefix.
TEST_F(EventCreateReviewTest, EventIdsWithLeadingZerosAreDecimal) {
  const struct {
    const char* lpSwitch;
    const char* lpValue;
    DWORD dwExpected;
  } kCases[] = {
      {"/ID", "010", 10}, {"/ID", "08", 8}, {"/RAWID", "0100", 100}, {"/RAWID", "0x40000010", 0x40000010},
  };
  DWORD dwRecord = 0;
  for (const auto& c : kCases) {
    ASSERT_EQ(0, Run({"/T", "INFORMATION", c.lpSwitch, c.lpValue, "/D", "x"}))
        << c.lpSwitch << " " << c.lpValue;
    EXPECT_EQ(c.dwExpected, EventIdOf(++dwRecord)) << c.lpSwitch << " " << c.lpValue;
  }
  EXPECT_EQ(1, Run({"/T", "INFORMATION", "/ID", "0x", "/D", "x"}));
  EXPECT_EQ(1, Run({"/T", "INFORMATION", "/ID", "1001", "/D", "x"}));
}

}  // namespace
