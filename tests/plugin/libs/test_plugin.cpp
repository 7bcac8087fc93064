// A DLL plug-in shaped by compile definitions, one library per shape:
//   KX_TEST_COUNT       the command count it reports (default 3)
//   KX_TEST_OBJECTS     how many command objects its array really holds (default COUNT)
//   KX_TEST_NULL_SLOT   the index of a slot left null (default none)
//   KX_TEST_NO_RELEASE  leaves out the "Release" export
// Command i has the definition "probe<i> [A:a] [B:b] [C:c]" and writes what it received.
#include <cstdio>
#include <string>

#include "KxAgentPluginManager/KxAgentDLLPlugin.h"

#ifndef KX_TEST_COUNT
#define KX_TEST_COUNT 3
#endif
#ifndef KX_TEST_OBJECTS
#define KX_TEST_OBJECTS KX_TEST_COUNT
#endif
#ifndef KX_TEST_NULL_SLOT
#define KX_TEST_NULL_SLOT -1
#endif

namespace {

class CProbeCommand final : public CKxAgentDLLPlugin {
 public:
  explicit CProbeCommand(int nIndex) : m_nIndex(nIndex) {
    std::snprintf(m_szDefinition, sizeof(m_szDefinition), "probe%d [A:a] [B:b] [C:c]", nIndex);
  }
  const char* GetCommandLineDefinition() override { return m_szDefinition; }
  // Writes "argc=<n>" and one word per slot: the value, or "-" for a null slot.
  int Execute(CWriter& writer, int argc, const char** argv) override {
    // (snprintf rather than std::to_string, whose shared tables would pin the
    // library in memory after it is freed.)
    char szCount[16];
    std::snprintf(szCount, sizeof(szCount), "argc=%d", argc);
    std::string strLine = szCount;
    for (int i = 0; i < 10; ++i) {
      strLine += ' ';
      strLine += argv[i] != nullptr ? argv[i] : "-";
    }
    writer.WriteLine(strLine.c_str());
    return 100 + m_nIndex;
  }
  void OnTimeout() override {}

 private:
  char m_szDefinition[32];
  int m_nIndex;
};

CProbeCommand* g_pCommands[KX_TEST_OBJECTS] = {};
CKxAgentDLLPlugin* g_pSlots[KX_TEST_OBJECTS] = {};
plugin_info g_info = {"probe", "a test plug-in", "(c) test", 2, 5, KX_TEST_COUNT};

}  // namespace

extern "C" plugin_info* GetPluginInfo() { return &g_info; }

extern "C" CKxAgentDLLPlugin** GetPluginInstance() {
  for (int i = 0; i < KX_TEST_OBJECTS; ++i) {
    if (g_pCommands[i] == nullptr && i != KX_TEST_NULL_SLOT) g_pCommands[i] = new CProbeCommand(i);
    g_pSlots[i] = g_pCommands[i];
  }
  return g_pSlots;
}

#ifndef KX_TEST_NO_RELEASE
extern "C" void Release() {
  for (int i = 0; i < KX_TEST_OBJECTS; ++i) {
    delete g_pCommands[i];
    g_pCommands[i] = nullptr;
    g_pSlots[i] = nullptr;
  }
}
#endif
