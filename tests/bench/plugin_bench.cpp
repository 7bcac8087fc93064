// Times one command through the dispatcher, from the typed line to its output:
// a built-in command, a DLL plug-in command and a JScript plug-in command (a fresh
// engine, the script parsed anew, every run). Usage: plugin_bench [runs]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "KxAgentPluginManager/BuiltInCommand.h"
#include "KxAgentPluginManager/DLLPlugin.h"
#include "KxAgentPluginManager/WSHPlugin.h"
#include "engine/CommandDispatcher.h"

namespace {

class CCountingWriter final : public CWriter {
 public:
  int WriteChar(char) override { return 1; }
  int WriteLine(const char*) override { return ++m_nLines, 1; }
  int Write(const char*) override { return 1; }
  long m_nLines = 0;
};

class CAllowAll : public CCommandContext {
 public:
  bool IsLoggedOn() override { return true; }
  bool IsAllowedCommand(int) override { return true; }
  bool IsHiddenExecutionImproperCommand() override { return true; }
};

// The built-in command measured: as light as a handler gets, so that the figure is
// the dispatcher's own cost.
int WriteVersionLine(CWriter& writer, CKxAgentCommandArgument&) {
  return writer.WriteLine("Kestrix Agent for Windows Version 1.1.0");
}

void Measure(CommandDispatcher& dispatcher, CCountingWriter& writer, const char* lpLine, int nRuns) {
  long nBefore = writer.m_nLines;
  dispatcher.Dispatch(lpLine);  // warm-up
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < nRuns; ++i) dispatcher.Dispatch(lpLine);
  double dMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%-28s %8.1f us per command (%d runs, %ld lines)\n", lpLine, dMs * 1000.0 / nRuns, nRuns,
              writer.m_nLines - nBefore);
}

}  // namespace

int main(int argc, char** argv) {
  int nRuns = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (nRuns <= 0) nRuns = 2000;
  CAllowAll context;
  CCountingWriter writer;
  CommandDispatcher dispatcher(&context, &writer);
  CWSHCommandRunner runner;
  dispatcher.SetScriptCommandRunner(&runner);

  CBuiltInCommand builtIn;
  builtIn.SetCommandFunc(0, WriteVersionLine);
  dispatcher.Register(0, builtIn.GetCommandLineDefinition(0), &builtIn, 0);

  CDLLPlugin dll;
  if (!dll.LoadPluginLibrary(KX_EXAMPLE_PLUGIN_DIR "/kxsysinfo.so")) {
    std::fprintf(stderr, "cannot load the DLL sample: %s\n", GetDLLPluginLoadError());
    return 1;
  }
  for (int i = 0; i < dll.GetCommandCount(); ++i) {
    dispatcher.Register(10000 + i, dll.GetCommandLineDefinition(i), &dll, i);
  }

  CWSHManager host("JScript");
  CJSPlugin script(&host);
  if (!script.LoadPluginScript(KX_EXAMPLE_PLUGIN_DIR "/echo.js")) {
    std::fprintf(stderr, "cannot load the JScript sample\n");
    return 1;
  }
  dispatcher.Register(20000, script.GetCommandLineDefinition(0), &script, 0);

  Measure(dispatcher, writer, "show version", nRuns);
  Measure(dispatcher, writer, "show loadavg 1", nRuns);
  Measure(dispatcher, writer, "show uptime", nRuns);
  Measure(dispatcher, writer, "echo hi", nRuns);
  dll.UnloadPluginLibrary();
  return 0;
}
