// The terminal side of a pseudo-terminal, as a console would hold it; the code
// under test opens the slave (strSlave). POSIX only.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/support/PtyMaster.h"

struct CTestPty {
  int nMaster = -1;
  std::string strSlave;

  CTestPty() {
    std::string strError;
    nMaster = OpenPtyMaster(&strSlave, &strError);
  }
  ~CTestPty() { CloseMaster(); }
  CTestPty(const CTestPty&) = delete;
  CTestPty& operator=(const CTestPty&) = delete;

  // Closes the terminal end: the slave sees a hang-up.
  void CloseMaster() {
    if (nMaster >= 0) close(nMaster);
    nMaster = -1;
  }
  // Types `bytes` on the terminal.
  void Send(const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(nMaster, bytes.data(), bytes.size()));
  }
  // What the terminal received: up to `nWant` bytes, waiting at most `nMilliseconds`.
  std::string Receive(size_t nWant, int nMilliseconds = 5000) {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
    while (out.size() < nWant && std::chrono::steady_clock::now() < deadline) {
      struct pollfd pfd = {nMaster, POLLIN, 0};
      if (poll(&pfd, 1, 100) <= 0) continue;
      char buffer[4096];
      ssize_t n = read(nMaster, buffer, sizeof(buffer));
      if (n > 0) out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }
};
