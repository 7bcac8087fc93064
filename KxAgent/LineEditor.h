// CLineEditor: one line typed at the terminal, edited in place. It decodes the
// terminal's escape sequences, inserts and erases characters, moves the cursor
// and walks its own history, and echoes every change through a CWriter. The
// console session and the command-interpreter pass-through each own one.
#pragma once

#include <string>

#include "CommandHistory.h"

class CWriter;

// Line-editing key codes: what the escape sequences and control bytes stand for.
enum {
  KEY_CURSOR_LEFT = 0x02,
  KEY_INTERRUPT = 0x03,
  KEY_CURSOR_RIGHT = 0x06,
  KEY_BACKSPACE = 0x08,
  KEY_TAB = 0x09,
  KEY_LF = 0x0A,
  KEY_CR = 0x0D,
  KEY_HISTORY_NEXT = 0x0E,
  KEY_HISTORY_PREVIOUS = 0x10,
  KEY_ESCAPE = 0x1B,
  KEY_DELETE = 0x7F,
};

// The echo of one edited key: cursor left ESC [ D, cursor right ESC [ C, erase
// left BS SP BS, LF and CR a line end ('\n', which the serial channel sends as
// CR LF), any other key itself. Every byte goes through WriteChar. 1 when all
// were written.
int EchoKey(CWriter& writer, int nKey);

class CLineEditor {
 public:
  enum EMode {
    MODE_EDIT,      // cursor keys and history work; everything is echoed
    MODE_PLAIN,     // typing and erasing only; cursor and history keys are ignored
    MODE_ECHO_OFF,  // as MODE_PLAIN, but typed characters are not echoed (erasing is)
  };

  // An empty line of at most `nLineMax` characters that echoes to `writer`.
  // Not thread-safe: the owner serialises the calls.
  CLineEditor(CWriter& writer, int nLineMax);

  // Feeds one received byte through the escape-sequence decoder. true when
  // `c` (now the key code of a completed sequence, or the byte itself) is a
  // key to act on; false while a sequence is incomplete or was dropped.
  bool DecodeKey(char& c);
  // Acts on an editing key: cursor left and right, erase (BS, DEL), history
  // next and previous, and a printable character below 0x80, which is
  // inserted at the cursor while the line has room. Any other byte is ignored.
  // Every key but the cursor and history keys ends history browsing. false for
  // the keys the owner handles (LF, CR, TAB), which are left untouched.
  bool EditKey(char cKey);

  void SetMode(EMode eMode) { m_eMode = eMode; }
  EMode GetMode() const { return m_eMode; }

  const std::string& GetLine() const { return m_strLine; }
  int GetCursor() const { return m_nCursor; }
  // Empties the line without writing anything (the terminal moved on); its
  // characters are overwritten first.
  void Clear();
  // Blanks the shown line from the cursor on, steps back to its start with BS,
  // and shows `strText` (cut to the line's limit) in its place, cursor at the end.
  void ReplaceLine(const std::string& strText);
  // Writes the whole line again after the owner has started a new terminal
  // line (with its prompt); the cursor goes to the end.
  void Redraw();

  CommandHistory& GetHistory() { return m_history; }

 private:
  static const int kEscapeMax = 5;

  void Insert(char c);
  void Backspace();
  // Erases the whole shown line, also what stands right of the cursor.
  void EraseShownLine();
  void ShowHistoryLine();

  CWriter& m_writer;
  const int m_nLineMax;
  EMode m_eMode;
  std::string m_strLine;
  int m_nCursor;
  char m_szEscape[kEscapeMax];
  int m_nEscapeLength;
  bool m_bEscapeActive;
  CommandHistory m_history;
};
