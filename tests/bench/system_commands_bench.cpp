// Times show process (without and with the processor-share sample) among 500
// extra sleeping processes, and show service over 300 installed services.
// Usage: system_commands_bench [processes] [services]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "KxAgentPluginManager/Writer.h"
#include "commands/SystemCommands.h"
#include "platform/error_codes.h"
#include "platform/services.h"

namespace {

// Counts lines and bytes; the terminal is not what is measured.
class CCountingWriter final : public CWriter {
 public:
  int WriteChar(char) override { return 1; }
  int WriteLine(const char* lpText) override {
    ++m_nLines;
    while (*lpText++) ++m_nBytes;
    return 1;
  }
  int Write(const char*) override { return 1; }
  long m_nLines = 0;
  long m_nBytes = 0;
};

double Milliseconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

template <typename Body>
void Measure(const char* lpLabel, int nRuns, Body body) {
  double dMin = 1e18, dSum = 0;
  long nLines = 0;
  for (int i = 0; i < nRuns; ++i) {
    CCountingWriter writer;
    auto start = std::chrono::steady_clock::now();
    body(writer);
    double d = Milliseconds(start);
    dMin = d < dMin ? d : dMin;
    dSum += d;
    nLines = writer.m_nLines;
  }
  std::printf("%-44s runs=%d lines=%ld min=%.1f ms mean=%.1f ms\n", lpLabel, nRuns, nLines, dMin,
              dSum / nRuns);
}

}  // namespace

int main(int argc, char** argv) {
  int nProcesses = argc > 1 ? std::atoi(argv[1]) : 500;
  int nServices = argc > 2 ? std::atoi(argv[2]) : 300;

  std::vector<pid_t> children;
  for (int i = 0; i < nProcesses; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sleep", "sleep", "600", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid > 0) children.push_back(pid);
  }
  usleep(500000);
  std::printf("started %zu sleeping children\n", children.size());
  Measure("show process, CPU monitoring off", 10, [](CWriter& w) { ShowProcesses(w, 0, 1000); });
  Measure("show process, CPU monitoring on (1 s sample)", 3, [](CWriter& w) { ShowProcesses(w, 1, 1000); });
  for (pid_t pid : children) kill(pid, SIGKILL);
  for (pid_t pid : children) waitpid(pid, nullptr, 0);

  char szTemplate[] = "/tmp/kxbenchXXXXXX";
  if (mkdtemp(szTemplate) == nullptr) return 1;
  setenv("KX_SYSTEM_ROOT", szTemplate, 1);
  kx::SC_HANDLE hManager = nullptr;
  if (kx::OpenServiceManager(&hManager) != ERROR_SUCCESS) return 1;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < nServices; ++i) {
    kx::SERVICE_CONFIG config;
    config.dwServiceType = KX_SERVICE_COMMAND;
    config.dwStartType = i % 3 == 0 ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
    config.dwErrorControl = SERVICE_ERROR_NORMAL;
    config.strBinaryPathName = "sleep 600";
    config.strDisplayName = "Benchmark service number " + std::to_string(i);
    kx::SC_HANDLE hService = nullptr;
    kx::InstallService(hManager, ("bench" + std::to_string(i)).c_str(), config, &hService);
    kx::CloseServiceHandle(hService);
  }
  std::printf("%-44s %.1f ms\n", "install services", Milliseconds(start));
  kx::CloseServiceHandle(hManager);
  Measure("show service full", 10, [](CWriter& w) { ShowServices(w, "full"); });
  std::system((std::string("rm -rf ") + szTemplate).c_str());
  return 0;
}
