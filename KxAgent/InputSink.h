// InputSink: the receiver of the bytes that arrive from the terminal. The agent
// implements it; the command-interpreter pass-through takes its place while it runs.
#pragma once

class InputSink {
 public:
  // A block of `nLength` received bytes, unconverted. Called on the serial
  // reader thread; the data is valid only during the call.
  virtual void OnReceive(const char* lpData, int nLength) = 0;
  // One byte, as if received from the terminal; any thread.
  virtual void OnReceiveChar(char c) = 0;
  virtual ~InputSink() {}
};
