#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <mutex>

#include "platform/native_path.h"
#include "platform/text_encoding.h"

namespace kx {

namespace {

// dlerror() keeps one message per thread and clears it on reading; the lock keeps
// another thread's load from replacing the message between the failure and the read.
std::mutex g_dlMutex;

}  // namespace

HKXMODULE LoadDynamicLibrary(const char* lpPath, std::string* pstrError) {
  if (!IsLibraryPathGiven(lpPath, pstrError)) return nullptr;
  std::string strPath = ToNativePath(lpPath);
  std::lock_guard<std::mutex> lock(g_dlMutex);
  void* pHandle = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (pHandle == nullptr && pstrError != nullptr) {
    const char* lpError = dlerror();
    *pstrError = Utf8ToCp932(lpError != nullptr ? lpError : "unknown error");
  }
  return static_cast<HKXMODULE>(pHandle);
}

void* FindLibraryFunction(HKXMODULE hModule, const char* lpName) {
  if (hModule == nullptr || lpName == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(g_dlMutex);
  void* pSymbol = dlsym(static_cast<void*>(hModule), lpName);
  dlerror();
  return pSymbol;
}

void FreeDynamicLibrary(HKXMODULE hModule) {
  if (hModule == nullptr) return;
  std::lock_guard<std::mutex> lock(g_dlMutex);
  dlclose(static_cast<void*>(hModule));
}

}  // namespace kx
