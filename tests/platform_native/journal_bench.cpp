// Benchmark: how long the journal backend takes to open (one walk over the
// boot's entries), to read records by number, and to look for new entries.
// Usage: journal_bench [entries, default 100000]
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "platform/error_codes.h"
#include "platform/native/journal_event_logs.h"

namespace {

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  long lEntries = argc > 1 ? std::atol(argv[1]) : 100000;
  char szDir[] = "/tmp/kx-journal-bench-XXXXXX";
  if (mkdtemp(szDir) == nullptr) return 1;
  std::string strDir = szDir;
  {
    std::ofstream output(strDir + "/bench.export");
    const char* const kKinds[] = {
        "_TRANSPORT=kernel\nPRIORITY=6\nSYSLOG_IDENTIFIER=kernel\n",
        "_TRANSPORT=syslog\nSYSLOG_FACILITY=10\nPRIORITY=5\nSYSLOG_IDENTIFIER=sshd\n",
        "_TRANSPORT=stdout\nPRIORITY=4\n_SYSTEMD_UNIT=nginx.service\n_COMM=nginx\n",
        "_TRANSPORT=journal\n_PID=1\nPRIORITY=6\nSYSLOG_IDENTIFIER=systemd\n",
    };
    for (long i = 0; i < lEntries; ++i) {
      output << "__REALTIME_TIMESTAMP=" << 1700000000000000LL + i * 1000LL << "\n__MONOTONIC_TIMESTAMP="
             << 1000000LL + i * 1000LL << "\n_BOOT_ID=bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb\n_HOSTNAME=web01\n"
             << kKinds[i % 4] << "MESSAGE=entry number " << i << " of the benchmark journal\n\n";
    }
  }
  std::string strCommand = "/lib/systemd/systemd-journal-remote --output=" + strDir + "/bench.journal " + strDir +
                           "/bench.export >/dev/null 2>&1";
  if (std::system(strCommand.c_str()) != 0) return 1;

  auto start = std::chrono::steady_clock::now();
  kx::native::CJournalEventLogs logs;
  if (logs.DoOpenDirectory(strDir.c_str()) != ERROR_SUCCESS) return 1;
  std::printf("open and walk %ld entries: %.1f ms\n", lEntries, MsSince(start));

  DWORD dwCount = 0;
  logs.GetNumberOfRecords(kx::native::CJournalEventLogs::kApplication, &dwCount);
  const int kReads = 2000;
  std::mt19937 random(1);
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < kReads && dwCount > 0; ++i) {
    std::string strRecord;
    logs.ReadRecord(kx::native::CJournalEventLogs::kApplication, 1 + random() % dwCount, &strRecord);
  }
  std::printf("read a record at random (of %lu): %.3f ms each\n", static_cast<unsigned long>(dwCount),
              MsSince(start) / kReads);

  start = std::chrono::steady_clock::now();
  for (int i = 0; i < kReads; ++i) logs.DoRefresh();
  std::printf("look for new entries, none there: %.3f ms each\n", MsSince(start) / kReads);

  strCommand = "rm -rf " + strDir;
  return std::system(strCommand.c_str()) == 0 ? 0 : 1;
}
