#include "fake_serial_port.h"

#include <chrono>

#include "platform/error_codes.h"
#include "platform/sync.h"

DWORD CFakeSerialPort::Open(DWORD dwPort, DWORD /*dwBaudRate*/) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bOpen = true;
  m_bCancelled = false;
  m_dwPort = dwPort;
  return ERROR_SUCCESS;
}

BOOL CFakeSerialPort::IsOpen() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bOpen ? TRUE : FALSE;
}

DWORD CFakeSerialPort::Reopen() {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_nReopens;
  return m_bHungUp ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

DWORD CFakeSerialPort::WaitForInput(DWORD dwMilliseconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  ++m_nWaits;
  auto ready = [this] { return m_bCancelled || m_bHungUp || !m_strInput.empty(); };
  if (dwMilliseconds == INFINITE) {
    m_cond.wait(lock, ready);
  } else if (!m_cond.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), ready)) {
    return WAIT_TIMEOUT;
  }
  if (m_bCancelled) return ERROR_OPERATION_ABORTED;
  if (!m_strInput.empty()) return ERROR_SUCCESS;
  return ERROR_DEVICE_NOT_CONNECTED;
}

void CFakeSerialPort::CancelWait() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bCancelled = true;
  m_cond.notify_all();
}

DWORD CFakeSerialPort::GetInputCount(DWORD* lpdwCount) {
  std::lock_guard<std::mutex> lock(m_mutex);
  *lpdwCount = static_cast<DWORD>(m_strInput.size());
  return ERROR_SUCCESS;
}

DWORD CFakeSerialPort::Read(char* lpBuffer, DWORD dwSize, DWORD* lpdwRead) {
  std::lock_guard<std::mutex> lock(m_mutex);
  DWORD dwCount = m_strInput.size() < dwSize ? static_cast<DWORD>(m_strInput.size()) : dwSize;
  m_strInput.copy(lpBuffer, dwCount);
  m_strInput.erase(0, dwCount);
  *lpdwRead = dwCount;
  return ERROR_SUCCESS;
}

DWORD CFakeSerialPort::Write(const char* lpBuffer, DWORD dwSize, DWORD* lpdwWritten) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_writeSizes.push_back(dwSize);
  if (m_dwWriteResult != ERROR_SUCCESS) {
    *lpdwWritten = 0;
    return m_dwWriteResult;
  }
  // A slow line: what does not fit in one call's time is left for the next,
  // and the call reports the time-out, as a real port's write time-out does.
  DWORD dwTaken = m_dwWriteLimit != 0 && m_dwWriteLimit < dwSize ? m_dwWriteLimit : dwSize;
  m_strWritten.append(lpBuffer, dwTaken);
  *lpdwWritten = dwTaken;
  return dwTaken < dwSize ? ERROR_TIMEOUT : ERROR_SUCCESS;
}

void CFakeSerialPort::SetWriteLimit(DWORD dwBytesPerCall) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_dwWriteLimit = dwBytesPerCall;
}

DWORD CFakeSerialPort::Purge() {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_nPurges;
  m_strInput.clear();
  return ERROR_SUCCESS;
}

DWORD CFakeSerialPort::ClearDtr() {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_nClearDtr;
  return ERROR_SUCCESS;
}

void CFakeSerialPort::Close() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bOpen = false;
}

void CFakeSerialPort::Receive(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_strInput += bytes;
  m_cond.notify_all();
}

void CFakeSerialPort::SetWriteResult(DWORD dwResult) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_dwWriteResult = dwResult;
}

void CFakeSerialPort::SetHungUp(bool bHungUp) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bHungUp = bHungUp;
  m_cond.notify_all();
}

std::string CFakeSerialPort::Written() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_strWritten;
}

std::vector<DWORD> CFakeSerialPort::WriteSizes() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_writeSizes;
}

int CFakeSerialPort::CountWaits() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nWaits;
}

int CFakeSerialPort::CountReopens() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nReopens;
}

int CFakeSerialPort::CountClearDtr() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nClearDtr;
}

int CFakeSerialPort::CountPurges() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nPurges;
}

DWORD CFakeSerialPort::OpenedPort() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_dwPort;
}
