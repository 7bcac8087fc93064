// Internal to the POSIX implementations: errno values mapped onto the Windows
// error codes the product's interfaces report.
#pragma once

#include "platform/kx_types.h"

namespace kx {

// The Windows code closest to `nErrno` in meaning; ERROR_GEN_FAILURE when none is closer.
DWORD ErrnoToWinError(int nErrno);

}  // namespace kx
