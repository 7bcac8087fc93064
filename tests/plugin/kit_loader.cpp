// Loads the plug-in given on the command line, runs "hello world" through it and
// checks what it wrote. Exit status 0 when everything matches.
#include <cstdio>
#include <cstring>

#include "KxAgentPluginManager/DLLPlugin.h"
#include "tests/support/RecordingWriter.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kit_loader <plug-in>\n");
    return 2;
  }
  CDLLPlugin plugin;
  if (!plugin.LoadPluginLibrary(argv[1])) {
    std::fprintf(stderr, "not loaded: %s\n", GetDLLPluginLoadError());
    return 1;
  }
  CKxAgentCommandArgument argument;
  argument.Add("NAME", "world");
  CRecordingWriter writer;
  int nResult = plugin.Execute(0, writer, argument);
  bool bOk = plugin.GetCommandCount() == 1 &&
             std::strcmp(plugin.GetCommandLineDefinition(0), "hello {NAME}") == 0 &&
             std::strcmp(plugin.GetPluginVersionInfo()->GetName(), "kit") == 0 && nResult == 1 &&
             writer.m_strBytes == "hello, world\n";
  plugin.UnloadPluginLibrary();
  std::printf("%s: wrote \"%s\"\n", bOk ? "ok" : "FAILED", writer.m_strBytes.c_str());
  return bOk ? 0 : 1;
}
