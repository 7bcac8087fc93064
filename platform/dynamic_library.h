// Dynamic libraries: load a shared library by path, find a function in it by
// name, free it. On Windows a DLL (LoadLibrary); here a shared object loaded with
// every symbol bound at once and kept to itself (RTLD_NOW | RTLD_LOCAL), so that
// an unresolved symbol fails the load rather than a later call.
#pragma once

#include <string>

#include "platform/kx_types.h"

namespace kx {

// A loaded library; null stands for none.
typedef struct KxLibraryModule* HKXMODULE;

// The check every load makes first: TRUE when lpPath names something, with
// *pstrError (when given) cleared; FALSE with the reason there otherwise.
BOOL IsLibraryPathGiven(const char* lpPath, std::string* pstrError);
// Loads the library at lpPath (code page 932). The handle, or null with the
// system's reason in *pstrError (when given) for the log. Any thread.
HKXMODULE LoadDynamicLibrary(const char* lpPath, std::string* pstrError);
// The address of the exported function lpName, or null when the library has no
// such export (or hModule is null).
void* FindLibraryFunction(HKXMODULE hModule, const char* lpName);
// Frees the library; its functions and data must not be used afterwards. A null
// handle is ignored.
void FreeDynamicLibrary(HKXMODULE hModule);

}  // namespace kx
