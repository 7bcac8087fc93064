#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/error_codes.h"
#include "platform/posix_error.h"
#include "platform/program_path.h"
#include "platform/serial_port.h"
#include "platform/sync.h"

namespace kx {
namespace {

struct SpeedEntry {
  DWORD dwBaud;
  speed_t nSpeed;
};

const SpeedEntry kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000},
};

// Raw 8N1, no flow control, modem status ignored. Failures are ignored as the
// Windows setup calls' are: a pseudo-terminal takes most of this, and the port
// is still usable when some of it does not apply.
void ConfigureDevice(int nFd, DWORD dwBaudRate) {
  ioctl(nFd, TIOCEXCL);
  struct termios tio;
  if (tcgetattr(nFd, &tio) == 0) {
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD | HUPCL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    for (const SpeedEntry& entry : kSpeeds) {
      if (entry.dwBaud == dwBaudRate) {
        cfsetispeed(&tio, entry.nSpeed);
        cfsetospeed(&tio, entry.nSpeed);
        break;
      }
    }
    tcsetattr(nFd, TCSANOW, &tio);
  }
  int nLines = TIOCM_DTR | TIOCM_RTS;
  ioctl(nFd, TIOCMBIS, &nLines);
  tcflush(nFd, TCIOFLUSH);
}

// Opens and configures a device; -1 with errno set on failure.
int OpenDevice(const std::string& strPath, DWORD dwBaudRate) {
  int nFd = open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (nFd < 0) return -1;
  if (!isatty(nFd)) {
    close(nFd);
    errno = ENOTTY;
    return -1;
  }
  // A port is owned by one program at a time, as a COM port opened without
  // sharing is. TIOCEXCL does not hold back root, so a lock on the device
  // makes a second agent fail instead of splitting the terminal's input.
  if (flock(nFd, LOCK_EX | LOCK_NB) != 0) {
    close(nFd);
    errno = EACCES;
    return -1;
  }
  ConfigureDevice(nFd, dwBaudRate);
  return nFd;
}

// How often the carrier is looked at on a line whose driver reports it.
const int kCarrierPollMs = 250;

// The modem lines of the device; false when the driver has none (a
// pseudo-terminal, some USB adapters).
bool GetModemLines(int nFd, int* pnLines) { return ioctl(nFd, TIOCMGET, pnLines) == 0; }

bool IsHungUp(int nFd) {
  struct pollfd pfd = {nFd, POLLIN, 0};
  if (poll(&pfd, 1, 0) < 0) return false;
  return (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

class CPosixSerialPort : public CSerialPort {
 public:
  explicit CPosixSerialPort(const std::string& strBaseDir)
      : m_strBaseDir(strBaseDir), m_nFd(-1), m_nWakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

  ~CPosixSerialPort() override {
    Close();
    if (m_nWakeFd >= 0) close(m_nWakeFd);
  }

  DWORD Open(DWORD dwPort, DWORD dwBaudRate) override {
    if (m_nFd >= 0) return ERROR_ACCESS_DENIED;
    std::string strPath = GetComPortPath(m_strBaseDir, dwPort);
    if (strPath.empty()) return ERROR_FILE_NOT_FOUND;
    int nFd = OpenDevice(strPath, dwBaudRate);
    if (nFd < 0) {
      return errno == ENOTTY ? ERROR_FILE_NOT_FOUND : ErrnoToWinError(errno);
    }
    // A cancel left over from an earlier opening must not end the first wait.
    uint64_t ullCount = 0;
    if (m_nWakeFd >= 0) {
      while (read(m_nWakeFd, &ullCount, sizeof(ullCount)) > 0) {
      }
    }
    m_strPath = strPath;
    m_dwBaudRate = dwBaudRate;
    m_bCarrierSeen = false;
    m_nFd = nFd;
    return ERROR_SUCCESS;
  }

  BOOL IsOpen() override { return m_nFd >= 0 ? TRUE : FALSE; }

  DWORD Reopen() override {
    int nOld = m_nFd;
    if (nOld < 0) return ERROR_INVALID_HANDLE;
    // The path may lead back to the very device we hold: let the new opening
    // take the port's lock, and take it back when the new opening is refused.
    flock(nOld, LOCK_UN);
    int nFd = OpenDevice(m_strPath, m_dwBaudRate);
    if (nFd < 0) {
      DWORD dwError = errno == ENOTTY ? ERROR_FILE_NOT_FOUND : ErrnoToWinError(errno);
      flock(nOld, LOCK_EX | LOCK_NB);
      return dwError;
    }
    if (IsHungUp(nFd)) {
      close(nFd);
      flock(nOld, LOCK_EX | LOCK_NB);
      return ERROR_DEVICE_NOT_CONNECTED;
    }
    // dup2 swaps the device behind the same descriptor number in one step, so a
    // writer on another thread never sees a closed or reused descriptor.
    int nResult = dup2(nFd, nOld);
    int nSaved = errno;
    close(nFd);
    if (nResult < 0) return ErrnoToWinError(nSaved);
    // A new call: its carrier counts once it has been seen on.
    m_bCarrierSeen = false;
    return ERROR_SUCCESS;
  }

  DWORD WaitForInput(DWORD dwMilliseconds) override {
    int nFd = m_nFd;
    if (nFd < 0) return ERROR_INVALID_HANDLE;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    for (;;) {
      int nTimeout = -1;
      if (dwMilliseconds != INFINITE) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        nTimeout = left < 0 ? 0 : static_cast<int>(left);
      }
      // Where the driver reports the carrier, it is looked at now and then: a
      // line that had it and lost it has hung up. A line that never raised it
      // (three wires, a pseudo-terminal) is served all the same.
      int nLines = 0;
      bool bWatchCarrier = GetModemLines(nFd, &nLines);
      if (bWatchCarrier) {
        if (nLines & TIOCM_CD) {
          m_bCarrierSeen = true;
        } else if (m_bCarrierSeen) {
          return ERROR_DEVICE_NOT_CONNECTED;
        }
        if (nTimeout < 0 || nTimeout > kCarrierPollMs) nTimeout = kCarrierPollMs;
      }
      struct pollfd fds[2] = {{nFd, POLLIN, 0}, {m_nWakeFd, POLLIN, 0}};
      int nReady = poll(fds, m_nWakeFd >= 0 ? 2 : 1, nTimeout);
      if (nReady < 0) {
        if (errno == EINTR) continue;
        return ErrnoToWinError(errno);
      }
      if (fds[1].revents & POLLIN) return ERROR_OPERATION_ABORTED;
      if (nReady == 0) {
        if (dwMilliseconds != INFINITE && std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
        if (bWatchCarrier) continue;
        return WAIT_TIMEOUT;
      }
      // A device that failed or went away (a USB adapter pulled out).
      if (fds[0].revents & (POLLERR | POLLNVAL)) return ERROR_DEVICE_NOT_CONNECTED;
      // Buffered bytes are served before a hang-up is reported. Readable with
      // nothing buffered is an end of file, which counts as a hang-up, so the
      // caller never loops on a wait that returns at once with nothing to read.
      DWORD dwCount = 0;
      if (GetInputCount(&dwCount) == ERROR_SUCCESS && dwCount > 0) return ERROR_SUCCESS;
      return ERROR_DEVICE_NOT_CONNECTED;
    }
  }

  void CancelWait() override {
    if (m_nWakeFd < 0) return;
    uint64_t ullOne = 1;
    ssize_t nIgnored = write(m_nWakeFd, &ullOne, sizeof(ullOne));
    (void)nIgnored;
  }

  DWORD GetInputCount(DWORD* lpdwCount) override {
    *lpdwCount = 0;
    int nCount = 0;
    if (ioctl(m_nFd, FIONREAD, &nCount) != 0) return ErrnoToWinError(errno);
    *lpdwCount = nCount > 0 ? static_cast<DWORD>(nCount) : 0;
    return ERROR_SUCCESS;
  }

  DWORD Read(char* lpBuffer, DWORD dwSize, DWORD* lpdwRead) override {
    *lpdwRead = 0;
    for (;;) {
      ssize_t nRead = read(m_nFd, lpBuffer, dwSize);
      if (nRead >= 0) {
        *lpdwRead = static_cast<DWORD>(nRead);
        return ERROR_SUCCESS;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return ERROR_SUCCESS;
      return ErrnoToWinError(errno);
    }
  }

  DWORD Write(const char* lpBuffer, DWORD dwSize, DWORD* lpdwWritten) override {
    *lpdwWritten = 0;
    if (m_nFd < 0) return ERROR_INVALID_HANDLE;
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kSerialWriteTimeoutMs);
    DWORD dwDone = 0;
    while (dwDone < dwSize) {
      ssize_t nWritten = write(m_nFd, lpBuffer + dwDone, dwSize - dwDone);
      if (nWritten > 0) {
        dwDone += static_cast<DWORD>(nWritten);
        *lpdwWritten = dwDone;
        continue;
      }
      if (nWritten < 0 && errno == EINTR) continue;
      if (nWritten < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return ErrnoToWinError(errno);
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) return ERROR_TIMEOUT;
      struct pollfd pfd = {m_nFd, POLLOUT, 0};
      int nReady = poll(&pfd, 1, static_cast<int>(left));
      if (nReady == 0) return ERROR_TIMEOUT;
      if (nReady < 0 && errno != EINTR) return ErrnoToWinError(errno);
      if (nReady > 0 && (pfd.revents & (POLLERR | POLLNVAL))) return ERROR_IO_DEVICE;
    }
    return ERROR_SUCCESS;
  }

  DWORD Purge() override {
    if (tcflush(m_nFd, TCIOFLUSH) != 0) return ErrnoToWinError(errno);
    return ERROR_SUCCESS;
  }

  DWORD ClearDtr() override {
    int nLines = TIOCM_DTR;
    if (ioctl(m_nFd, TIOCMBIC, &nLines) != 0) {
      return (errno == ENOTTY || errno == EINVAL) ? ERROR_NOT_SUPPORTED : ErrnoToWinError(errno);
    }
    return ERROR_SUCCESS;
  }

  void Close() override {
    int nFd = m_nFd.exchange(-1);
    if (nFd >= 0) close(nFd);
  }

 private:
  std::string m_strBaseDir;
  std::string m_strPath;
  DWORD m_dwBaudRate = 0;
  std::atomic<int> m_nFd;
  int m_nWakeFd;
  // The carrier has been on since the port was opened (reader only).
  bool m_bCarrierSeen = false;
};

}  // namespace

std::string GetComPortPath(const std::string& strBaseDir, DWORD dwPort) {
  if (dwPort == 0) return std::string();
  // A service instance that serves one device (kxagent@ttyUSB0.service) names
  // it here, whichever COM port the shared configuration holds.
  const char* lpDevice = std::getenv(kSerialDeviceVariable);
  if (lpDevice != nullptr && lpDevice[0] != '\0') return lpDevice;
  std::string strLink = strBaseDir;
  if (!strLink.empty() && strLink.back() != '/') strLink += '/';
  strLink += "dev/COM" + std::to_string(dwPort);
  // lstat: a link whose terminal is not there yet still names the port, so it
  // is used (and fails to open) rather than silently falling back to ttyS.
  struct stat info;
  if (!strBaseDir.empty() && lstat(strLink.c_str(), &info) == 0) return strLink;
  return "/dev/ttyS" + std::to_string(dwPort - 1);
}

std::unique_ptr<CSerialPort> CreateSerialPort(const std::string& strBaseDir) {
  return std::unique_ptr<CSerialPort>(
      new CPosixSerialPort(strBaseDir.empty() ? GetProgramDirectory() : strBaseDir));
}

}  // namespace kx
