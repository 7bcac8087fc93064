// Serial ports: the agent's one COM port, run 8N1 at a speed with DTR and RTS
// raised and no flow control, read without blocking and written with a time-out.
#pragma once

#include <memory>
#include <string>

#include "platform/kx_types.h"

namespace kx {

// How long one Write may take in all before it gives up, as the Windows write
// time-out of the agent's port.
const DWORD kSerialWriteTimeoutMs = 750;

// The environment variable that, when set and not empty, names the device the
// agent serves in place of the configured COM port (POSIX only; the systemd
// unit sets it from its instance name: kxagent@ttyS0 serves /dev/ttyS0).
const char kSerialDeviceVariable[] = "KX_SERIAL_DEVICE";

// The device path of COMn below `strBaseDir` (the installation directory, with
// or without its trailing separator): the device named by kSerialDeviceVariable
// when it is set, else <base>/dev/COMn when that path exists (a link to a
// serial device or a pseudo-terminal), otherwise /dev/ttyS<n-1>. Empty for port 0.
std::string GetComPortPath(const std::string& strBaseDir, DWORD dwPort);

// One serial port. One thread waits and reads while others write; Close and
// Reopen must not run at the same time as Write (the caller serialises them).
class CSerialPort {
 public:
  virtual ~CSerialPort() {}

  // Opens COMn and configures it: raw 8N1 at `dwBaudRate`, receiver on, modem
  // lines ignored, no flow control, DTR and RTS raised, both queues purged.
  // Setup steps the device does not support (a pseudo-terminal has no modem
  // lines) are ignored. ERROR_SUCCESS, or e.g. ERROR_FILE_NOT_FOUND (no such
  // device), ERROR_ACCESS_DENIED (no permission or in use by another program).
  virtual DWORD Open(DWORD dwPort, DWORD dwBaudRate) = 0;
  // TRUE between a successful Open and Close.
  virtual BOOL IsOpen() = 0;
  // Opens the device path again with the same settings, for a terminal that
  // went away and may have come back (a new pseudo-terminal behind the link, a
  // USB adapter plugged in again). When this fails the port stays open (on the
  // old device where one can be kept, else on none: waits then report the
  // hang-up) and a later Reopen tries again. ERROR_SUCCESS when the device
  // answers again, else an error code.
  virtual DWORD Reopen() = 0;
  // Waits until received bytes are buffered, at most `dwMilliseconds` (INFINITE: no limit).
  // ERROR_SUCCESS: bytes are buffered. WAIT_TIMEOUT: none came.
  // ERROR_OPERATION_ABORTED: CancelWait was called. ERROR_DEVICE_NOT_CONNECTED:
  // the other end hung up: end of file, a failed or removed device, or the
  // carrier (DCD) gone off on a line whose driver reports it and where it had
  // been on (waiting again returns at once until Reopen succeeds). A line that
  // never raises the carrier is served without it.
  virtual DWORD WaitForInput(DWORD dwMilliseconds) = 0;
  // Makes the current and every later WaitForInput return ERROR_OPERATION_ABORTED
  // until the port is opened again. Any thread.
  virtual void CancelWait() = 0;
  // The number of received bytes buffered in the driver.
  virtual DWORD GetInputCount(DWORD* lpdwCount) = 0;
  // Reads up to `dwSize` buffered bytes without waiting; *lpdwRead 0 when none.
  virtual DWORD Read(char* lpBuffer, DWORD dwSize, DWORD* lpdwRead) = 0;
  // Writes `dwSize` bytes, waiting at most kSerialWriteTimeoutMs in all.
  // ERROR_SUCCESS when all were written; ERROR_TIMEOUT when the time ran out
  // first; another code when the device failed. *lpdwWritten counts what went out.
  virtual DWORD Write(const char* lpBuffer, DWORD dwSize, DWORD* lpdwWritten) = 0;
  // Discards both the received and the unsent bytes.
  virtual DWORD Purge() = 0;
  // Drops DTR. ERROR_NOT_SUPPORTED when the device has no modem lines.
  virtual DWORD ClearDtr() = 0;
  // Closes the device; harmless when not open.
  virtual void Close() = 0;
};

// A port on this system's serial devices, COMn resolved below `strBaseDir`;
// an empty base means the running program's directory.
std::unique_ptr<CSerialPort> CreateSerialPort(const std::string& strBaseDir = std::string());

}  // namespace kx
