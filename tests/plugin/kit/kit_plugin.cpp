// A plug-in built out of tree against the installed kit, as an author would.
#include <KxAgentPluginManager/KxAgentDLLPlugin.h>

namespace {

class CHello final : public CKxAgentDLLPlugin {
 public:
  const char* GetCommandLineDefinition() override { return "hello {NAME}"; }
  int Execute(CWriter& writer, int argc, const char** argv) override {
    writer.Write("hello, ");
    writer.WriteLine(argc > 0 ? argv[0] : "nobody");
    return 1;
  }
  void OnTimeout() override {}
};

CHello g_hello;
CKxAgentDLLPlugin* g_commands[] = {&g_hello};
plugin_info g_info = {"kit", "built against the installed kit", "(c) kit", 1, 2, 1};

}  // namespace

extern "C" plugin_info* GetPluginInfo() { return &g_info; }
extern "C" CKxAgentDLLPlugin** GetPluginInstance() { return g_commands; }
extern "C" void Release() {}
