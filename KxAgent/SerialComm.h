// CSerialComm: the agent's one serial channel. It owns the COM port, runs the
// reader thread that hands received bytes to the current InputSink, and is the
// CWriter every text for the terminal goes through (converted to EUC-JP when
// that encoding is chosen).
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "InputSink.h"
#include "KxAgentPluginManager/Writer.h"
#include "platform/kx_types.h"
#include "platform/serial_port.h"
#include "platform/sync.h"

// Output encoding codes of the channel.
const int KX_ENCODING_SJIS = 1;   // Shift-JIS, sent as it is
const int KX_ENCODING_EUCJP = 2;  // converted to EUC-JP on output

class CSerialComm final : public CWriter {
 public:
  // A closed channel for COM`dwPort` at `dwSpeed` bits per second; writes the
  // debug entry with its parameters. The port is found below the program's directory.
  CSerialComm(DWORD dwPort, DWORD dwSpeed, int nEncodingCode);
  // The same on `pPort` (owned), for another device layer or a test double.
  CSerialComm(DWORD dwPort, DWORD dwSpeed, int nEncodingCode,
              std::unique_ptr<kx::CSerialPort> pPort);
  // Closes the channel (stopping the reader) when still open.
  ~CSerialComm();
  CSerialComm(const CSerialComm&) = delete;
  CSerialComm& operator=(const CSerialComm&) = delete;

  // Queue and send. 0 without sending anything when the channel is not started;
  // WriteLine and Write also 0 when the text (after conversion) is empty; else 1.
  // Any thread; one call's bytes are never interleaved with another's.
  // WriteChar sends '\n' as CR LF.
  int WriteChar(char c) override;
  // The text followed by one LF (no CR added).
  int WriteLine(const char* lpText) override;
  int Write(const char* lpText) override;

  // Opens and configures the port (8N1, DTR/RTS raised, no flow control).
  // 1 on success (or when already open), 0 when the port cannot be opened.
  int Open();
  // Starts the reader thread; writes are sent from now on. 0 when no port is
  // open or the thread cannot be created, else 1.
  int Start();
  // Wakes the reader and waits for it to leave, purges the port, drops DTR
  // and closes it. 0 when no port was open, else 1.
  int Close();
  // TRUE while no port is open.
  BOOL IsClosed();

  // Changes the receiver of input. Waits while a delivery to the current sink
  // is in progress (never for a send); once it returns, the old sink is not
  // called again. Any thread, also the sink itself from inside OnReceive.
  void SetCallback(InputSink* pSink);
  InputSink* GetCallback();
  // KX_ENCODING_SJIS or KX_ENCODING_EUCJP for the text sent from now on.
  void SetEncoding(int nEncodingCode);
  int GetEncoding();

  // The echo of one edited key: 2 cursor left (ESC [ D), 6 cursor right
  // (ESC [ C), 8 erase left (BS SP BS), 10 and 13 CR LF, others the key itself.
  // 1 when sent, 0 when the channel is not started.
  int SendKeyEcho(int nKey);
  // Writes the whole send queue to the port in chunks of at most 8192 bytes.
  // A short or timed-out write goes on with the bytes not yet written. A write
  // that fails, or a line that takes nothing for the dead-line time, is logged
  // (the dead line once until it takes output again) and the rest of the queue
  // is discarded; so is everything written while the terminal is gone.
  void Send();

  // Called on the reader thread, once per hang-up, when the terminal went
  // away: end of file, an I/O error, a removed device or a lost carrier
  // (`dwError` says which, as the port reported it). The port is then opened
  // again every reopen interval until it answers. Set before Start.
  void SetHangUpHandler(std::function<void(DWORD dwError)> handler);
  // How often a port whose terminal went away is opened again, and how long
  // a line may take no output before the queue is dropped. Before Start.
  void SetLineTimings(DWORD dwReopenIntervalMs, DWORD dwDeadLineMs);

 private:
  void Initialize(DWORD dwPort, DWORD dwSpeed, int nEncodingCode);
  void ReaderThread();
  void Drain();
  void Deliver();
  // The reader's side of a hang-up: the handler, then a new opening now and then.
  // false when the channel is closing.
  bool RecoverLine(DWORD dwError);
  // Writes m_sendBuffer[0, dwCount) through short and timed-out writes. false
  // when the rest of the queue is to be dropped. Lock held.
  bool WriteChunk(DWORD dwCount);
  // Appends the bytes to the send queue and sends them; lock held by the caller.
  void QueueAndSend(const char* lpData, size_t nLength);

  std::unique_ptr<kx::CSerialPort> m_pPort;
  std::thread m_readerThread;
  kx::CEvent m_stopEvent;
  std::atomic<int> m_nRun;
  DWORD m_dwPort;
  DWORD m_dwSpeed;
  std::atomic<int> m_nStarted;
  std::atomic<int> m_nReading;
  std::atomic<int> m_nWriting;
  std::deque<char> m_receiveQueue;
  std::deque<char> m_sendQueue;
  std::recursive_mutex m_lock;
  // Held around each call of the sink and around its change.
  std::recursive_mutex m_deliveryLock;
  std::atomic<InputSink*> m_pSink;
  std::atomic<int> m_nEncoding;
  // Set by the reader from a hang-up until the port answers again.
  std::atomic<int> m_nHungUp;
  std::function<void(DWORD)> m_hangUpHandler;
  DWORD m_dwReopenIntervalMs;
  DWORD m_dwDeadLineMs;
  // A CR was the last byte delivered: an LF right after it ends the same line (reader only).
  bool m_bAfterCR;
  // The dead line has been reported; cleared by the next write that goes out (lock).
  bool m_bLineDead;
  char m_sendBuffer[8192];
  char m_deliveryBuffer[2048];
};
