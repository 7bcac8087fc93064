#include "platform/native/bus_connection.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>

#include "platform/error_codes.h"
#include "platform/posix_error.h"

namespace kx {
namespace native {

namespace {

// Errors every bus peer may answer with, whatever the service.
const BUS_ERROR_CODE kCommonErrors[] = {
    {SD_BUS_ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {SD_BUS_ERROR_AUTH_FAILED, ERROR_ACCESS_DENIED},
    {SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED, ERROR_ACCESS_DENIED},
    {SD_BUS_ERROR_SERVICE_UNKNOWN, ERROR_NOT_SUPPORTED},
    {SD_BUS_ERROR_NAME_HAS_NO_OWNER, ERROR_NOT_SUPPORTED},
    {SD_BUS_ERROR_UNKNOWN_METHOD, ERROR_NOT_SUPPORTED},
    {SD_BUS_ERROR_INVALID_ARGS, ERROR_INVALID_PARAMETER},
    {nullptr, 0},
};

bool FindName(const BUS_ERROR_CODE* lpTable, const char* lpName, DWORD* pdwCode) {
  for (; lpTable != nullptr && lpTable->lpName != nullptr; ++lpTable) {
    if (std::strcmp(lpTable->lpName, lpName) == 0) {
      *pdwCode = lpTable->dwCode;
      return true;
    }
  }
  return false;
}

}  // namespace

CBusConnection::~CBusConnection() {
  if (m_pBus != nullptr) sd_bus_flush_close_unref(m_pBus);
}

DWORD CBusConnection::DoConnect(const char* lpAddress) {
  if (m_bConnected) return ERROR_SUCCESS;
  m_strAddress = lpAddress != nullptr ? lpAddress : "";
  DWORD dwError = Open();
  m_bConnected = dwError == ERROR_SUCCESS;
  return dwError;
}

DWORD CBusConnection::Open() {
  sd_bus* pBus = nullptr;
  int nResult;
  if (m_strAddress.empty()) {
    nResult = sd_bus_open_system(&pBus);
  } else {
    nResult = sd_bus_new(&pBus);
    if (nResult >= 0) nResult = sd_bus_set_address(pBus, m_strAddress.c_str());
    if (nResult >= 0) nResult = sd_bus_set_bus_client(pBus, 1);
    if (nResult >= 0) nResult = sd_bus_start(pBus);
  }
  if (nResult < 0) {
    if (pBus != nullptr) sd_bus_unref(pBus);
    // No bus to talk to is a manager that is not there, not a missing file.
    if (nResult == -ENOENT || nResult == -ECONNREFUSED) return ERROR_NOT_SUPPORTED;
    return ErrnoToWinError(-nResult);
  }
  m_pBus = pBus;
  return ERROR_SUCCESS;
}

sd_bus* CBusConnection::GetBus() {
  if (!m_bConnected) return nullptr;
  if (m_pBus != nullptr && sd_bus_is_open(m_pBus) > 0) return m_pBus;
  if (m_pBus != nullptr) sd_bus_flush_close_unref(m_pBus);
  m_pBus = nullptr;
  Open();
  return m_pBus;
}

CBusMessage::~CBusMessage() {
  if (m_pMessage != nullptr) sd_bus_message_unref(m_pMessage);
}

sd_bus_message** CBusMessage::Receive() {
  if (m_pMessage != nullptr) sd_bus_message_unref(m_pMessage);
  m_pMessage = nullptr;
  return &m_pMessage;
}

DWORD MapBusError(const sd_bus_error* pError, int nResult, const BUS_ERROR_CODE* lpNameTable) {
  DWORD dwCode = ERROR_GEN_FAILURE;
  if (pError != nullptr && sd_bus_error_is_set(pError)) {
    if (FindName(lpNameTable, pError->name, &dwCode) || FindName(kCommonErrors, pError->name, &dwCode)) {
      return dwCode;
    }
  }
  if (nResult < 0) return ErrnoToWinError(-nResult);
  return dwCode;
}

}  // namespace native
}  // namespace kx
