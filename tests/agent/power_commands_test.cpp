#include <gtest/gtest.h>

#include "fake_agent_context.h"

#include <string>
#include <vector>

#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/Writer.h"
#include "commands/PowerCommands.h"
#include "fake_agent_log.h"
#include "platform/error_codes.h"
#include "tests/support/RecordingWriter.h"

namespace {


// Records what the handlers do to the agent; starts as an agent with nothing
// pending, or with what the test sets.
class CFakeShutdownState : public CShutdownState {
 public:
  void SetShutdownPending(int nPending) override {
    m_nPending = nPending;
    m_calls.push_back("pending=" + std::to_string(nPending));
  }
  void SetShutdownDelay(int nSeconds) override {
    m_nDelay = nSeconds;
    m_calls.push_back("delay=" + std::to_string(nSeconds));
  }
  void StartShutdownNotice(int nDelay, BOOL bReboot) override {
    m_nDelay = nDelay;
    m_calls.push_back("notice=" + std::to_string(nDelay) + (bReboot ? ",reboot" : ",halt"));
  }
  int m_nPending = 0;
  int m_nDelay = 0;
  std::vector<std::string> m_calls;
};

// Answers with a set error code and records the calls in order.
class CFakeShutdownControl : public CShutdownControl {
 public:
  BOOL EnablePrivilege(const char* lpPrivilegeName, BOOL bEnable) override {
    m_calls.push_back(std::string(bEnable ? "enable " : "disable ") + lpPrivilegeName);
    return TRUE;
  }
  DWORD InitiateShutdown(const char* lpMessage, DWORD dwTimeout, BOOL bForceAppsClosed,
                         BOOL bRebootAfterShutdown) override {
    m_strMessage = lpMessage;
    m_calls.push_back("initiate " + std::to_string(dwTimeout) + (bForceAppsClosed ? " force" : " noforce") +
                      (bRebootAfterShutdown ? " reboot" : " halt"));
    return m_dwResult;
  }
  DWORD AbortShutdown() override {
    m_calls.push_back("abort");
    return m_dwResult;
  }
  DWORD m_dwResult = ERROR_SUCCESS;
  std::string m_strMessage;
  std::vector<std::string> m_calls;
};

const char kRangeError[] = "[Error] Please input an integer between 10 and 3600 into 'DELAY'.\n";
// The two notice texts in code page 932, byte for byte.
const char kShutdownMessageCp932[] =
    "\x83\x52\x83\x93\x83\x73\x83\x85\x81\x5b\x83\x5e\x82\xcc\x83\x56\x83\x83\x83\x62\x83\x67\x83\x5f\x83\x45"
    "\x83\x93\x82\xaa\x8d\x73\x82\xed\x82\xea\x82\xdc\x82\xb7\x81\x42\x83\x66\x81\x5b\x83\x5e\x82\xf0\x95\xdb"
    "\x91\xb6\x82\xb5\x81\x41\x82\xb7\x82\xd7\x82\xc4\x82\xcc\x83\x41\x83\x76\x83\x8a\x83\x50\x81\x5b\x83\x56"
    "\x83\x87\x83\x93\x82\xf0\x8f\x49\x97\xb9\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81\x42";
const char kRebootMessageCp932[] =
    "\x83\x52\x83\x93\x83\x73\x83\x85\x81\x5b\x83\x5e\x82\xcc\x8d\xc4\x8b\x4e\x93\xae\x82\xaa\x8d\x73\x82\xed"
    "\x82\xea\x82\xdc\x82\xb7\x81\x42\x83\x66\x81\x5b\x83\x5e\x82\xf0\x95\xdb\x91\xb6\x82\xb5\x81\x41\x82\xb7"
    "\x82\xd7\x82\xc4\x82\xcc\x83\x41\x83\x76\x83\x8a\x83\x50\x81\x5b\x83\x56\x83\x87\x83\x93\x82\xf0\x8f\x49"
    "\x97\xb9\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81\x42";

TEST(PowerCommandsTest, DelayOutsideTheRangeIsRefusedWithThePrivilegeStillSwitched) {
  const struct {
    const char* lpDelay;
    BOOL bReboot;
  } cases[] = {
      {"9", FALSE}, {"3601", TRUE}, {"0", FALSE}, {"abc", TRUE}, {"", FALSE},
      {"-1", FALSE},  // wraps to a huge number
      {"99999999999999999999999", TRUE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lpDelay);
    CRecordingWriter writer;
    CFakeShutdownState state;
    CFakeShutdownControl control;
    EXPECT_EQ(1, RequestShutdown(writer, c.lpDelay, c.bReboot, state, control));
    EXPECT_EQ(kRangeError, writer.m_strBytes);
    EXPECT_EQ((std::vector<std::string>{"enable SeShutdownPrivilege", "disable SeShutdownPrivilege"}),
              control.m_calls);
    EXPECT_TRUE(state.m_calls.empty());
  }
}

TEST(PowerCommandsTest, AcceptedRequestStartsTheCountdownAndWritesNothing) {
  const struct {
    const char* lpDelay;
    BOOL bReboot;
    const char* lpInitiate;
    const char* lpNotice;
    const char* lpMessage;
  } cases[] = {
      {"10", FALSE, "initiate 10 noforce halt", "notice=10,halt", kShutdownMessageCp932},
      {"180", FALSE, "initiate 180 noforce halt", "notice=180,halt", kShutdownMessageCp932},
      {"3600", TRUE, "initiate 3600 force reboot", "notice=3600,reboot", kRebootMessageCp932},
      {" 42s", TRUE, "initiate 42 force reboot", "notice=42,reboot", kRebootMessageCp932},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lpDelay);
    CRecordingWriter writer;
    CFakeShutdownState state;
    CFakeShutdownControl control;
    EXPECT_EQ(1, RequestShutdown(writer, c.lpDelay, c.bReboot, state, control));
    EXPECT_EQ("", writer.m_strBytes);
    EXPECT_EQ((std::vector<std::string>{"enable SeShutdownPrivilege", c.lpInitiate, "disable SeShutdownPrivilege"}),
              control.m_calls);
    EXPECT_EQ(c.lpMessage, control.m_strMessage);
    // Pending first: the countdown stops at once when it finds nothing pending.
    EXPECT_EQ((std::vector<std::string>{"pending=1", c.lpNotice}), state.m_calls);
  }
}

TEST(PowerCommandsTest, RefusedRequestWritesTheSystemErrorAndLeavesTheStateAlone) {
  CRecordingWriter writer;
  CFakeShutdownState state;
  state.m_nPending = 1;
  state.m_nDelay = 60;
  CFakeShutdownControl control;
  control.m_dwResult = ERROR_SHUTDOWN_IN_PROGRESS;
  EXPECT_EQ(0, RequestShutdown(writer, "30", TRUE, state, control));
  EXPECT_EQ("[Error] (0x0000045b) A system shutdown is in progress.\n", writer.m_strBytes);
  EXPECT_TRUE(state.m_calls.empty());
  EXPECT_EQ("disable SeShutdownPrivilege", control.m_calls.back());
}

TEST(PowerCommandsTest, AbortEndsTheCountdownOrReportsTheRefusal) {
  const struct {
    DWORD dwResult;
    const char* lpOutput;
    std::vector<std::string> stateCalls;
  } cases[] = {
      {ERROR_SUCCESS, "Shutdown canceled.\n", {"pending=0", "delay=0"}},
      {ERROR_NO_SHUTDOWN_IN_PROGRESS,
       "[Error] (0x0000045c) Unable to abort the system shutdown because no shutdown was in progress.\n",
       {}},
      {ERROR_SHUTDOWN_IN_PROGRESS, "[Error] (0x0000045b) A system shutdown is in progress.\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dwResult);
    CRecordingWriter writer;
    CFakeShutdownState state;
    CFakeShutdownControl control;
    control.m_dwResult = c.dwResult;
    EXPECT_EQ(1, CancelShutdown(writer, state, control));
    EXPECT_EQ(c.lpOutput, writer.m_strBytes);
    EXPECT_EQ(c.stateCalls, state.m_calls);
    EXPECT_EQ((std::vector<std::string>{"enable SeShutdownPrivilege", "abort", "disable SeShutdownPrivilege"}),
              control.m_calls);
  }
}

TEST(PowerCommandsTest, HandlersLogTheRawArgumentFirst) {
  CFakeAgentContext context;
  CTestAgentLog log;
  log.Install<CKxAgentLog>();
  CRecordingWriter writer;
  CKxAgentCommandArgument argument;
  argument.SetValue("DELAY", "9x");
  // Out of range, so neither handler reaches the system or the agent.
  EXPECT_EQ(1, CmdShutdown(context, writer, argument));
  EXPECT_EQ(1, CmdReboot(context, writer, argument));
  EXPECT_EQ(std::string(kRangeError) + kRangeError, writer.m_strBytes);
  std::string strInfo = log.Read("info.log");
  EXPECT_NE(std::string::npos, strInfo.find("[Command Execute] shutdown 9x\r\n")) << strInfo;
  EXPECT_NE(std::string::npos, strInfo.find("[Command Execute] reboot 9x\r\n")) << strInfo;
}

}  // namespace
