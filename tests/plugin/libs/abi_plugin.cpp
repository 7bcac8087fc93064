// A DLL plug-in written from the published declarations alone, without the
// agent's headers, as an author on another tool chain would: if the agent's
// classes ever gain a slot or a field, this library calls the wrong function.
#include <cstddef>

class CWriter {
 public:
  virtual int WriteChar(char c) = 0;
  virtual int WriteLine(const char* text) = 0;
  virtual int Write(const char* text) = 0;

 protected:
  ~CWriter() {}
};

struct plugin_info {
  const char* name;
  const char* description;
  const char* copyright;
  int major;
  int minor;
  int count;
};

class CKxAgentDLLPlugin {
 public:
  virtual const char* GetCommandLineDefinition() = 0;
  virtual int Execute(CWriter& writer, int argc, const char** argv) = 0;
  virtual void OnTimeout() = 0;

 protected:
  ~CKxAgentDLLPlugin() {}
};

namespace {

// "greet {NAME}" writes "<", "hello " + NAME, ">" and a line end through the three
// writer operations; returns the number of arguments.
class CGreet final : public CKxAgentDLLPlugin {
 public:
  const char* GetCommandLineDefinition() { return "greet {NAME}"; }
  int Execute(CWriter& writer, int argc, const char** argv) {
    writer.WriteChar('<');
    writer.Write("hello ");
    writer.Write(argc > 0 && argv[0] != NULL ? argv[0] : "?");
    writer.WriteLine(">");
    return argc;
  }
  void OnTimeout() {}
};

CGreet g_greet;
CKxAgentDLLPlugin* g_commands[1] = {&g_greet};
plugin_info g_info = {"abi", "declared from the interface alone", "(c) abi", 1, 0, 1};

}  // namespace

extern "C" plugin_info* GetPluginInfo() { return &g_info; }
extern "C" CKxAgentDLLPlugin** GetPluginInstance() { return g_commands; }
extern "C" void Release() {}
