#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/error_codes.h"
#include "platform/serial_port.h"
#include "platform/sync.h"
#include "tests/support/TestPty.h"

namespace {

// A base directory whose dev/COMn links the test points at its terminals.
struct CTestBase {
  std::string strDir;
  CTestBase() {
    char tmpl[] = "/tmp/kx-serial-XXXXXX";
    if (mkdtemp(tmpl) != nullptr) strDir = tmpl;
    std::string dev = strDir + "/dev";
    mkdir(dev.c_str(), 0755);
  }
  ~CTestBase() {
    std::string cmd = "rm -rf " + strDir;
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << cmd;
  }
  std::string Link(DWORD dwPort) const { return strDir + "/dev/COM" + std::to_string(dwPort); }
  void PointAt(DWORD dwPort, const std::string& target) const {
    std::string link = Link(dwPort);
    unlink(link.c_str());
    ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
  }
};

// Reads what the port has buffered until `nWant` bytes came or the port stays quiet.
std::string ReadFromPort(kx::CSerialPort& port, size_t nWant) {
  std::string out;
  while (out.size() < nWant && port.WaitForInput(5000) == ERROR_SUCCESS) {
    char buffer[4096];
    DWORD dwRead = 0;
    if (port.Read(buffer, sizeof(buffer), &dwRead) != ERROR_SUCCESS) break;
    out.append(buffer, dwRead);
  }
  return out;
}

TEST(GetComPortPath, UsesTheLinkBelowTheBaseElseTheTtySDevice) {
  CTestBase base;
  base.PointAt(3, "/nonexistent-terminal");  // a link to a terminal not there yet still counts
  EXPECT_EQ(base.Link(3), kx::GetComPortPath(base.strDir, 3));
  EXPECT_EQ(base.Link(3), kx::GetComPortPath(base.strDir + "/", 3));
  EXPECT_EQ("/dev/ttyS1", kx::GetComPortPath(base.strDir, 2));
  EXPECT_EQ("", kx::GetComPortPath(base.strDir, 0));
}

// The device a service instance names stands for whichever port is configured;
// unset or empty, the configured port decides again.
TEST(GetComPortPath, TheServedDeviceVariableOverridesTheConfiguredPort) {
  CTestBase base;
  base.PointAt(1, "/nonexistent-terminal");
  struct {
    const char* lpDevice;  // nullptr: unset
    DWORD dwPort;
    std::string strExpected;
  } const cases[] = {
      {"/dev/ttyUSB0", 1, "/dev/ttyUSB0"},
      {"/dev/serial/by-id/usb-FTDI_A1", 7, "/dev/serial/by-id/usb-FTDI_A1"},
      {"/dev/ttyUSB0", 0, ""},
      {"", 1, base.Link(1)},
      {nullptr, 1, base.Link(1)},
      {nullptr, 2, "/dev/ttyS1"},
  };
  for (const auto& c : cases) {
    if (c.lpDevice != nullptr) {
      setenv(kx::kSerialDeviceVariable, c.lpDevice, 1);
    } else {
      unsetenv(kx::kSerialDeviceVariable);
    }
    EXPECT_EQ(c.strExpected, kx::GetComPortPath(base.strDir, c.dwPort))
        << (c.lpDevice != nullptr ? c.lpDevice : "(unset)") << ", COM" << c.dwPort;
  }
  unsetenv(kx::kSerialDeviceVariable);
}

TEST(CSerialPort, OpeningAMissingOrNonTerminalDeviceIsFileNotFound) {
  CTestBase base;
  base.PointAt(1, "/nonexistent-terminal");
  base.PointAt(2, "/etc/hostname");
  auto port = kx::CreateSerialPort(base.strDir);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), port->Open(1, 9600));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), port->Open(2, 9600));
  EXPECT_FALSE(port->IsOpen());
}

TEST(CSerialPort, CarriesBytesBothWaysUnchanged) {
  CTestBase base;
  CTestPty pty;
  base.PointAt(1, pty.strSlave);
  auto port = kx::CreateSerialPort(base.strDir);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), port->Open(1, 115200));

  // Raw mode: a lone LF stays LF and 8-bit bytes pass through.
  const std::string out("a\nb\r\x82\xA0\xFF", 7);
  DWORD dwWritten = 0;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), port->Write(out.data(), 7, &dwWritten));
  EXPECT_EQ(7u, dwWritten);
  EXPECT_EQ(out, pty.Receive(7));

  const std::string in("x\ry\x03\x1B[A", 7);
  pty.Send(in);
  EXPECT_EQ(in, ReadFromPort(*port, 7));

  DWORD dwLeft = 99;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), port->GetInputCount(&dwLeft));
  EXPECT_EQ(0u, dwLeft);
  DWORD dwDtr = port->ClearDtr();  // a pseudo-terminal has no modem lines
  EXPECT_TRUE(dwDtr == ERROR_SUCCESS || dwDtr == ERROR_NOT_SUPPORTED) << dwDtr;
  port->Close();
  EXPECT_FALSE(port->IsOpen());
}

TEST(CSerialPort, APortInUseIsRefusedUntilItsOwnerClosesIt) {
  CTestBase base;
  CTestPty pty;
  base.PointAt(1, pty.strSlave);
  auto owner = kx::CreateSerialPort(base.strDir);
  auto second = kx::CreateSerialPort(base.strDir);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), owner->Open(1, 9600));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), second->Open(1, 9600));
  owner->Close();
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), second->Open(1, 9600));
}

TEST(CSerialPort, WaitEndsOnTimeoutAndOnCancel) {
  CTestBase base;
  CTestPty pty;
  base.PointAt(1, pty.strSlave);
  auto port = kx::CreateSerialPort(base.strDir);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), port->Open(1, 9600));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), port->WaitForInput(20));

  std::thread canceller([&port] {
    kx::Sleep(50);
    port->CancelWait();
  });
  EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), port->WaitForInput(INFINITE));
  canceller.join();
  // The cancel stays in force, so a wait begun after it cannot block.
  EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), port->WaitForInput(INFINITE));
  port->Close();
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), port->Open(1, 9600));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), port->WaitForInput(0));
}

TEST(CSerialPort, HungUpTerminalIsReportedAndAReturningOneIsServedAgain) {
  CTestBase base;
  CTestPty first;
  base.PointAt(1, first.strSlave);
  auto port = kx::CreateSerialPort(base.strDir);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), port->Open(1, 9600));

  first.CloseMaster();
  EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), port->WaitForInput(1000));
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), port->Reopen());

  CTestPty second;
  base.PointAt(1, second.strSlave);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), port->Reopen());
  second.Send("hi");
  EXPECT_EQ("hi", ReadFromPort(*port, 2));
  DWORD dwWritten = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), port->Write("ok", 2, &dwWritten));
  EXPECT_EQ("ok", second.Receive(2));
}

TEST(CSerialPort, ReopeningTheDeviceItHoldsKeepsThePortAndItsLock) {
  CTestBase base;
  CTestPty pty;
  base.PointAt(1, pty.strSlave);
  auto port = kx::CreateSerialPort(base.strDir);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), port->Open(1, 9600));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), port->Reopen());
  pty.Send("hi");
  EXPECT_EQ("hi", ReadFromPort(*port, 2));
  auto second = kx::CreateSerialPort(base.strDir);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), second->Open(1, 9600));
}

TEST(CSerialPort, WriteToATerminalThatDoesNotReadTimesOut) {
  CTestBase base;
  CTestPty pty;
  base.PointAt(1, pty.strSlave);
  auto port = kx::CreateSerialPort(base.strDir);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), port->Open(1, 9600));
  std::string big(4 * 1024 * 1024, 'x');
  DWORD dwWritten = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT),
            port->Write(big.data(), static_cast<DWORD>(big.size()), &dwWritten));
  EXPECT_LT(dwWritten, big.size());
}

}  // namespace
