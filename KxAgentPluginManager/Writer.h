// CWriter: the output sink every command writes to. The agent's serial channel
// implements it; tests use a recording writer.
#pragma once

class CWriter {
 public:
  virtual ~CWriter() {}
  // Writes one character. 1 when something was queued, 0 when the sink is not running.
  virtual int WriteChar(char c) = 0;
  // Writes the text followed by a line end. 1 when queued, 0 otherwise.
  virtual int WriteLine(const char* text) = 0;
  // Writes the text unchanged. 1 when queued, 0 when not running or the text is empty.
  virtual int Write(const char* text) = 0;
};
