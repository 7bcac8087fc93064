// CDLLPlugin: a DLL plug-in loaded by path and seen by the rest of the system as
// an ordinary plug-in. The agent loads one per configured DLL entry and keeps it
// loaded; the configuration tool loads one to check it and unloads it again.
#pragma once

#include <memory>

#include "KxAgentPluginManager/KxAgentDLLPlugin.h"
#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "platform/dynamic_library.h"

class CDLLPlugin final : public CKxAgentPlugin {
 public:
  // The most commands of one library that are ever used.
  enum { KX_MAX_DLL_COMMANDS = 10 };

  // Nothing loaded, no information record, no commands.
  CDLLPlugin();
  // Frees the information record; does not unload the library (UnloadPluginLibrary does).
  ~CDLLPlugin();
  CDLLPlugin(const CDLLPlugin&) = delete;
  CDLLPlugin& operator=(const CDLLPlugin&) = delete;

  // Loads the library at lpPath and binds its three exports. 1 on success; 0 when it
  // cannot be loaded or lacks an export (it is then released when it has "Release",
  // and freed). A library already held is unloaded first.
  int LoadPluginLibrary(const char* lpPath);
  // Calls the library's "Release" and frees it; nothing when no library is held.
  void UnloadPluginLibrary();
  // 1 (DLL).
  int GetPluginType() override;
  // The record built at load, or null before a successful load.
  CKxAgentPluginInfo* GetPluginVersionInfo() override;
  // The command object's definition when 0 <= nIndex <= 9 and the slot holds an
  // object; null otherwise.
  const char* GetCommandLineDefinition(int nIndex) override;
  // Runs the command object with the argument values by position (argc = the list's
  // count, 10 slots, null past argc); 0 when there is no object for nIndex.
  int Execute(int nIndex, CWriter& writer, CKxAgentCommandArgument& argument) override;
  // Passes the time-out to the command object, when there is one.
  void OnTimeout(int nIndex) override;

  // The number of commands the library reports, cut to 10 (slots past the tenth are
  // never read); 0 before a successful load.
  int GetCommandCount() const;

 protected:
  // The library's exports; null when not found.
  plugin_info* GetPluginInfo();
  CKxAgentDLLPlugin** GetPluginInstance();
  void ReleasePluginInstance();
  // TRUE when 0 <= nIndex <= 9, nIndex is below the command count and the slot holds
  // an object.
  bool IsExistInstance(int nIndex) const;

 private:
  kx::HKXMODULE m_hModule;
  CKxAgentDLLPlugin** m_ppCommands;
  std::unique_ptr<CKxAgentPluginInfo> m_pInfo;
  int m_nCommandCount;
  KxGetPluginInfoFunc m_pfnGetPluginInfo;
  KxGetPluginInstanceFunc m_pfnGetPluginInstance;
  KxReleaseFunc m_pfnRelease;
};

// The reason the calling thread's last failed LoadPluginLibrary gave (the system's
// text, or which part of the interface was missing), for the log; empty after a
// successful load. Kept outside the class so that the class keeps its published layout.
const char* GetDLLPluginLoadError();
