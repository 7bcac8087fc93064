// CWriter: the output sink every command writes to. The agent's serial channel
// implements it; tests use a recording writer. Plug-in libraries built apart from
// the agent call it through its virtual table, so the three operations below are
// the whole table, in this order, and nothing may be added before or between them.
#pragma once

class CWriter {
 public:
  // Writes one character. 1 when something was queued, 0 when the sink is not running.
  virtual int WriteChar(char c) = 0;
  // Writes the text followed by a line end. 1 when queued, 0 otherwise.
  virtual int WriteLine(const char* text) = 0;
  // Writes the text unchanged. 1 when queued, 0 when not running or the text is empty.
  virtual int Write(const char* text) = 0;

 protected:
  CWriter() {}
  CWriter(const CWriter&) {}
  CWriter& operator=(const CWriter&) { return *this; }
  // Not virtual, so that it takes no slot in the table; protected, so that a
  // writer is never deleted through this interface.
  ~CWriter() {}
};
