// Script plug-ins: a JScript or VBScript file that adds one command. CWSHManager
// hosts one script engine; CWSHPlugin holds one script's text and definition and
// calls the script's functions through whichever host it is given.
//
// The script defines GetCommandLineDef, GetPluginName, GetPluginDescription,
// GetPluginCopyright, GetPluginMajorVersion, GetPluginMinorVersion and Run. Run
// gets, for VBScript, an array of the parameter values and their count (Empty and
// 0 without parameters); for JScript, the first value and the number 1 (nothing
// without parameters). Its result is written as one line.
#pragma once

#include <memory>
#include <string>

#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/ScriptCommandRunner.h"
#include "platform/script_engine.h"

// A host for one script engine. Every operation runs on the thread that made it.
class CWSHManager {
 public:
  // Creates the engine of lpLanguage ("JScript" or "VBScript"). When the engine
  // cannot be made, every later call fails.
  explicit CWSHManager(const char* lpLanguage);
  // Closes the engine.
  ~CWSHManager();
  CWSHManager(const CWSHManager&) = delete;
  CWSHManager& operator=(const CWSHManager&) = delete;

  // Adds the script text (code page 932) to the engine and runs its top-level code.
  // 1, or 0 on a syntax or script error.
  int ParseScript(const char* lpText);
  // Calls the global function lpName with the nCount values of pArguments (first
  // argument first) and stores its return value in *pResult. 1 when the function
  // exists and returned normally, else 0.
  int InvokeFunction(const char* lpName, const kx::CScriptValue* pArguments, unsigned nCount,
                     kx::CScriptValue* pResult);
  // Scripts get no object of the host's: does nothing.
  void AddNamedItem(const char* lpName, void* pObject);

 private:
  std::unique_ptr<kx::CScriptEngine> m_pEngine;
};

// A script plug-in. It never owns a host.
class CWSHPlugin : public CKxAgentPlugin {
 public:
  // Empty script, no definition, no information record; pHost not owned (may be null).
  explicit CWSHPlugin(CWSHManager* pHost);
  CWSHPlugin(const CWSHPlugin&) = delete;
  CWSHPlugin& operator=(const CWSHPlugin&) = delete;

  // Replaces the host the script runs in; returns the previous one.
  CWSHManager* SetWSHManager(CWSHManager* pHost);
  // Stores lpText as the script (null keeps the stored one), parses it into the
  // current host and keeps the text GetCommandLineDef returns. 1, or 0 when there is
  // no host, the script does not parse or GetCommandLineDef fails.
  int SetScriptText(const char* lpText);
  // 1: a script plug-in has one command.
  int GetCommandCount() const;

  int GetPluginType() override = 0;
  // The record, built from the script's information functions on the first call.
  CKxAgentPluginInfo* GetPluginVersionInfo() override;
  // The definition for index 0; null for any other index or before a load.
  const char* GetCommandLineDefinition(int nIndex) override;
  // Parses the script afresh into the current host and calls Run; writes Run's
  // result as a line and returns 1, or writes "[Error] Script Error!!" and returns 0.
  int Execute(int nIndex, CWriter& writer, CKxAgentCommandArgument& argument) override;
  // Does nothing.
  void OnTimeout(int nIndex) override;
  // Reads the whole file at lpPath (code page 932 path) and calls SetScriptText with
  // it. 0 when the file cannot be read or SetScriptText fails.
  virtual int LoadPluginScript(const char* lpPath);

 protected:
  // Destroyed through CJSPlugin or CVBSPlugin only: the destructor takes no slot.
  ~CWSHPlugin();

 private:
  // Run's two arguments for this plug-in's language.
  void BuildRunArguments(const CKxAgentCommandArgument& argument, kx::CScriptValue* pArguments);
  // The text result of a function without arguments; empty when the call fails.
  std::string CallForText(const char* lpName);

  CWSHManager* m_pHost;
  std::unique_ptr<CKxAgentPluginInfo> m_pInfo;
  std::string m_strScript;
  std::unique_ptr<char[]> m_pDefinition;
};

// A JScript file.
class CJSPlugin final : public CWSHPlugin {
 public:
  explicit CJSPlugin(CWSHManager* pHost) : CWSHPlugin(pHost) {}
  // 2 (JScript).
  int GetPluginType() override;
};

// A VBScript file.
class CVBSPlugin final : public CWSHPlugin {
 public:
  explicit CVBSPlugin(CWSHManager* pHost) : CWSHPlugin(pHost) {}
  // 3 (VBScript).
  int GetPluginType() override;
};

// Runs each script command in a host of its own: a fresh engine for the run,
// swapped into the plug-in and destroyed afterwards, so nothing a run leaves in the
// engine reaches the next one.
class CWSHCommandRunner : public CScriptCommandRunner {
 public:
  int RunScriptCommand(CKxAgentPlugin* pPlugin, const char* lpLanguage, int nIndex,
                       CWriter& writer, CKxAgentCommandArgument& argument) override;
};
