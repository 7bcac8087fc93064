// CommandPrompt: the command-interpreter pass-through behind "dosprompt". It
// starts the system's command interpreter on a child console, takes the
// terminal's input over from the session, lets the user edit one line at a
// time (with a history of its own) and hands each finished line to the child,
// and copies everything the child writes to the terminal until it ends.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "InputSink.h"
#include "LineEditor.h"
#include "PassThrough.h"

class CConsoleSession;
class CSerialComm;

namespace kx {
class CChildConsole;
}

class CommandPrompt : public InputSink, public CPassThroughControl {
 public:
  static const int kLineMax = 255;

  // A pass-through for the session's terminal that has not started.
  explicit CommandPrompt(CConsoleSession& session);
  // Gives the terminal back when Run has not, and ends a child that still runs.
  ~CommandPrompt() override;
  CommandPrompt(const CommandPrompt&) = delete;
  CommandPrompt& operator=(const CommandPrompt&) = delete;

  // Starts the interpreter and passes the terminal through until it ends, then
  // gives the terminal back. 1 when the child ran, 0 when it could not be
  // started (its error line is on the terminal). Input thread.
  int Run();

  // InputSink: the line editor. Serial reader thread.
  void OnReceive(const char* lpData, int nLength) override;
  void OnReceiveChar(char c) override;

  // Ends the child: the line is emptied, the child asked to end and killed
  // when it has not ended within 5 seconds; Run then gives the terminal back.
  // Harmless before Run started the child and after it ended. Time-out thread.
  void Terminate() override;

 private:
  // Takes the terminal's input over, with what the user typed ahead.
  void TakeInput();
  void RestoreInput();
  // One received byte; the edit lock is held.
  void HandleKey(char c);
  // Writes child output to the terminal; zero bytes do not cut it short.
  void WriteOutput(const char* lpData, size_t nLength);

  CConsoleSession& m_session;
  CSerialComm* m_pSerialComm;
  InputSink* m_pSavedSink;
  bool m_bInputTaken;
  std::unique_ptr<kx::CChildConsole> m_pChild;
  // Guards the line editor's steps and Terminate's first step.
  std::mutex m_editLock;
  CLineEditor m_editor;
  // Lines finished before the child had started, handed over once it has
  // (edit lock).
  std::vector<std::string> m_vecEarlyLines;
  // Guards whether the child has started and whether it is to end; taken
  // inside the edit lock, never around it.
  std::mutex m_stateLock;
  bool m_bStarted;
  bool m_bTerminated;
};
