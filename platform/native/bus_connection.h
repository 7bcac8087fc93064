// A connection to a D-Bus bus for the native backends: the system bus, or a
// bus at a given address (a private bus in tests). Calls through one
// connection are serialized; any thread may use it.
#pragma once

#include <mutex>
#include <string>

#include <systemd/sd-bus.h>

#include "platform/kx_types.h"

namespace kx {
namespace native {

class CBusConnection {
 public:
  CBusConnection() = default;
  ~CBusConnection();
  CBusConnection(const CBusConnection&) = delete;
  CBusConnection& operator=(const CBusConnection&) = delete;

  // Connects to the bus at lpAddress, or to the system bus when it is null or
  // empty. ERROR_SUCCESS or the Windows code of the failure.
  DWORD DoConnect(const char* lpAddress);
  // The connection; one the bus has dropped (a restarted bus daemon) is made
  // again. Null when never connected or when it cannot be made again now.
  sd_bus* GetBus();
  // Held around each call and the reading of its reply.
  std::mutex& GetLock() { return m_lock; }

 private:
  DWORD Open();

  sd_bus* m_pBus = nullptr;
  bool m_bConnected = false;
  std::string m_strAddress;  // empty: the system bus
  std::mutex m_lock;
};

// Owns a reply or a message under construction.
class CBusMessage {
 public:
  CBusMessage() = default;
  ~CBusMessage();
  CBusMessage(const CBusMessage&) = delete;
  CBusMessage& operator=(const CBusMessage&) = delete;
  sd_bus_message* Get() const { return m_pMessage; }
  sd_bus_message** Receive();

 private:
  sd_bus_message* m_pMessage = nullptr;
};

// Owns the error of one call.
class CBusError {
 public:
  CBusError() = default;
  ~CBusError() { sd_bus_error_free(&m_error); }
  CBusError(const CBusError&) = delete;
  CBusError& operator=(const CBusError&) = delete;
  sd_bus_error* Get() { return &m_error; }

 private:
  sd_bus_error m_error = SD_BUS_ERROR_NULL;
};

// The Windows code for a failed call: the D-Bus error name first (through
// lpNameTable, pairs of name and code ending in a null name), then its errno.
struct BUS_ERROR_CODE {
  const char* lpName;
  DWORD dwCode;
};
DWORD MapBusError(const sd_bus_error* pError, int nResult, const BUS_ERROR_CODE* lpNameTable);

}  // namespace native
}  // namespace kx
