#include "platform/windows_win.h"

#include <objbase.h>

#include "platform/com_apartment.h"

namespace kx {

// S_FALSE (already initialised the same way) also counts and must be balanced;
// RPC_E_CHANGED_MODE (another apartment kind) must not be.
CComApartment::CComApartment()
    : m_bJoined(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) ? TRUE : FALSE) {}

CComApartment::~CComApartment() {
  if (m_bJoined) ::CoUninitialize();
}

}  // namespace kx
