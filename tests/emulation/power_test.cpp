#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/power.h"
#include "tests/support/WaitUntil.h"
#include "tests/support/TemporarySystemRoot.h"

namespace {

// "コンピュータの再起動" in code page 932, followed by a second line.
const char kCp932Message[] = "\x83\x52\x83\x93\x83\x73\x83\x85\x81\x5b\x83\x5e\x82\xcc\x8d\xc4\x8b\x4e\x93\xae\nline 2";
const char kUtf8MessageField[] = "message=コンピュータの再起動\\nline 2\n";

std::string ReadFile(const std::string& strPath) {
  std::ifstream file(strPath, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteFile(const std::string& strPath, const std::string& strText) {
  std::ofstream file(strPath, std::ios::binary | std::ios::trunc);
  file << strText;
}

// A system state directory of its own for each test; whatever is still
// pending at the end is cancelled, which also ends its helper.
class PowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.Enter("/tmp/kxpowerXXXXXX"));
    m_strRoot = m_root.GetPath();
    setenv("KX_POWER_HELPER", KX_POWER_HELPER_PATH, 1);
  }
  void TearDown() override {
    kx::CancelSystemShutdown();
    m_root.Leave();
    unsetenv("KX_POWER_HELPER");
  }
  std::string PowerFile(const char* lpName) const { return m_strRoot + "/power/" + lpName; }
  // Waits for the helper to settle the request and returns the last file.
  std::string WaitForOutcome() {
    EXPECT_TRUE(WaitUntil([this] { return ReadFile(PowerFile("last")).find("result=") != std::string::npos; }))
        << "the request was never carried out";
    return ReadFile(PowerFile("last"));
  }

  std::string m_strRoot;
  CTemporarySystemRoot m_root;
};

TEST_F(PowerTest, PendingRequestIsVisibleToAnotherProcess) {
  ASSERT_EQ(ERROR_SUCCESS, kx::RequestSystemShutdown(kCp932Message, 600, TRUE, TRUE));

  pid_t child = fork();
  if (child == 0) {
    kx::SHUTDOWN_REQUEST request;
    if (kx::QueryPendingShutdown(&request) != ERROR_SUCCESS) _exit(1);
    if (!request.bRebootAfterShutdown || !request.bForceAppsClosed || request.bActing) _exit(2);
    if (request.dwTimeout != 600 || request.dwOwnerProcessId != static_cast<DWORD>(getppid())) _exit(3);
    if (request.strMessage != kCp932Message) _exit(4);
    if (kill(static_cast<pid_t>(request.dwHelperProcessId), 0) != 0) _exit(5);
    _exit(0);
  }
  ASSERT_GT(child, 0);
  int nStatus = 0;
  ASSERT_EQ(child, waitpid(child, &nStatus, 0));
  ASSERT_TRUE(WIFEXITED(nStatus));
  EXPECT_EQ(0, WEXITSTATUS(nStatus));

  // An operator reads the message in UTF-8, on one line.
  std::string strPending = ReadFile(PowerFile("pending"));
  EXPECT_NE(std::string::npos, strPending.find("action=reboot\n")) << strPending;
  EXPECT_NE(std::string::npos, strPending.find(kUtf8MessageField)) << strPending;
}

TEST_F(PowerTest, SecondRequestIsRefusedAndLeavesTheFirstAlone) {
  ASSERT_EQ(ERROR_SUCCESS, kx::RequestSystemShutdown("first", 600, FALSE, FALSE));
  EXPECT_EQ(ERROR_SHUTDOWN_IN_PROGRESS, kx::RequestSystemShutdown("second", 30, TRUE, TRUE));

  kx::SHUTDOWN_REQUEST request;
  ASSERT_EQ(ERROR_SUCCESS, kx::QueryPendingShutdown(&request));
  EXPECT_FALSE(request.bRebootAfterShutdown);
  EXPECT_EQ(600u, request.dwTimeout);
  EXPECT_EQ("first", request.strMessage);
}

TEST_F(PowerTest, CancelSucceedsOnceThenFindsNothing) {
  ASSERT_EQ(ERROR_SUCCESS, kx::RequestSystemShutdown("bye", 600, FALSE, FALSE));
  kx::SHUTDOWN_REQUEST request;
  ASSERT_EQ(ERROR_SUCCESS, kx::QueryPendingShutdown(&request));
  pid_t helper = static_cast<pid_t>(request.dwHelperProcessId);

  EXPECT_EQ(ERROR_SUCCESS, kx::CancelSystemShutdown());
  EXPECT_EQ(ERROR_NO_SHUTDOWN_IN_PROGRESS, kx::CancelSystemShutdown());
  EXPECT_EQ(ERROR_NO_SHUTDOWN_IN_PROGRESS, kx::QueryPendingShutdown(&request));
  // The helper of a cancelled request does not sleep on until its deadline.
  EXPECT_TRUE(WaitUntil([helper] { return kill(helper, 0) != 0; })) << "helper " << helper << " still runs";
  // And a new request counts from its own time-out.
  ASSERT_EQ(ERROR_SUCCESS, kx::RequestSystemShutdown("again", 45, TRUE, TRUE));
  ASSERT_EQ(ERROR_SUCCESS, kx::QueryPendingShutdown(&request));
  EXPECT_EQ(45u, request.dwTimeout);
}

TEST_F(PowerTest, CancelWithoutAnyStateCreatesNothing) {
  EXPECT_EQ(ERROR_NO_SHUTDOWN_IN_PROGRESS, kx::CancelSystemShutdown());
  struct stat info;
  EXPECT_NE(0, stat((m_strRoot + "/power").c_str(), &info));
}

TEST_F(PowerTest, OutOfRangeRequestsAreRefused) {
  const DWORD kTenYears = 10u * 365u * 24u * 60u * 60u;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, kx::RequestSystemShutdown("x", kTenYears + 1, FALSE, FALSE));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, kx::RequestSystemShutdown(std::string(5000, 'm').c_str(), 10, FALSE, FALSE));
  kx::SHUTDOWN_REQUEST request;
  EXPECT_EQ(ERROR_NO_SHUTDOWN_IN_PROGRESS, kx::QueryPendingShutdown(&request));
}

TEST_F(PowerTest, HelperKeepsNoDescriptorOfTheCaller) {
  // A terminal or pipe the helper held open would never see its end.
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  ASSERT_EQ(ERROR_SUCCESS, kx::RequestSystemShutdown("bye", 600, FALSE, FALSE));
  close(fds[1]);
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  char c;
  EXPECT_TRUE(WaitUntil([&] { return read(fds[0], &c, 1) == 0; })) << "someone still holds the pipe";
  close(fds[0]);
}

// The request is carried out by the helper program in a session of its own,
// not by a copy of the caller; without that program nothing is pending.
TEST_F(PowerTest, HelperIsItsOwnProgramAndAMissingOneIsRefused) {
  ASSERT_EQ(ERROR_SUCCESS, kx::RequestSystemShutdown("bye", 600, FALSE, FALSE));
  kx::SHUTDOWN_REQUEST request;
  ASSERT_EQ(ERROR_SUCCESS, kx::QueryPendingShutdown(&request));
  pid_t helper = static_cast<pid_t>(request.dwHelperProcessId);
  EXPECT_EQ(std::filesystem::path(KX_POWER_HELPER_PATH).filename(),
            std::filesystem::read_symlink("/proc/" + std::to_string(helper) + "/exe").filename());
  EXPECT_EQ(helper, getsid(helper));
  ASSERT_EQ(ERROR_SUCCESS, kx::CancelSystemShutdown());

  setenv("KX_POWER_HELPER", (m_strRoot + "/missing").c_str(), 1);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, kx::RequestSystemShutdown("bye", 600, FALSE, FALSE));
  EXPECT_EQ(ERROR_NO_SHUTDOWN_IN_PROGRESS, kx::QueryPendingShutdown(&request));
}

struct DeadlineCase {
  BOOL bReboot;
  BOOL bForce;
  const char* lpExpectedOutput;
};

TEST_F(PowerTest, AtTheDeadlineTheConfiguredCommandRunsOnce) {
  const DeadlineCase cases[] = {{FALSE, FALSE, "halt 0 going down\n"}, {TRUE, TRUE, "reboot 1 going down\n"}};
  for (const DeadlineCase& c : cases) {
    SCOPED_TRACE(c.bReboot ? "reboot" : "halt");
    std::string strOut = m_strRoot + "/out";
    unlink(strOut.c_str());
    unlink(PowerFile("last").c_str());
    std::filesystem::create_directories(m_strRoot + "/power");
    std::string strRun = "/bin/sh -c 'echo \"$KX_SHUTDOWN_ACTION $KX_SHUTDOWN_FORCE $KX_SHUTDOWN_MESSAGE\" >> " +
                         strOut + "'";
    WriteFile(PowerFile("config"), "# test\nhalt-command=" + strRun + "\nreboot-command = " + strRun + "\n");

    ASSERT_EQ(ERROR_SUCCESS, kx::RequestSystemShutdown("going down", 1, c.bForce, c.bReboot));
    std::string strLast = WaitForOutcome();
    EXPECT_NE(std::string::npos, strLast.find("result=exit-code=0\n")) << strLast;
    EXPECT_EQ(c.lpExpectedOutput, ReadFile(strOut));

    // Settled: nothing pending, and a new request is taken.
    kx::SHUTDOWN_REQUEST request;
    EXPECT_EQ(ERROR_NO_SHUTDOWN_IN_PROGRESS, kx::QueryPendingShutdown(&request));
    EXPECT_EQ(ERROR_NO_SHUTDOWN_IN_PROGRESS, kx::CancelSystemShutdown());
  }
}

TEST_F(PowerTest, WithoutConfigurationNothingRunsButTheOutcomeIsRecorded) {
  ASSERT_EQ(ERROR_SUCCESS, kx::RequestSystemShutdown("marker-5c1e", 0, FALSE, FALSE));
  std::string strLast = WaitForOutcome();
  EXPECT_NE(std::string::npos, strLast.find("action=halt\n")) << strLast;
  EXPECT_NE(std::string::npos, strLast.find("command=\n")) << strLast;
  EXPECT_NE(std::string::npos, strLast.find("result=not-configured\n")) << strLast;

  // And the System log holds the halt under the source KxPower, with the message.
  kx::HEVENTLOG hLog = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, kx::OpenEventLogByName("System", &hLog));
  DWORD dwOldest = 0;
  DWORD dwCount = 0;
  kx::GetOldestEventLogRecord(hLog, &dwOldest);
  kx::GetNumberOfEventLogRecords(hLog, &dwCount);
  ASSERT_EQ(1u, dwCount);
  std::vector<char> buffer(65536);
  DWORD dwRead = 0;
  DWORD dwNeeded = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            kx::ReadEventLogRecord(hLog, dwOldest, buffer.data(), static_cast<DWORD>(buffer.size()), &dwRead, &dwNeeded));
  kx::CloseEventLogHandle(hLog);
  const kx::EVENTLOGRECORD* pRecord = reinterpret_cast<const kx::EVENTLOGRECORD*>(buffer.data());
  EXPECT_EQ(1u, pRecord->EventID);
  EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, pRecord->EventType);
  EXPECT_STREQ("KxPower", buffer.data() + sizeof(kx::EVENTLOGRECORD));
  ASSERT_EQ(1, pRecord->NumStrings);
  EXPECT_EQ(
      "System halt requested by process " + std::to_string(getpid()) +
          " reached its deadline; no halt-command is configured, so nothing was run. Message: marker-5c1e",
      std::string(buffer.data() + pRecord->StringOffset));
}

TEST_F(PowerTest, CommandsThatCannotRunAreRecordedAsFailures) {
  const struct {
    const char* lpCommand;
    const char* lpExpected;
  } cases[] = {
      {"systemctl poweroff", "result=error=not an absolute path\n"},
      {"/nonexistent/kx-poweroff now", "result=error=2\n"},
      {"/bin/sh -c 'exit 3'", "result=exit-code=3\n"},
  };
  std::filesystem::create_directories(m_strRoot + "/power");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lpCommand);
    unlink(PowerFile("last").c_str());
    WriteFile(PowerFile("config"), std::string("halt-command=") + c.lpCommand + "\n");
    ASSERT_EQ(ERROR_SUCCESS, kx::RequestSystemShutdown("x", 0, FALSE, FALSE));
    std::string strLast = WaitForOutcome();
    EXPECT_NE(std::string::npos, strLast.find(c.lpExpected)) << strLast;
  }
}

TEST_F(PowerTest, LeftOverStateDoesNotBlock) {
  // A helper that is gone: a reaped child's id, a start time no process has.
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  const std::string stale[] = {
      "id=old\naction=halt\ndeadline=1000\nowner-pid=1\nhelper-pid=" + std::to_string(gone) +
          "\nhelper-start=12345\nstate=waiting\n",
      "\x81\xff garbage without any key\n",
      "id=old\nhelper-pid=1\nhelper-start=999999999999\n",  // a live process, not the helper
  };
  std::filesystem::create_directories(m_strRoot + "/power");
  for (const std::string& strState : stale) {
    SCOPED_TRACE(strState);
    WriteFile(PowerFile("pending"), strState);
    kx::SHUTDOWN_REQUEST request;
    EXPECT_EQ(ERROR_NO_SHUTDOWN_IN_PROGRESS, kx::QueryPendingShutdown(&request));
    ASSERT_EQ(ERROR_SUCCESS, kx::RequestSystemShutdown("new", 600, FALSE, FALSE));
    EXPECT_EQ(ERROR_SUCCESS, kx::CancelSystemShutdown());

    WriteFile(PowerFile("pending"), strState);
    EXPECT_EQ(ERROR_NO_SHUTDOWN_IN_PROGRESS, kx::CancelSystemShutdown());
  }
}

}  // namespace
