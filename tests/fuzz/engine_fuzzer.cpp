// libFuzzer harness over the command engine: arbitrary bytes become definitions,
// permission settings and typed lines for parsing, splitting, dispatch, listing
// and completion. Any crash, leak or undefined behaviour is a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "KxAgentPluginManager/BuiltInCommand.h"
#include "engine/CommandDispatcher.h"
#include "engine/CommandLine.h"
#include "KxAgentPluginManager/ScriptCommandRunner.h"

namespace {

class CCountingWriter final : public CWriter {
 public:
  int WriteChar(char) override {
    ++m_nBytes;
    return 1;
  }
  int WriteLine(const char* lpText) override {
    m_nBytes += std::strlen(lpText) + 1;
    return 1;
  }
  int Write(const char* lpText) override {
    m_nBytes += std::strlen(lpText);
    return *lpText != '\0';
  }
  size_t m_nBytes = 0;
};

class CFuzzContext : public CCommandContext {
 public:
  bool IsLoggedOn() override { return m_bLoggedOn; }
  bool IsAllowedCommand(int nID) override {
    return nID >= 0 && ((m_nAllowedMask >> (static_cast<unsigned>(nID) % 32)) & 1u) != 0;
  }
  bool IsHiddenExecutionImproperCommand() override { return m_bHidden; }
  bool m_bLoggedOn = true;
  bool m_bHidden = false;
  uint32_t m_nAllowedMask = 0;
};

// Reads every bound argument by position and by name, as handlers do.
int ReadAllArguments(CWriter& writer, CKxAgentCommandArgument& argument) {
  size_t nTotal = 0;
  for (int i = -1; i <= argument.GetCount(); ++i) {
    const char* lpValue = argument.GetValue(i);
    const char* lpName = argument.GetName(i);
    if (lpValue != nullptr) nTotal += std::strlen(lpValue);
    if (lpName != nullptr && argument.GetValue(lpName) == nullptr) __builtin_trap();
  }
  writer.Write("x");
  return static_cast<int>(nTotal % 7);
}

class CFuzzPlugin final : public CKxAgentPlugin {
 public:
  int GetPluginType() override { return m_nType; }
  CKxAgentPluginInfo* GetPluginVersionInfo() override { return nullptr; }
  const char* GetCommandLineDefinition(int) override { return nullptr; }
  int Execute(int, CWriter& writer, CKxAgentCommandArgument& argument) override {
    return ReadAllArguments(writer, argument);
  }
  void OnTimeout(int) override {}
  int m_nType = 0;
};

class CFuzzRunner : public CScriptCommandRunner {
 public:
  int RunScriptCommand(CKxAgentPlugin* pPlugin, const char*, int nIndex, CWriter& writer,
                       CKxAgentCommandArgument& argument) override {
    return pPlugin->Execute(nIndex, writer, argument);
  }
};

CBuiltInCommand& GetBuiltIn() {
  static CBuiltInCommand* s_pBuiltIn = [] {
    CBuiltInCommand* pBuiltIn = new CBuiltInCommand();
    for (int i = 0; i < pBuiltIn->GetCommandCount(); ++i) pBuiltIn->SetCommandFunc(i, ReadAllArguments);
    return pBuiltIn;
  }();
  return *s_pBuiltIn;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  FuzzedDataProvider provider(pData, nSize);
  CFuzzContext context;
  context.m_bLoggedOn = provider.ConsumeBool();
  context.m_bHidden = provider.ConsumeBool();
  context.m_nAllowedMask = provider.ConsumeIntegral<uint32_t>();

  CCountingWriter writer;
  CFuzzRunner runner;
  CFuzzPlugin plugin;
  plugin.m_nType = provider.ConsumeIntegralInRange<int>(-1, 4);
  CommandDispatcher dispatcher(&context, &writer);
  if (provider.ConsumeBool()) dispatcher.SetScriptCommandRunner(&runner);

  CBuiltInCommand& builtIn = GetBuiltIn();
  if (provider.ConsumeBool()) {
    for (int i = 0; i < builtIn.GetCommandCount(); ++i) {
      dispatcher.Register(i, builtIn.GetCommandLineDefinition(i), &builtIn, i);
    }
  }
  const int nDefinitions = provider.ConsumeIntegralInRange<int>(0, 3);
  for (int i = 0; i < nDefinitions; ++i) {
    std::string strDefinition = provider.ConsumeRandomLengthString(256);
    dispatcher.Register(i, strDefinition.c_str(), &plugin, i);
    const std::string strPrinted = dispatcher.GetEntry(dispatcher.GetEntryCount() - 1)->PrintDefinition();
    // Printing never invents elements: the text is no longer than a blank per
    // element plus the definition's own bytes.
    if (strPrinted.size() > strDefinition.size() + 1) __builtin_trap();
  }

  while (provider.remaining_bytes() > 0) {
    const int nOperation = provider.ConsumeIntegralInRange<int>(0, 4);
    std::string strLine = provider.ConsumeRandomLengthString(512);
    switch (nOperation) {
      case 0:
        dispatcher.Dispatch(strLine);
        break;
      case 1:
        dispatcher.ListCommands(strLine);
        break;
      case 2:
        dispatcher.CompleteLine(strLine);
        break;
      case 3: {
        for (const std::string& strWord : SplitLine(strLine)) {
          if (strWord.empty()) __builtin_trap();
        }
        SplitLine(strLine, strLine.empty() ? ' ' : strLine[0], true);
        IsQuotesBalanced(strLine);
        break;
      }
      case 4: {
        std::vector<DefinitionToken> tokens;
        std::map<int, std::string> names;
        CKxAgentCommandArgument argument;
        ParseDefinition(strLine.c_str(), tokens, names, argument);
        if (argument.GetCount() > CKxAgentCommandArgument::KX_MAX_ARGUMENTS) __builtin_trap();
        PrintDefinition(tokens);
        break;
      }
    }
  }
  return 0;
}
