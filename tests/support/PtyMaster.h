// Opening a pseudo-terminal for a test: the terminal end, which the test holds
// as a console would, and the path of the slave, which the code under test
// opens. POSIX only.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>

// The terminal end, non-blocking and closed on exec, with the slave's path in
// *pstrSlave; -1 with the failing call and its reason in *pstrError.
inline int OpenPtyMaster(std::string* pstrSlave, std::string* pstrError) {
  const char* lpCall = "posix_openpt";
  int nMaster = posix_openpt(O_RDWR | O_NOCTTY);
  if (nMaster >= 0) {
    char szSlave[128] = {};
    fcntl(nMaster, F_SETFD, FD_CLOEXEC);
    fcntl(nMaster, F_SETFL, fcntl(nMaster, F_GETFL) | O_NONBLOCK);
    if (grantpt(nMaster) != 0 || unlockpt(nMaster) != 0) {
      lpCall = "grantpt/unlockpt";
    } else if (ptsname_r(nMaster, szSlave, sizeof(szSlave)) != 0) {
      lpCall = "ptsname_r";
    } else {
      *pstrSlave = szSlave;
      return nMaster;
    }
    int nError = errno;
    close(nMaster);
    errno = nError;
  }
  *pstrError = std::string(lpCall) + ": " + std::strerror(errno);
  return -1;
}
