#include "SerialComm.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "KxAgentLog.h"
#include "LineEditor.h"
#include "platform/error_codes.h"
#include "platform/text_encoding.h"

namespace {

const char kSendSource[] = "CSerialComm::Send()";
const DWORD kReadChunk = 4096;
const char kLineSource[] = "CSerialComm::ReaderThread()";
// How often a channel whose terminal went away looks for it again.
const DWORD kReopenIntervalMs = 2000;
// A line that takes no byte for this long is dead: its output is dropped.
const DWORD kDeadLineMs = 30000;

const char* EncodingName(int nEncodingCode) {
  switch (nEncodingCode) {
    case KX_ENCODING_EUCJP:
      return "EUC-JP";
    case KX_ENCODING_SJIS:
      return "Shift-JIS";
    default:
      return "Unknown";
  }
}

}  // namespace

CSerialComm::CSerialComm(DWORD dwPort, DWORD dwSpeed, int nEncodingCode)
    : CSerialComm(dwPort, dwSpeed, nEncodingCode, kx::CreateSerialPort()) {}

CSerialComm::CSerialComm(DWORD dwPort, DWORD dwSpeed, int nEncodingCode,
                         std::unique_ptr<kx::CSerialPort> pPort)
    : m_pPort(std::move(pPort)), m_stopEvent(TRUE, FALSE) {
  Initialize(dwPort, dwSpeed, nEncodingCode);
}

CSerialComm::~CSerialComm() { Close(); }

void CSerialComm::Initialize(DWORD dwPort, DWORD dwSpeed, int nEncodingCode) {
  m_nRun = 0;
  m_dwPort = dwPort;
  m_dwSpeed = dwSpeed;
  m_nStarted = 0;
  m_nReading = 0;
  m_nWriting = 0;
  m_pSink = nullptr;
  m_nEncoding = nEncodingCode;
  m_nHungUp = 0;
  m_dwReopenIntervalMs = kReopenIntervalMs;
  m_dwDeadLineMs = kDeadLineMs;
  m_bAfterCR = false;
  m_bLineDead = false;
  CKxAgentLog::LogDebug("CSerialComm::Initialize()", "Port=%d, Speed=%ld, Encoding=%s",
                        static_cast<int>(dwPort), static_cast<long>(dwSpeed),
                        EncodingName(nEncodingCode));
}

int CSerialComm::Open() {
  if (m_pPort == nullptr) return 0;
  if (m_pPort->IsOpen()) return 1;
  return m_pPort->Open(m_dwPort, m_dwSpeed) == ERROR_SUCCESS ? 1 : 0;
}

int CSerialComm::Start() {
  if (m_pPort == nullptr || !m_pPort->IsOpen()) return 0;
  if (m_readerThread.joinable()) return 1;
  m_stopEvent.Reset();
  m_nRun = 1;
  // Started before the thread exists: the reader ends at once when it finds
  // the channel not started.
  m_nStarted = 1;
  try {
    m_readerThread = std::thread(&CSerialComm::ReaderThread, this);
  } catch (...) {
    m_nRun = 0;
    m_nStarted = 0;
    return 0;
  }
  return 1;
}

int CSerialComm::Close() {
  if (m_pPort == nullptr || !m_pPort->IsOpen()) return 0;
  if (m_readerThread.joinable()) {
    m_nRun = 0;
    m_nStarted = 0;
    m_stopEvent.Set();
    m_pPort->CancelWait();
    // A sink that closes the channel from inside OnReceive runs on the reader
    // itself, which then leaves on its own once this call returns.
    if (m_readerThread.get_id() == std::this_thread::get_id()) {
      m_readerThread.detach();
    } else {
      m_readerThread.join();
    }
  }
  // The lock waits out a send in progress before the port goes away under it.
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  m_nReading = 0;
  m_nWriting = 0;
  m_nStarted = 0;
  m_sendQueue.clear();
  m_pPort->Purge();
  m_pPort->ClearDtr();
  m_pPort->Close();
  return 1;
}

BOOL CSerialComm::IsClosed() { return (m_pPort == nullptr || !m_pPort->IsOpen()) ? TRUE : FALSE; }

void CSerialComm::SetCallback(InputSink* pSink) {
  // The delivery lock, not the write lock: writers go on while a delivery in
  // progress finishes, and once the sink is stored the old one is never
  // called again.
  std::lock_guard<std::recursive_mutex> lock(m_deliveryLock);
  m_pSink = pSink;
}

InputSink* CSerialComm::GetCallback() { return m_pSink.load(); }

void CSerialComm::SetEncoding(int nEncodingCode) { m_nEncoding = nEncodingCode; }

int CSerialComm::GetEncoding() { return m_nEncoding.load(); }

void CSerialComm::SetHangUpHandler(std::function<void(DWORD dwError)> handler) {
  m_hangUpHandler = std::move(handler);
}

void CSerialComm::SetLineTimings(DWORD dwReopenIntervalMs, DWORD dwDeadLineMs) {
  m_dwReopenIntervalMs = dwReopenIntervalMs;
  m_dwDeadLineMs = dwDeadLineMs;
}

void CSerialComm::ReaderThread() {
  while (m_nRun == 1) {
    DWORD dwResult = m_pPort->WaitForInput(INFINITE);
    if (m_nRun != 1 || m_nStarted != 1) break;
    if (dwResult == ERROR_SUCCESS) {
      Drain();
      Deliver();
    } else if (dwResult == ERROR_OPERATION_ABORTED) {
      break;
    } else if (dwResult != WAIT_TIMEOUT) {
      if (!RecoverLine(dwResult)) break;
    }
  }
}

bool CSerialComm::RecoverLine(DWORD dwError) {
  // The terminal went away (end of file, a failing or removed device, a lost
  // carrier). What it typed and what waits for it belong to the old session.
  m_nHungUp = 1;
  m_receiveQueue.clear();
  m_bAfterCR = false;
  CKxAgentLog::LogInfo(kLineSource, "COM%d hung up (error %lu).", static_cast<int>(m_dwPort),
                       static_cast<unsigned long>(dwError));
  if (m_hangUpHandler) m_hangUpHandler(dwError);
  // Waiting again would return at once: idle, and open the port name again now
  // and then until a terminal answers behind it.
  bool bReported = false;
  for (;;) {
    if (m_stopEvent.Wait(m_dwReopenIntervalMs) == WAIT_OBJECT_0 || m_nRun != 1) return false;
    DWORD dwResult;
    {
      // No write may use the port while it is swapped.
      std::lock_guard<std::recursive_mutex> lock(m_lock);
      dwResult = m_pPort->Reopen();
    }
    if (dwResult == ERROR_SUCCESS) break;
    if (!bReported) {
      CKxAgentLog::LogWarning(kLineSource, "COM%d cannot be opened (error %lu); trying again every %lu ms.",
                              static_cast<int>(m_dwPort), static_cast<unsigned long>(dwResult),
                              static_cast<unsigned long>(m_dwReopenIntervalMs));
      bReported = true;
    }
  }
  m_bAfterCR = false;
  m_nHungUp = 0;
  CKxAgentLog::LogInfo(kLineSource, "COM%d is open again.", static_cast<int>(m_dwPort));
  return true;
}

void CSerialComm::Drain() {
  if (m_nReading.exchange(1) == 1) return;
  char buffer[kReadChunk];
  for (;;) {
    DWORD dwRead = 0;
    if (m_pPort->Read(buffer, kReadChunk, &dwRead) != ERROR_SUCCESS || dwRead == 0) break;
    m_receiveQueue.insert(m_receiveQueue.end(), buffer, buffer + dwRead);
  }
  m_nReading = 0;
}

void CSerialComm::Deliver() {
  while (!m_receiveQueue.empty() && m_nStarted == 1) {
    size_t nCount = 0;
    while (nCount < sizeof(m_deliveryBuffer) && !m_receiveQueue.empty()) {
      char c = m_receiveQueue.front();
      m_receiveQueue.pop_front();
      // CR LF is one line end, wherever the input goes (the session or the
      // pass-through, also across the change between them); LF alone is one too.
      bool bJoined = c == '\n' && m_bAfterCR;
      m_bAfterCR = c == '\r';
      if (!bJoined) m_deliveryBuffer[nCount++] = c;
    }
    if (nCount == 0) continue;
    std::lock_guard<std::recursive_mutex> lock(m_deliveryLock);
    InputSink* pSink = m_pSink.load();
    if (pSink != nullptr) pSink->OnReceive(m_deliveryBuffer, static_cast<int>(nCount));
  }
}

int CSerialComm::WriteChar(char c) {
  if (m_nStarted != 1) return 0;
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  if (c == '\n') {
    QueueAndSend("\r\n", 2);
  } else {
    QueueAndSend(&c, 1);
  }
  return 1;
}

int CSerialComm::WriteLine(const char* lpText) {
  std::string line = lpText != nullptr ? lpText : "";
  line += '\n';
  return Write(line.c_str());
}

int CSerialComm::Write(const char* lpText) {
  if (m_nStarted != 1 || lpText == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  size_t nLength = std::strlen(lpText);
  if (m_nEncoding == KX_ENCODING_EUCJP) {
    std::vector<char> converted(nLength * 2 + 1);
    int nConverted = kx::SjisToEuc(lpText, converted.data(), static_cast<int>(converted.size()));
    if (nConverted == 0) return 0;
    QueueAndSend(converted.data(), static_cast<size_t>(nConverted));
  } else {
    if (nLength == 0) return 0;
    QueueAndSend(lpText, nLength);
  }
  return 1;
}

void CSerialComm::QueueAndSend(const char* lpData, size_t nLength) {
  m_sendQueue.insert(m_sendQueue.end(), lpData, lpData + nLength);
  Send();
}

void CSerialComm::Send() {
  if (m_pPort == nullptr || !m_pPort->IsOpen() || m_nStarted != 1) return;
  std::lock_guard<std::recursive_mutex> lock(m_lock);
  if (m_sendQueue.empty() || m_nWriting == 1) return;
  m_nWriting = 1;
  while (!m_sendQueue.empty()) {
    size_t nCount = std::min(m_sendQueue.size(), sizeof(m_sendBuffer));
    std::copy_n(m_sendQueue.begin(), nCount, m_sendBuffer);
    m_sendQueue.erase(m_sendQueue.begin(), m_sendQueue.begin() + nCount);
    if (!WriteChunk(static_cast<DWORD>(nCount))) {
      m_sendQueue.clear();
      break;
    }
  }
  m_nWriting = 0;
}

bool CSerialComm::WriteChunk(DWORD dwCount) {
  DWORD dwDone = 0;
  DWORD dwLastProgress = kx::GetTickCount();
  while (dwDone < dwCount) {
    // Nobody is there to read it; the next terminal starts afresh.
    if (m_nHungUp != 0 || m_nStarted != 1) return false;
    DWORD dwWritten = 0;
    DWORD dwResult = m_pPort->Write(m_sendBuffer + dwDone, dwCount - dwDone, &dwWritten);
    dwWritten = std::min(dwWritten, dwCount - dwDone);
    dwDone += dwWritten;
    if (dwWritten > 0) {
      dwLastProgress = kx::GetTickCount();
      m_bLineDead = false;
    }
    if (dwResult != ERROR_SUCCESS && dwResult != ERROR_TIMEOUT) {
      // The reader finds out whether the terminal hung up; a write says nothing
      // more while it is gone.
      if (m_nHungUp == 0) {
        CKxAgentLog::LogError(kSendSource, "WriteFile() error! (GetLastError() = %ld)",
                              static_cast<long>(dwResult));
      }
      return false;
    }
    // A slow line takes a chunk in several writes: each one that moves goes on.
    if (dwWritten > 0 && dwResult == ERROR_TIMEOUT) {
      CKxAgentLog::LogDebug(kSendSource, "WriteFile() wrote %lu of %lu bytes in time; the rest follows.",
                            static_cast<unsigned long>(dwWritten),
                            static_cast<unsigned long>(dwCount - dwDone + dwWritten));
    }
    if (dwWritten > 0 || dwDone == dwCount) continue;
    if (m_bLineDead) return false;
    if (kx::GetTickCount() - dwLastProgress >= m_dwDeadLineMs) {
      m_bLineDead = true;
      CKxAgentLog::LogError(kSendSource,
                            "WaitForSingleObject() error! (return code = %ld) The line has taken no "
                            "output for %lu seconds; what waits for it is dropped until it takes "
                            "output again.",
                            static_cast<long>(WAIT_TIMEOUT), static_cast<unsigned long>(m_dwDeadLineMs / 1000));
      return false;
    }
  }
  return true;
}

int CSerialComm::SendKeyEcho(int nKey) { return EchoKey(*this, nKey); }
