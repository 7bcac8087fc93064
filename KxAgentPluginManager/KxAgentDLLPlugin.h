// The header a DLL plug-in includes. A plug-in is a shared library (a DLL on
// Windows, a .so here) that exports three functions with C linkage:
//
//   extern "C" plugin_info* GetPluginInfo();            // its information record
//   extern "C" CKxAgentDLLPlugin** GetPluginInstance(); // its command objects, from 0
//   extern "C" void Release();                          // destroy them; called once,
//                                                       // before the library is freed
//
// Everything here is laid out exactly as the agent reads it: the fields of
// plugin_info in this order, and the virtual operations of CKxAgentDLLPlugin and
// CWriter in this order, with nothing before or between them.
#pragma once

#include "KxAgentPluginManager/Writer.h"

// The record "GetPluginInfo" returns; owned by the library, valid while it is loaded.
struct plugin_info {
  const char* name;         // plug-in name (code page 932)
  const char* description;  // one-paragraph description
  const char* copyright;    // copyright line
  int major;                // version, major part
  int minor;                // version, minor part
  int count;                // number of commands in the array of "GetPluginInstance"; 10 at most
};

// One command of a DLL plug-in. The library derives a class per command and keeps
// the objects until "Release".
class CKxAgentDLLPlugin {
 public:
  // The command's definition text (command-line grammar), valid while the library
  // is loaded.
  virtual const char* GetCommandLineDefinition() = 0;
  // Runs the command, writing all output to writer. argv holds the values of the
  // command's parameters in definition order, argc of them; the array always has
  // 10 slots and those past argc are null. The result is passed back unchanged.
  virtual int Execute(CWriter& writer, int argc, const char** argv) = 0;
  // The user's session has timed out.
  virtual void OnTimeout() = 0;

 protected:
  CKxAgentDLLPlugin() {}
  CKxAgentDLLPlugin(const CKxAgentDLLPlugin&) {}
  CKxAgentDLLPlugin& operator=(const CKxAgentDLLPlugin&) { return *this; }
  // Not virtual, so that it takes no slot: destroy a command through its own class.
  ~CKxAgentDLLPlugin() {}
};

// The three exports, as the agent calls them.
typedef plugin_info* (*KxGetPluginInfoFunc)();
typedef CKxAgentDLLPlugin** (*KxGetPluginInstanceFunc)();
typedef void (*KxReleaseFunc)();

#define KX_PLUGIN_EXPORT_GET_INFO "GetPluginInfo"
#define KX_PLUGIN_EXPORT_GET_INSTANCE "GetPluginInstance"
#define KX_PLUGIN_EXPORT_RELEASE "Release"
