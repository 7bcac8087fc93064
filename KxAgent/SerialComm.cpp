#include "SerialComm.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "KxAgentLog.h"
#include "LineEditor.h"
#include "platform/error_codes.h"

namespace {

const char kSendSource[] = "CSerialComm::Send()";
const DWORD kReadChunk = 4096;
// How often a channel whose terminal went away looks for it again.
const DWORD kIdleRetryMs = 500;

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
      // The terminal went away (a pseudo-terminal whose other end closed, a
      // failing device). Waiting again would return at once, so idle and look
      // for a terminal behind the port name now and then instead of spinning.
      if (m_stopEvent.Wait(kIdleRetryMs) == WAIT_OBJECT_0) break;
      m_pPort->Reopen();
    }
  }
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
    size_t nCount = std::min(m_receiveQueue.size(), sizeof(m_deliveryBuffer));
    std::copy_n(m_receiveQueue.begin(), nCount, m_deliveryBuffer);
    m_receiveQueue.erase(m_receiveQueue.begin(), m_receiveQueue.begin() + nCount);
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
    int nConverted = SjisToEuc(lpText, converted.data(), static_cast<int>(converted.size()));
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
  for (;;) {
    size_t nCount = std::min(m_sendQueue.size(), sizeof(m_sendBuffer));
    if (nCount == 0) break;
    std::copy_n(m_sendQueue.begin(), nCount, m_sendBuffer);
    m_sendQueue.erase(m_sendQueue.begin(), m_sendQueue.begin() + nCount);
    DWORD dwWritten = 0;
    DWORD dwResult = m_pPort->Write(m_sendBuffer, static_cast<DWORD>(nCount), &dwWritten);
    if (dwResult == ERROR_SUCCESS) continue;
    if (dwResult == ERROR_TIMEOUT) {
      CKxAgentLog::LogError(kSendSource, "WaitForSingleObject() error! (return code = %ld)",
                            static_cast<long>(WAIT_TIMEOUT));
    } else {
      CKxAgentLog::LogError(kSendSource, "WriteFile() error! (GetLastError() = %ld)",
                            static_cast<long>(dwResult));
    }
    m_sendQueue.clear();
    break;
  }
  m_nWriting = 0;
}

int CSerialComm::SendKeyEcho(int nKey) { return EchoKey(*this, nKey); }

int CSerialComm::SjisToEuc(const char* lpSource, char* lpDest, int nSize) {
  if (lpDest == nullptr || nSize <= 0) return 0;
  int nOut = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(lpSource != nullptr ? lpSource : "");
  while (*p != 0 && nOut < nSize - 1) {
    unsigned char b = *p++;
    if (b <= 0x7F) {
      lpDest[nOut++] = static_cast<char>(b);
    } else if (b >= 0xA1 && b <= 0xDF) {
      lpDest[nOut++] = static_cast<char>(0x8E);
      if (nOut < nSize) lpDest[nOut++] = static_cast<char>(b);
    } else if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
      // A lead byte at the very end has no trail byte; reading on would run
      // past the text's terminator.
      if (*p == 0) break;
      unsigned char t = *p++;
      unsigned char h = static_cast<unsigned char>(b * 2);
      if (t < 0x9F) {
        h = static_cast<unsigned char>(h + (h < 0x3F ? 0x9F : 0x1F));
        t = static_cast<unsigned char>(t + (t <= 0x7E ? 0x61 : 0x60));
      } else {
        h = static_cast<unsigned char>(h + (h < 0x3F ? 0xA0 : 0x20));
        t = static_cast<unsigned char>(t + 2);
      }
      lpDest[nOut++] = static_cast<char>(h);
      if (nOut < nSize) lpDest[nOut++] = static_cast<char>(t);
    }
    // 0x80, 0xA0 and 0xFD to 0xFF are not Shift-JIS and are dropped.
  }
  if (nOut > nSize - 1) nOut = nSize - 1;
  lpDest[nOut] = '\0';
  return nOut;
}
