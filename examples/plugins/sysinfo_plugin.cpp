// Sample DLL plug-in: two commands an administrator of a Linux host wants at the
// console, read from /proc.
//   show uptime                 how long the system has been running
//   show loadavg [MINUTES:all]  the load average over 1, 5 or 15 minutes, or all three
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "KxAgentPluginManager/KxAgentDLLPlugin.h"

namespace {

// The first line of a /proc file, or an empty text when it cannot be read.
std::string ReadFirstLine(const char* lpPath) {
  std::ifstream in(lpPath);
  std::string strLine;
  std::getline(in, strLine);
  return strLine;
}

class CShowUptime final : public CKxAgentDLLPlugin {
 public:
  const char* GetCommandLineDefinition() override { return "show uptime"; }
  int Execute(CWriter& writer, int, const char**) override {
    double dSeconds = 0;
    if (std::sscanf(ReadFirstLine("/proc/uptime").c_str(), "%lf", &dSeconds) != 1) {
      writer.WriteLine("[Error] The uptime is not available.");
      return 0;
    }
    unsigned long ulTotal = static_cast<unsigned long>(dSeconds);
    char szLine[128];
    std::snprintf(szLine, sizeof(szLine), "Up %lu day(s), %02lu:%02lu:%02lu", ulTotal / 86400,
                  ulTotal / 3600 % 24, ulTotal / 60 % 60, ulTotal % 60);
    writer.WriteLine(szLine);
    return 1;
  }
  void OnTimeout() override {}
};

class CShowLoadAverage final : public CKxAgentDLLPlugin {
 public:
  const char* GetCommandLineDefinition() override { return "show loadavg [MINUTES:all]"; }
  int Execute(CWriter& writer, int argc, const char** argv) override {
    const char* lpMinutes = argc > 0 && argv[0] != nullptr ? argv[0] : "all";
    double dLoad[3] = {0, 0, 0};
    if (std::sscanf(ReadFirstLine("/proc/loadavg").c_str(), "%lf %lf %lf", &dLoad[0], &dLoad[1],
                    &dLoad[2]) != 3) {
      writer.WriteLine("[Error] The load average is not available.");
      return 0;
    }
    static const char* const kPeriods[3] = {"1", "5", "15"};
    char szLine[128];
    if (std::strcmp(lpMinutes, "all") == 0) {
      std::snprintf(szLine, sizeof(szLine), "Load average: %.2f (1 min), %.2f (5 min), %.2f (15 min)",
                    dLoad[0], dLoad[1], dLoad[2]);
      writer.WriteLine(szLine);
      return 1;
    }
    for (int i = 0; i < 3; ++i) {
      if (std::strcmp(lpMinutes, kPeriods[i]) == 0) {
        std::snprintf(szLine, sizeof(szLine), "Load average (%s min): %.2f", kPeriods[i], dLoad[i]);
        writer.WriteLine(szLine);
        return 1;
      }
    }
    writer.WriteLine("[Error] MINUTES is 1, 5, 15 or all.");
    return 0;
  }
  void OnTimeout() override {}
};

CShowUptime* g_pUptime = nullptr;
CShowLoadAverage* g_pLoadAverage = nullptr;
CKxAgentDLLPlugin* g_pCommands[2] = {nullptr, nullptr};

plugin_info g_info = {
    "System information",
    "Shows how long the system has been up and its load average.",
    "Copyright (C) Kestrix sample plug-ins",
    1,
    0,
    2,
};

}  // namespace

extern "C" plugin_info* GetPluginInfo() { return &g_info; }

// The commands are made on the first request and live until Release.
extern "C" CKxAgentDLLPlugin** GetPluginInstance() {
  if (g_pUptime == nullptr) g_pUptime = new CShowUptime;
  if (g_pLoadAverage == nullptr) g_pLoadAverage = new CShowLoadAverage;
  g_pCommands[0] = g_pUptime;
  g_pCommands[1] = g_pLoadAverage;
  return g_pCommands;
}

extern "C" void Release() {
  delete g_pUptime;
  delete g_pLoadAverage;
  g_pUptime = nullptr;
  g_pLoadAverage = nullptr;
  g_pCommands[0] = g_pCommands[1] = nullptr;
}
