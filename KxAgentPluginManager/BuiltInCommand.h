// The plug-in that carries the agent's own seventeen commands. This library
// owns the definition table; the agent attaches the handlers.
#pragma once

#include <memory>

#include "KxAgentPluginManager/KxAgentPlugin.h"

// The built-in commands by name. The value is the command's index in the set
// and so the command ID that account permissions grant: never renumber, only append.
enum KxBuiltInCommandId {
  KX_BUILTIN_SHOW_VERSION = 0,
  KX_BUILTIN_SHOW_DATE = 1,
  KX_BUILTIN_SET_ENCODING = 2,
  KX_BUILTIN_SET_TIMEOUT = 3,
  KX_BUILTIN_DOSPROMPT = 4,
  KX_BUILTIN_LOGOFF = 5,
  KX_BUILTIN_SHUTDOWN = 6,
  KX_BUILTIN_REBOOT = 7,
  KX_BUILTIN_ABORT = 8,
  KX_BUILTIN_SHOW_DISKINFO = 9,
  KX_BUILTIN_SHOW_EVENTLOG = 10,
  KX_BUILTIN_SET_EVENTLOG_NOTIFICATION = 11,
  KX_BUILTIN_SHOW_PROCESS = 12,
  KX_BUILTIN_KILL = 13,
  KX_BUILTIN_SHOW_SERVICE = 14,
  KX_BUILTIN_START_SERVICE = 15,
  KX_BUILTIN_STOP_SERVICE = 16,
};

// A built-in command handler: writes its output to writer, reads its parameters
// by name from argument and returns its own result.
typedef int (*KxCommandFunc)(CWriter& writer, CKxAgentCommandArgument& argument);

class CBuiltInCommand final : public CKxAgentPlugin {
 public:
  enum { KX_BUILTIN_COMMAND_COUNT = 17 };

  // Builds the table (no handlers attached) and the information record.
  CBuiltInCommand();
  ~CBuiltInCommand();
  CBuiltInCommand(const CBuiltInCommand&) = delete;
  CBuiltInCommand& operator=(const CBuiltInCommand&) = delete;

  // Always CKxAgentPlugin::TYPE_BUILTIN (0).
  int GetPluginType() override;
  // The set's information record; never null.
  CKxAgentPluginInfo* GetPluginVersionInfo() override;
  // Definition of entry nIndex (static text), or null unless 0 <= nIndex <= 16.
  const char* GetCommandLineDefinition(int nIndex) override;
  // The handler's result; 0 when nIndex is out of range or no handler is attached
  // (nothing is written then).
  int Execute(int nIndex, CWriter& writer, CKxAgentCommandArgument& argument) override;
  // Built-in commands keep no per-session state: does nothing.
  void OnTimeout(int nIndex) override;

  // Attaches or replaces the handler of entry nIndex (null detaches it).
  // Returns 1, or 0 when nIndex is outside 0 to 16 (nothing changes).
  int SetCommandFunc(int nIndex, KxCommandFunc pFunc);
  // 17, whether or not handlers are attached.
  int GetCommandCount() const;

 protected:
  // TRUE when 0 <= nIndex <= 16 and a handler is attached.
  bool IsExistInstance(int nIndex) const;

 private:
  struct CommandSlot {
    int nIndex;
    const char* lpDefinition;
    KxCommandFunc pFunc;
  };
  CommandSlot m_table[KX_BUILTIN_COMMAND_COUNT];
  std::unique_ptr<CKxAgentPluginInfo> m_pInfo;
};
