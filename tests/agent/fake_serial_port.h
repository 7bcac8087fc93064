// CFakeSerialPort: an in-memory serial port the channel tests control: bytes to
// be received are queued in, every write is recorded with its size, and the
// result of writes and the hang-up state can be forced.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_port.h"

class CFakeSerialPort : public kx::CSerialPort {
 public:
  DWORD Open(DWORD dwPort, DWORD dwBaudRate) override;
  BOOL IsOpen() override;
  DWORD Reopen() override;
  DWORD WaitForInput(DWORD dwMilliseconds) override;
  void CancelWait() override;
  DWORD GetInputCount(DWORD* lpdwCount) override;
  DWORD Read(char* lpBuffer, DWORD dwSize, DWORD* lpdwRead) override;
  DWORD Write(const char* lpBuffer, DWORD dwSize, DWORD* lpdwWritten) override;
  DWORD Purge() override;
  DWORD ClearDtr() override;
  void Close() override;

  // Bytes that arrive from the terminal.
  void Receive(const std::string& bytes);
  // The result every later Write gives (ERROR_SUCCESS writes everything).
  void SetWriteResult(DWORD dwResult);
  // At most this many bytes go out per Write (0: no limit); a call that could
  // not write all reports ERROR_TIMEOUT with the count it wrote.
  void SetWriteLimit(DWORD dwBytesPerCall);
  // Whether waits report the terminal as gone.
  void SetHungUp(bool bHungUp);

  // Everything written so far, and the size of each Write call.
  std::string Written();
  std::vector<DWORD> WriteSizes();
  int CountWaits();
  int CountReopens();
  int CountClearDtr();
  int CountPurges();
  DWORD OpenedPort();

 private:
  std::mutex m_mutex;
  std::condition_variable m_cond;
  bool m_bOpen = false;
  bool m_bCancelled = false;
  bool m_bHungUp = false;
  DWORD m_dwPort = 0;
  DWORD m_dwWriteResult = 0;
  DWORD m_dwWriteLimit = 0;
  std::string m_strInput;
  std::string m_strWritten;
  std::vector<DWORD> m_writeSizes;
  int m_nWaits = 0;
  int m_nReopens = 0;
  int m_nClearDtr = 0;
  int m_nPurges = 0;
};
