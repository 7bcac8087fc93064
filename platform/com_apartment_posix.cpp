#include "platform/com_apartment.h"

namespace kx {

CComApartment::CComApartment() : m_bJoined(FALSE) {}

CComApartment::~CComApartment() {}

}  // namespace kx
