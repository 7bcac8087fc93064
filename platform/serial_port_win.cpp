#include "platform/windows_win.h"

#include <algorithm>
#include <cstdio>

#include "platform/error_codes.h"
#include "platform/serial_port.h"
#include "platform/sync.h"

namespace kx {

std::string GetComPortPath(const std::string& /*strBaseDir*/, DWORD dwPort) {
  char szName[32];
  std::snprintf(szName, sizeof(szName), "\\\\.\\COM%lu", dwPort);
  return szName;
}

namespace {

const DWORD kInputQueueSize = 8192;
const DWORD kOutputQueueSize = 4096;
const WORD kFlowLimit = 2048;
const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
const DWORD kInputPollMs = 50;
// Received bytes, and a change of the carrier on lines that carry one.
const DWORD kEventMask = EV_RXCHAR | EV_RLSD;
// How long a read of bytes already counted as buffered may take before it is cancelled.
const DWORD kReadGuardMs = 1000;

// COMn opened for overlapped I/O: the reader waits for EV_RXCHAR with
// WaitCommEvent while other threads write, and a wait can be cancelled.
class CWinSerialPort : public CSerialPort {
 public:
  CWinSerialPort()
      : m_hPort(INVALID_HANDLE_VALUE),
        m_hCancel(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        m_hWaitEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        m_bWaitPending(false),
        m_dwPort(0),
        m_dwBaudRate(0) {}
  ~CWinSerialPort() override {
    Close();
    CloseKernelHandle(m_hCancel);
    CloseKernelHandle(m_hWaitEvent);
  }

  DWORD Open(DWORD dwPort, DWORD dwBaudRate) override {
    Close();
    HANDLE hPort = OpenDevice(dwPort, dwBaudRate);
    if (hPort == INVALID_HANDLE_VALUE) return ::GetLastError();
    m_hPort = hPort;
    m_bOpened = true;
    m_bPollOnly = false;
    m_bCarrierSeen = false;
    m_dwPort = dwPort;
    m_dwBaudRate = dwBaudRate;
    ::ResetEvent(m_hCancel);
    return ERROR_SUCCESS;
  }

  // Open from a successful Open until Close, also while a removed device is
  // away: Reopen then brings it back.
  BOOL IsOpen() override { return m_bOpened ? TRUE : FALSE; }

  DWORD Reopen() override {
    if (!m_bOpened) return ERROR_INVALID_HANDLE;
    // A port owned exclusively cannot be opened twice: close, then open again.
    // A device that is not back yet leaves no handle behind, and the next try
    // starts from the same state.
    if (m_hPort != INVALID_HANDLE_VALUE) {
      AbandonWait();
      ::CloseHandle(m_hPort);
      m_hPort = INVALID_HANDLE_VALUE;
    }
    m_bPollOnly = false;
    m_bCarrierSeen = false;
    HANDLE hPort = OpenDevice(m_dwPort, m_dwBaudRate);
    if (hPort == INVALID_HANDLE_VALUE) return ::GetLastError();
    m_hPort = hPort;
    return ERROR_SUCCESS;
  }

  DWORD WaitForInput(DWORD dwMilliseconds) override {
    if (!m_bOpened) return ERROR_INVALID_HANDLE;
    if (m_hPort == INVALID_HANDLE_VALUE) return ERROR_DEVICE_NOT_CONNECTED;
    DWORD dwStart = ::GetTickCount();
    for (;;) {
      if (::WaitForSingleObject(m_hCancel, 0) == WAIT_OBJECT_0) return ERROR_OPERATION_ABORTED;
      DWORD dwCount = 0;
      // A device that no longer answers (a USB adapter pulled out) has hung up;
      // polling it would go on for ever.
      if (GetInputCount(&dwCount) != ERROR_SUCCESS) return ERROR_DEVICE_NOT_CONNECTED;
      if (dwCount > 0) return ERROR_SUCCESS;
      if (HasLostCarrier()) return ERROR_DEVICE_NOT_CONNECTED;
      DWORD dwElapsed = ::GetTickCount() - dwStart;
      if (dwMilliseconds != INFINITE && dwElapsed >= dwMilliseconds) return WAIT_TIMEOUT;
      DWORD dwLeft = dwMilliseconds == INFINITE ? INFINITE : dwMilliseconds - dwElapsed;
      if (!m_bWaitPending && !m_bPollOnly) {
        ::ResetEvent(m_hWaitEvent);
        m_overlappedWait = OVERLAPPED();
        m_overlappedWait.hEvent = m_hWaitEvent;
        m_dwEventMask = 0;
        if (::WaitCommEvent(m_hPort, &m_dwEventMask, &m_overlappedWait)) continue;
        DWORD dwError = ::GetLastError();
        m_bWaitPending = dwError == ERROR_IO_PENDING;
        if (IsDeviceGone(dwError)) return ERROR_DEVICE_NOT_CONNECTED;
      }
      // The driver's count is looked at again now and then: not every driver
      // signals EV_RXCHAR.
      dwLeft = std::min<DWORD>(dwLeft, kInputPollMs);
      HANDLE handles[2] = {m_hCancel, m_hWaitEvent};
      DWORD dwResult = ::WaitForMultipleObjects(m_bWaitPending ? 2 : 1, handles, FALSE, dwLeft);
      if (dwResult == WAIT_OBJECT_0) return ERROR_OPERATION_ABORTED;
      if (dwResult == WAIT_OBJECT_0 + 1) {
        DWORD dwIgnored = 0;
        // A driver that cannot watch its line (Wine's on a pseudo-terminal
        // ends every wait with an error while nothing is buffered) would make
        // this a busy loop: the count alone is polled on this handle from now on.
        if (!::GetOverlappedResult(m_hPort, &m_overlappedWait, &dwIgnored, FALSE)) {
          m_bWaitPending = false;
          if (IsDeviceGone(::GetLastError())) return ERROR_DEVICE_NOT_CONNECTED;
          m_bPollOnly = true;
        }
        m_bWaitPending = false;
      }
    }
  }

  void CancelWait() override { ::SetEvent(m_hCancel); }

  DWORD GetInputCount(DWORD* lpdwCount) override {
    *lpdwCount = 0;
    if (m_hPort == INVALID_HANDLE_VALUE) return ERROR_DEVICE_NOT_CONNECTED;
    DWORD dwErrors = 0;
    COMSTAT status = {};
    if (!::ClearCommError(m_hPort, &dwErrors, &status)) return ::GetLastError();
    *lpdwCount = status.cbInQue;
    return ERROR_SUCCESS;
  }

  DWORD Read(char* lpBuffer, DWORD dwSize, DWORD* lpdwRead) override {
    *lpdwRead = 0;
    // Only what the driver holds is asked for: the read time-outs make a read
    // return at once with what is buffered, but not every driver keeps to
    // them (Wine's waits for the next byte), and a read must never wait.
    DWORD dwBuffered = 0;
    DWORD dwError = GetInputCount(&dwBuffered);
    if (dwError != ERROR_SUCCESS || dwBuffered == 0) return dwError;
    dwSize = std::min(dwSize, dwBuffered);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!::ReadFile(m_hPort, lpBuffer, dwSize, lpdwRead, &overlapped)) {
      dwError = ::GetLastError();
      if (dwError == ERROR_IO_PENDING) {
        if (::WaitForSingleObject(overlapped.hEvent, kReadGuardMs) != WAIT_OBJECT_0) ::CancelIo(m_hPort);
        dwError = ::GetOverlappedResult(m_hPort, &overlapped, lpdwRead, TRUE) ? ERROR_SUCCESS : ::GetLastError();
        if (dwError == ERROR_OPERATION_ABORTED) dwError = ERROR_SUCCESS;
      }
    }
    ::CloseHandle(overlapped.hEvent);
    return dwError;
  }

  DWORD Write(const char* lpBuffer, DWORD dwSize, DWORD* lpdwWritten) override {
    *lpdwWritten = 0;
    if (m_hPort == INVALID_HANDLE_VALUE) return ERROR_DEVICE_NOT_CONNECTED;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD dwError = ERROR_SUCCESS;
    if (!::WriteFile(m_hPort, lpBuffer, dwSize, lpdwWritten, &overlapped)) {
      dwError = ::GetLastError();
      if (dwError == ERROR_IO_PENDING) {
        // The port's write time-out ends the write; the wait is a guard beyond it.
        if (::WaitForSingleObject(overlapped.hEvent, kSerialWriteTimeoutMs + 1000) != WAIT_OBJECT_0) {
          ::CancelIo(m_hPort);
        }
        dwError = ::GetOverlappedResult(m_hPort, &overlapped, lpdwWritten, TRUE) ? ERROR_SUCCESS : ::GetLastError();
      }
    }
    ::CloseHandle(overlapped.hEvent);
    if (dwError == ERROR_SUCCESS && *lpdwWritten < dwSize) dwError = ERROR_TIMEOUT;
    if (dwError == ERROR_OPERATION_ABORTED) dwError = ERROR_TIMEOUT;
    return dwError;
  }

  DWORD Purge() override {
    if (m_hPort == INVALID_HANDLE_VALUE) return ERROR_DEVICE_NOT_CONNECTED;
    return ::PurgeComm(m_hPort, kPurgeAll) ? ERROR_SUCCESS : ::GetLastError();
  }

  DWORD ClearDtr() override {
    if (m_hPort == INVALID_HANDLE_VALUE) return ERROR_DEVICE_NOT_CONNECTED;
    return ::EscapeCommFunction(m_hPort, CLRDTR) ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
  }

  void Close() override {
    m_bOpened = false;
    if (m_hPort == INVALID_HANDLE_VALUE) return;
    AbandonWait();
    ::SetCommMask(m_hPort, 0);
    ::CloseHandle(m_hPort);
    m_hPort = INVALID_HANDLE_VALUE;
  }

 private:
  // Opens and configures \\.\COMn: 8N1, DTR and RTS raised, no flow control,
  // reads that return at once, writes limited to kSerialWriteTimeoutMs. The
  // setup calls' results are ignored: a device may not support every one.
  static HANDLE OpenDevice(DWORD dwPort, DWORD dwBaudRate) {
    std::string strName = GetComPortPath(std::string(), dwPort);
    HANDLE hPort = ::CreateFileA(strName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    if (hPort == INVALID_HANDLE_VALUE) return hPort;
    DWORD dwErrors = 0;
    COMSTAT status = {};
    ::ClearCommError(hPort, &dwErrors, &status);
    ::SetupComm(hPort, kInputQueueSize, kOutputQueueSize);
    ::PurgeComm(hPort, kPurgeAll);
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = kSerialWriteTimeoutMs;
    ::SetCommTimeouts(hPort, &timeouts);
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    dcb.BaudRate = dwBaudRate;
    dcb.fBinary = TRUE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = kFlowLimit;
    dcb.XoffLim = kFlowLimit;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ::SetCommState(hPort, &dcb);
    ::SetCommMask(hPort, 0);
    ::SetCommMask(hPort, kEventMask);
    return hPort;
  }

  // Errors that say the device itself is gone or failed, not that one call
  // went wrong.
  static bool IsDeviceGone(DWORD dwError) {
    return dwError == ERROR_BAD_COMMAND || dwError == ERROR_DEVICE_REMOVED || dwError == ERROR_GEN_FAILURE ||
           dwError == ERROR_INVALID_HANDLE || dwError == ERROR_ACCESS_DENIED || dwError == ERROR_FILE_NOT_FOUND ||
           dwError == ERROR_DEVICE_NOT_CONNECTED;
  }

  // The carrier (DCD, EV_RLSD) was on since the port was opened and is off
  // now. A line that never raises it is never taken as hung up.
  bool HasLostCarrier() {
    DWORD dwStatus = 0;
    if (!::GetCommModemStatus(m_hPort, &dwStatus)) return false;
    if (dwStatus & MS_RLSD_ON) {
      m_bCarrierSeen = true;
      return false;
    }
    return m_bCarrierSeen;
  }

  // Ends a WaitCommEvent still pending, so its OVERLAPPED is free again.
  void AbandonWait() {
    if (!m_bWaitPending) return;
    ::SetCommMask(m_hPort, 0);  // completes the pending wait
    ::CancelIo(m_hPort);
    DWORD dwIgnored = 0;
    ::GetOverlappedResult(m_hPort, &m_overlappedWait, &dwIgnored, TRUE);
    m_bWaitPending = false;
    ::SetCommMask(m_hPort, kEventMask);
  }

  HANDLE m_hPort;
  HANDLE m_hCancel;
  HANDLE m_hWaitEvent;
  OVERLAPPED m_overlappedWait = {};
  DWORD m_dwEventMask = 0;
  bool m_bWaitPending;
  bool m_bPollOnly = false;
  bool m_bOpened = false;
  bool m_bCarrierSeen = false;
  DWORD m_dwPort;
  DWORD m_dwBaudRate;
};

}  // namespace

std::unique_ptr<CSerialPort> CreateSerialPort(const std::string& /*strBaseDir*/) {
  return std::unique_ptr<CSerialPort>(new CWinSerialPort());
}

}  // namespace kx
