// CPassThroughControl: what the session needs of a running command-interpreter
// pass-through, so that its time-out can end it.
#pragma once

class CPassThroughControl {
 public:
  virtual ~CPassThroughControl() {}
  // Ends the pass-through: the child interpreter is stopped and the terminal
  // input goes back to the session. Called from the session time-out thread.
  virtual void Terminate() = 0;
};
