#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SerialComm.h"
#include "fake_agent_log.h"
#include "fake_serial_port.h"
#include "platform/error_codes.h"
#include "tests/support/TestPty.h"

namespace {

// Records every block the channel delivers.
class CRecordingSink : public InputSink {
 public:
  void OnReceive(const char* lpData, int nLength) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_blocks.emplace_back(lpData, nLength);
    m_cond.notify_all();
  }
  void OnReceiveChar(char c) override { OnReceive(&c, 1); }

  // Everything delivered, once at least `nWant` bytes came (or a few seconds passed).
  std::string WaitFor(size_t nWant) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait_for(lock, std::chrono::seconds(5), [&] { return Joined().size() >= nWant; });
    return Joined();
  }
  std::vector<size_t> BlockSizes() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<size_t> sizes;
    for (const std::string& block : m_blocks) sizes.push_back(block.size());
    return sizes;
  }

 private:
  std::string Joined() const {
    std::string all;
    for (const std::string& block : m_blocks) all += block;
    return all;
  }
  std::mutex m_mutex;
  std::condition_variable m_cond;
  std::vector<std::string> m_blocks;
};

std::string EscapeForTest(const std::string& strBytes) {
  std::string strOut;
  for (char c : strBytes) strOut += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  return strOut;
}

// A channel on a fake port; the fixture keeps a view of the port it owns.
class SerialCommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::unique_ptr<CFakeSerialPort> pPort(new CFakeSerialPort);
    m_pPort = pPort.get();
    m_pComm.reset(new CSerialComm(3, 9600, KX_ENCODING_SJIS, std::move(pPort)));
  }
  void OpenAndStart() {
    ASSERT_EQ(1, m_pComm->Open());
    ASSERT_EQ(1, m_pComm->Start());
  }

  CFakeSerialPort* m_pPort = nullptr;
  std::unique_ptr<CSerialComm> m_pComm;
};

TEST_F(SerialCommTest, WritesBeforeStartReturnZeroAndSendNothing) {
  EXPECT_EQ(0, m_pComm->WriteChar('a'));
  ASSERT_EQ(1, m_pComm->Open());
  EXPECT_EQ(0, m_pComm->WriteChar('a'));
  EXPECT_EQ(0, m_pComm->WriteLine("abc"));
  EXPECT_EQ(0, m_pComm->Write("abc"));
  EXPECT_EQ(0, m_pComm->SendKeyEcho(8));
  EXPECT_EQ("", m_pPort->Written());
  EXPECT_EQ(3u, m_pPort->OpenedPort());
}

struct WireCase {
  const char* lpName;
  int (*pfnWrite)(CSerialComm&);
  int nResult;
  std::string expected;
};

const WireCase kWireCases[] = {
    {"WriteChar LF", [](CSerialComm& c) { return c.WriteChar('\n'); }, 1, "\x0D\x0A"},
    {"WriteChar CR", [](CSerialComm& c) { return c.WriteChar('\r'); }, 1, "\x0D"},
    {"WriteLine", [](CSerialComm& c) { return c.WriteLine("abc"); }, 1, "\x61\x62\x63\x0A"},
    {"WriteLine keeps inner ends", [](CSerialComm& c) { return c.WriteLine("a\r\nb"); }, 1,
     "a\r\nb\n"},
    {"WriteLine empty", [](CSerialComm& c) { return c.WriteLine(""); }, 1, "\n"},
    {"Write", [](CSerialComm& c) { return c.Write("x y"); }, 1, "x y"},
    {"Write empty", [](CSerialComm& c) { return c.Write(""); }, 0, ""},
    {"Write null", [](CSerialComm& c) { return c.Write(nullptr); }, 0, ""},
    {"echo left", [](CSerialComm& c) { return c.SendKeyEcho(2); }, 1, "\x1B[D"},
    {"echo right", [](CSerialComm& c) { return c.SendKeyEcho(6); }, 1, "\x1B[C"},
    {"echo erase", [](CSerialComm& c) { return c.SendKeyEcho(8); }, 1, "\x08\x20\x08"},
    {"echo LF", [](CSerialComm& c) { return c.SendKeyEcho(10); }, 1, "\r\n"},
    {"echo CR", [](CSerialComm& c) { return c.SendKeyEcho(13); }, 1, "\r\n"},
    {"echo char", [](CSerialComm& c) { return c.SendKeyEcho('q'); }, 1, "q"},
};

TEST_F(SerialCommTest, SendsTheseBytesOnTheWire) {
  OpenAndStart();
  size_t nBefore = 0;
  for (const WireCase& c : kWireCases) {
    EXPECT_EQ(c.nResult, c.pfnWrite(*m_pComm)) << c.lpName;
    std::string written = m_pPort->Written();
    EXPECT_EQ(c.expected, written.substr(nBefore)) << c.lpName;
    nBefore = written.size();
  }
}

TEST_F(SerialCommTest, EucJpEncodingConvertsOutputOnly) {
  OpenAndStart();
  CRecordingSink sink;
  m_pComm->SetCallback(&sink);
  m_pComm->SetEncoding(KX_ENCODING_EUCJP);
  EXPECT_EQ(1, m_pComm->Write("\x82\xA0\x88\x9F\xB1" "a"));
  EXPECT_EQ("\xA4\xA2\xB0\xA1\x8E\xB1" "a", m_pPort->Written());
  // Nothing left after conversion: nothing is sent.
  EXPECT_EQ(0, m_pComm->Write("\x80\xFD"));
  // Received bytes reach the sink as they came.
  m_pPort->Receive("\x82\xA0");
  EXPECT_EQ("\x82\xA0", sink.WaitFor(2));
  m_pComm->SetEncoding(KX_ENCODING_SJIS);
  EXPECT_EQ(1, m_pComm->Write("\x82\xA0"));
  EXPECT_EQ("\xA4\xA2\xB0\xA1\x8E\xB1" "a" "\x82\xA0", m_pPort->Written());
}

TEST_F(SerialCommTest, SendsLongTextInChunksOf8192) {
  OpenAndStart();
  std::string text(10000, 'x');
  text[8191] = 'A';
  text[8192] = 'B';
  EXPECT_EQ(1, m_pComm->Write(text.c_str()));
  EXPECT_EQ((std::vector<DWORD>{8192, 1808}), m_pPort->WriteSizes());
  EXPECT_EQ(text, m_pPort->Written());
}

TEST_F(SerialCommTest, DeliversABufferedBurstIn2048ByteBlocksInOrder) {
  std::string burst;
  for (int i = 0; i < 5000; ++i) burst += static_cast<char>('a' + i % 26);
  ASSERT_EQ(1, m_pComm->Open());
  m_pPort->Receive(burst);
  CRecordingSink sink;
  m_pComm->SetCallback(&sink);
  ASSERT_EQ(1, m_pComm->Start());
  EXPECT_EQ(burst, sink.WaitFor(5000));
  EXPECT_EQ((std::vector<size_t>{2048, 2048, 904}), sink.BlockSizes());
}

// A sink that holds the delivery until the test releases it.
class CBlockingSink : public InputSink {
 public:
  void OnReceive(const char* /*lpData*/, int /*nLength*/) override {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bEntered = true;
    m_cond.notify_all();
    m_cond.wait_for(lock, std::chrono::seconds(10), [&] { return m_bReleased; });
    ++m_nCalls;
  }
  void OnReceiveChar(char c) override { OnReceive(&c, 1); }
  bool WaitEntered() {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cond.wait_for(lock, std::chrono::seconds(5), [&] { return m_bEntered; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bReleased = true;
    m_cond.notify_all();
  }
  int Calls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nCalls;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cond;
  bool m_bEntered = false;
  bool m_bReleased = false;
  int m_nCalls = 0;
};

TEST_F(SerialCommTest, SinkChangeWaitsForTheDeliveryInProgressAndHoldsUpNoWriter) {
  OpenAndStart();
  CBlockingSink blocking;
  CRecordingSink next;
  m_pComm->SetCallback(&blocking);
  m_pPort->Receive("a");
  ASSERT_TRUE(blocking.WaitEntered());
  std::atomic<bool> bChanged(false);
  std::thread changer([&] {
    m_pComm->SetCallback(&next);
    bChanged = true;
  });
  EXPECT_EQ(1, m_pComm->Write("w"));
  EXPECT_EQ("w", m_pPort->Written());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(bChanged) << "the sink was changed while it was being called";
  blocking.Release();
  changer.join();
  m_pPort->Receive("b");
  EXPECT_EQ("b", next.WaitFor(1));
  EXPECT_EQ(1, blocking.Calls());
}

TEST_F(SerialCommTest, FailedWritesAreLoggedAndDropTheRestOfTheQueue) {
  CTestAgentLog log;
  log.Install<CKxAgentLog>();
  m_pComm->SetLineTimings(100, 300);
  OpenAndStart();
  // A line that takes nothing is dead once the dead-line time has passed.
  m_pPort->SetWriteResult(ERROR_TIMEOUT);
  EXPECT_EQ(1, m_pComm->Write(std::string(10000, 'x').c_str()));
  EXPECT_GE(m_pPort->WriteSizes().size(), 1u);
  // Dead, it costs one try per chunk and says nothing more.
  size_t nWrites = m_pPort->WriteSizes().size();
  EXPECT_EQ(1, m_pComm->Write("w"));
  EXPECT_EQ(nWrites + 1, m_pPort->WriteSizes().size());
  m_pPort->SetWriteResult(ERROR_IO_DEVICE);
  EXPECT_EQ(1, m_pComm->Write("y"));
  m_pPort->SetWriteResult(ERROR_SUCCESS);
  EXPECT_EQ(1, m_pComm->Write("z"));
  EXPECT_EQ("z", m_pPort->Written());

  std::string errors = log.Read("error.log");
  const std::string strDead = "[CSerialComm::Send()] WaitForSingleObject() error! (return code = 258)";
  size_t nFirst = errors.find(strDead);
  EXPECT_NE(std::string::npos, nFirst) << errors;
  EXPECT_EQ(std::string::npos, errors.find(strDead, nFirst + 1)) << "the dead line is said once: " << errors;
  EXPECT_NE(std::string::npos,
            errors.find("[CSerialComm::Send()] WriteFile() error! (GetLastError() = 1117)\r\n"))
      << errors;
}

TEST_F(SerialCommTest, ASlowLineGetsEveryByteInOrderThroughShortWrites) {
  CTestAgentLog log;
  log.Install<CKxAgentLog>();
  OpenAndStart();
  m_pPort->SetWriteLimit(300);
  std::string strText;
  for (int i = 0; strText.size() < 20000; ++i) strText += std::to_string(i) + "\n";
  EXPECT_EQ(1, m_pComm->Write(strText.c_str()));
  EXPECT_EQ(1, m_pComm->WriteChar('!'));
  EXPECT_EQ(strText + "!", m_pPort->Written());
  for (DWORD dwSize : m_pPort->WriteSizes()) EXPECT_LE(dwSize, 8192u);
  EXPECT_GE(m_pPort->WriteSizes().size(), strText.size() / 300);
  EXPECT_EQ("", log.Read("error.log"));
}

TEST_F(SerialCommTest, CrLfIsOneLineEndAndALoneLfStaysOne) {
  OpenAndStart();
  CRecordingSink sink;
  m_pComm->SetCallback(&sink);
  // Each row arrives in its parts, one after another; the CR that ends one
  // part and the LF that opens the next still make one line end.
  const struct {
    std::vector<std::string> parts;
    std::string strExpected;
  } kCases[] = {
      {{"user\r\n"}, "user\r"},
      {{"a\n", "b\n"}, "a\nb\n"},
      {{"c\r", "\nd\r\r\n"}, "c\rd\r\r"},
      {{"\n\r\n\n"}, "\n\r\n"},
  };
  std::string strAll;
  for (const auto& c : kCases) {
    for (const std::string& strPart : c.parts) {
      m_pPort->Receive(strPart);
      sink.WaitFor(strAll.size() + 1);
    }
    strAll += c.strExpected;
    EXPECT_EQ(strAll, sink.WaitFor(strAll.size())) << EscapeForTest(strAll);
  }
}

TEST_F(SerialCommTest, AHangUpIsReportedOnceAndThePortIsOpenedAgainUntilItAnswers) {
  CTestAgentLog log;
  log.Install<CKxAgentLog>();
  m_pComm->SetLineTimings(50, 30000);
  std::mutex mutex;
  std::condition_variable cond;
  std::vector<DWORD> hangUps;
  m_pComm->SetHangUpHandler([&](DWORD dwError) {
    std::lock_guard<std::mutex> lock(mutex);
    hangUps.push_back(dwError);
    cond.notify_all();
  });
  OpenAndStart();
  CRecordingSink sink;
  m_pComm->SetCallback(&sink);
  m_pPort->SetHungUp(true);
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cond.wait_for(lock, std::chrono::seconds(5), [&] { return !hangUps.empty(); }));
  }
  // Nobody is there: output is dropped without an error for each write.
  EXPECT_EQ(1, m_pComm->Write("lost"));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (m_pPort->CountReopens() < 3 && std::chrono::steady_clock::now() < deadline) kx::Sleep(10);
  EXPECT_GE(m_pPort->CountReopens(), 3);

  m_pPort->SetHungUp(false);
  m_pPort->Receive("back\r\n");
  EXPECT_EQ("back\r", sink.WaitFor(5));
  EXPECT_EQ(1, m_pComm->Write("ok"));
  EXPECT_EQ("ok", m_pPort->Written());
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(std::vector<DWORD>{ERROR_DEVICE_NOT_CONNECTED}, hangUps);
  }
  EXPECT_EQ("", log.Read("error.log"));
  std::string strWarnings = log.Read("warning.log");
  const std::string strRetry = "COM3 cannot be opened (error 2); trying again every 50 ms.";
  size_t nFirst = strWarnings.find(strRetry);
  EXPECT_NE(std::string::npos, nFirst) << strWarnings;
  EXPECT_EQ(std::string::npos, strWarnings.find(strRetry, nFirst + 1)) << "said once: " << strWarnings;
  EXPECT_NE(std::string::npos, log.Read("info.log").find("COM3 is open again."));
}

TEST(SerialComm, InitializeWritesItsParametersToTheDebugLog) {
  CTestAgentLog log;
  log.Install<CKxAgentLog>();
  const struct {
    int nEncoding;
    const char* lpExpected;
  } kCases[] = {
      {KX_ENCODING_EUCJP, "[CSerialComm::Initialize()] Port=3, Speed=9600, Encoding=EUC-JP\r\n"},
      {KX_ENCODING_SJIS, "[CSerialComm::Initialize()] Port=3, Speed=9600, Encoding=Shift-JIS\r\n"},
      {7, "[CSerialComm::Initialize()] Port=3, Speed=9600, Encoding=Unknown\r\n"},
  };
  for (const auto& c : kCases) {
    CSerialComm comm(3, 9600, c.nEncoding, std::unique_ptr<kx::CSerialPort>(new CFakeSerialPort));
    EXPECT_NE(std::string::npos, log.Read("debug.log").find(c.lpExpected)) << c.lpExpected;
  }
}

TEST_F(SerialCommTest, CloseWakesTheReaderDropsDtrAndStopsWrites) {
  OpenAndStart();
  EXPECT_FALSE(m_pComm->IsClosed());
  EXPECT_EQ(1, m_pComm->Close());  // returns only once the reader has left
  EXPECT_TRUE(m_pComm->IsClosed());
  EXPECT_EQ(1, m_pPort->CountClearDtr());
  EXPECT_EQ(1, m_pPort->CountPurges());
  EXPECT_EQ(0, m_pComm->WriteChar('a'));
  EXPECT_EQ(0, m_pComm->Close());
  EXPECT_EQ("", m_pPort->Written());
}

TEST_F(SerialCommTest, AVanishedTerminalIdlesTheReaderInsteadOfSpinning) {
  m_pComm->SetLineTimings(100, 30000);
  OpenAndStart();
  m_pPort->SetHungUp(true);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (m_pPort->CountReopens() < 5 && std::chrono::steady_clock::now() < deadline) kx::Sleep(10);
  EXPECT_GE(m_pPort->CountReopens(), 5);
  // One wait for the hang-up, then one new opening per idle period, not thousands.
  EXPECT_LE(m_pPort->CountWaits(), 3);

  CRecordingSink sink;
  m_pComm->SetCallback(&sink);
  m_pPort->SetHungUp(false);
  m_pPort->Receive("back");
  EXPECT_EQ("back", sink.WaitFor(4));
}

// ---------------------------------------------------------------------------
// On a pseudo-terminal: the test holds the terminal end, as a console would.

class SerialCommPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kx-comm-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    m_strBase = tmpl;
    ASSERT_EQ(0, mkdir((m_strBase + "/dev").c_str(), 0755));
  }
  void TearDown() override {
    std::string cmd = "rm -rf " + m_strBase;
    ASSERT_EQ(0, std::system(cmd.c_str()));
  }
  void Link(const CTestPty& terminal) {
    std::string link = m_strBase + "/dev/COM2";
    unlink(link.c_str());
    ASSERT_EQ(0, symlink(terminal.strSlave.c_str(), link.c_str()));
  }
  std::unique_ptr<CSerialComm> MakeComm() {
    return std::unique_ptr<CSerialComm>(
        new CSerialComm(2, 115200, KX_ENCODING_SJIS, kx::CreateSerialPort(m_strBase)));
  }
  std::string m_strBase;
};

double CpuSeconds() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(SerialCommPtyTest, CarriesTypedBytesInAndTextOut) {
  CTestPty terminal;
  Link(terminal);
  auto comm = MakeComm();
  CRecordingSink sink;
  comm->SetCallback(&sink);
  ASSERT_EQ(1, comm->Open());
  ASSERT_EQ(1, comm->Start());
  terminal.Send("show date\r");
  EXPECT_EQ("show date\r", sink.WaitFor(10));
  EXPECT_EQ(1, comm->WriteChar('\n'));
  EXPECT_EQ(1, comm->WriteLine("abc"));
  EXPECT_EQ("\r\nabc\n", terminal.Receive(6));
  EXPECT_EQ(1, comm->Close());
  // The device is free again for another program.
  int fd = open(terminal.strSlave.c_str(), O_RDWR | O_NOCTTY);
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
}

TEST_F(SerialCommPtyTest, OpenFailsWhenTheTerminalIsMissing) {
  ASSERT_EQ(0, symlink("/nonexistent-terminal", (m_strBase + "/dev/COM2").c_str()));
  auto comm = MakeComm();
  EXPECT_EQ(0, comm->Open());
  EXPECT_TRUE(comm->IsClosed());
  EXPECT_EQ(0, comm->Start());
}

TEST_F(SerialCommPtyTest, HungUpTerminalCostsNoCpuAndAReturningOneIsServed) {
  auto first = std::unique_ptr<CTestPty>(new CTestPty);
  Link(*first);
  auto comm = MakeComm();
  CRecordingSink sink;
  comm->SetCallback(&sink);
  ASSERT_EQ(1, comm->Open());
  ASSERT_EQ(1, comm->Start());
  first->CloseMaster();

  double dStart = CpuSeconds();
  kx::Sleep(1000);
  // A spinning reader would burn close to a full second here.
  EXPECT_LT(CpuSeconds() - dStart, 0.5);
  comm->WriteLine("lost");  // logged and dropped, not fatal

  // A new terminal behind the port name: the channel finds it by itself. Its
  // output arrives once it has; opening purges, so typing waits until then.
  CTestPty second;
  Link(second);
  std::string screen;
  for (int i = 0; i < 50 && screen.empty(); ++i) {
    EXPECT_EQ(1, comm->Write("ok"));
    screen = second.Receive(1, 200);
  }
  EXPECT_EQ('o', screen.empty() ? '\0' : screen[0]);
  second.Send("hello");
  EXPECT_EQ("hello", sink.WaitFor(5));
  EXPECT_EQ(1, comm->Close());
}

}  // namespace
