// What the command dispatcher needs to know about the agent it serves: who is
// logged on, what that account may run, and whether commands it may not run are
// hidden. The agent object implements it; the engine's tests use an in-memory one.
//
// The agent forwards to its configuration, e.g.
//   bool IsLoggedOn() override { return GetCurrentAccount() != nullptr; }
//   bool IsAllowedCommand(int nID) override {
//     return GetCurrentAccount()->IsAllowedCommand(nID) != FALSE;
//   }
//   bool IsHiddenExecutionImproperCommand() override { return m_bHideImproper; }
// where m_bHideImproper is the configuration manager's setting read at start-up.
//
// Every call comes from the agent's input thread while a line is dispatched, so
// an implementation needs no lock beyond what the logged-on state already has.
#pragma once

class CCommandContext {
 public:
  virtual ~CCommandContext() {}

  // TRUE while an account is logged on at the console. With nobody logged on the
  // dispatcher treats every command as not allowed and never calls IsAllowedCommand.
  virtual bool IsLoggedOn() = 0;
  // TRUE when the logged-on account may run the command with configuration ID nID
  // (plug-in entry ID + command index; its allowed-ID list holds it).
  virtual bool IsAllowedCommand(int nID) = 0;
  // The hidden-execution setting: TRUE makes commands the account may not run
  // invisible (neither found, listed nor completed); FALSE lists and finds them and
  // refuses them with a permission error when typed.
  virtual bool IsHiddenExecutionImproperCommand() = 0;
};
