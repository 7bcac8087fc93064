#include "platform/windows_win.h"

#include "platform/error_codes.h"
#include "platform/single_instance.h"

namespace kx {
namespace {

const char kMutexName[] = "KxAgentCtrlMutex";

HANDLE HandleOf(std::intptr_t hLock) { return reinterpret_cast<HANDLE>(hLock); }

}  // namespace

CSingleInstance::CSingleInstance() : m_hLock(0) {}

CSingleInstance::~CSingleInstance() { Release(); }

std::string CSingleInstance::GetLockName(const char*) { return kMutexName; }

DWORD CSingleInstance::Acquire(const char*) {
  Release();
  HANDLE hMutex = ::CreateMutexA(nullptr, TRUE, kMutexName);
  if (hMutex == nullptr) return ::GetLastError();
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(hMutex);
    return ERROR_ALREADY_EXISTS;
  }
  m_hLock = reinterpret_cast<std::intptr_t>(hMutex);
  return ERROR_SUCCESS;
}

BOOL CSingleInstance::IsHeld() const { return m_hLock != 0 ? TRUE : FALSE; }

void CSingleInstance::Release() {
  if (m_hLock == 0) return;
  ::ReleaseMutex(HandleOf(m_hLock));
  ::CloseHandle(HandleOf(m_hLock));
  m_hLock = 0;
}

}  // namespace kx
