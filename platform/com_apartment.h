// COM for the calling thread: a thread that loads plug-in DLLs or asks the
// shell for names joins a single-threaded apartment for its lifetime.
#pragma once

#include "platform/kx_types.h"

namespace kx {

// Joins the calling thread to a single-threaded apartment on construction and
// leaves it on destruction, on the same thread. Nothing to do where the system
// has no COM. A thread already in an apartment stays in it.
class CComApartment {
 public:
  CComApartment();
  ~CComApartment();
  CComApartment(const CComApartment&) = delete;
  CComApartment& operator=(const CComApartment&) = delete;

  // TRUE when this object initialised COM (and so uninitialises it).
  BOOL IsJoined() const { return m_bJoined; }

 private:
  BOOL m_bJoined;
};

}  // namespace kx
