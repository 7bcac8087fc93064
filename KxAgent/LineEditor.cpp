#include "LineEditor.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "KxAgentPluginManager/Writer.h"

namespace {

struct EscapeSequence {
  const char* lpSequence;
  char cKey;
};

const EscapeSequence kEscapeSequenceTable[] = {
    {"\x1b[A", KEY_HISTORY_PREVIOUS},
    {"\x1b[B", KEY_HISTORY_NEXT},
    {"\x1b[C", KEY_CURSOR_RIGHT},
    {"\x1b[D", KEY_CURSOR_LEFT},
    {"\x1b[4~", KEY_BACKSPACE},
};

bool IsInsertable(char c) {
  unsigned char b = static_cast<unsigned char>(c);
  return b < 0x80 && std::isprint(b);
}

}  // namespace

int EchoKey(CWriter& writer, int nKey) {
  switch (nKey) {
    case KEY_CURSOR_LEFT:
      return writer.WriteChar('\x1B') & writer.WriteChar('[') & writer.WriteChar('D');
    case KEY_CURSOR_RIGHT:
      return writer.WriteChar('\x1B') & writer.WriteChar('[') & writer.WriteChar('C');
    case KEY_BACKSPACE:
      return writer.WriteChar('\x08') & writer.WriteChar(' ') & writer.WriteChar('\x08');
    case KEY_LF:
    case KEY_CR:
      return writer.WriteChar('\n');
    default:
      return writer.WriteChar(static_cast<char>(nKey));
  }
}

CLineEditor::CLineEditor(CWriter& writer, int nLineMax)
    : m_writer(writer),
      m_nLineMax(nLineMax),
      m_eMode(MODE_EDIT),
      m_nCursor(0),
      m_nEscapeLength(0),
      m_bEscapeActive(false) {
  m_strLine.reserve(static_cast<size_t>(nLineMax));
}

bool CLineEditor::DecodeKey(char& c) {
  if (c == KEY_ESCAPE) {
    m_szEscape[0] = c;
    m_nEscapeLength = 1;
    m_bEscapeActive = true;
    return false;
  }
  if (!m_bEscapeActive) return true;

  m_szEscape[m_nEscapeLength++] = c;
  bool bPrefix = false;
  for (const EscapeSequence& entry : kEscapeSequenceTable) {
    size_t nEntry = std::strlen(entry.lpSequence);
    if (static_cast<size_t>(m_nEscapeLength) > nEntry) continue;
    if (std::memcmp(m_szEscape, entry.lpSequence, m_nEscapeLength) != 0) continue;
    if (static_cast<size_t>(m_nEscapeLength) == nEntry) {
      c = entry.cKey;
      m_bEscapeActive = false;
      return true;
    }
    bPrefix = true;
  }
  if (bPrefix) {
    // A prefix as long as the buffer can never complete: it is dropped.
    if (m_nEscapeLength >= kEscapeMax) m_bEscapeActive = false;
    return false;
  }
  // No sequence begins so: the bytes before this one are dropped, this one counts.
  m_bEscapeActive = false;
  return true;
}

bool CLineEditor::EditKey(char cKey) {
  const bool bEdit = m_eMode == MODE_EDIT;
  switch (cKey) {
    case KEY_LF:
    case KEY_CR:
    case KEY_TAB:
      return false;
    case KEY_CURSOR_LEFT:
      if (bEdit && m_nCursor > 0) {
        EchoKey(m_writer, KEY_CURSOR_LEFT);
        --m_nCursor;
      }
      return true;
    case KEY_CURSOR_RIGHT:
      if (bEdit && m_nCursor < static_cast<int>(m_strLine.size())) {
        EchoKey(m_writer, KEY_CURSOR_RIGHT);
        ++m_nCursor;
      }
      return true;
    case KEY_HISTORY_NEXT:
      if (!bEdit) return true;
      if (m_history.Next()) {
        ShowHistoryLine();
      } else {
        EraseShownLine();
        Clear();
        m_history.Reset();
      }
      return true;
    case KEY_HISTORY_PREVIOUS:
      if (bEdit && m_history.Previous()) ShowHistoryLine();
      return true;
    case KEY_BACKSPACE:
    case KEY_DELETE:
      Backspace();
      break;
    default:
      if (IsInsertable(cKey)) Insert(cKey);
      break;
  }
  m_history.Reset();
  return true;
}

void CLineEditor::Insert(char c) {
  if (static_cast<int>(m_strLine.size()) >= m_nLineMax) return;
  m_strLine.insert(m_strLine.begin() + m_nCursor, c);
  if (m_eMode != MODE_ECHO_OFF) {
    int nMoved = static_cast<int>(m_strLine.size()) - m_nCursor - 1;
    for (size_t i = static_cast<size_t>(m_nCursor); i < m_strLine.size(); ++i) {
      EchoKey(m_writer, m_strLine[i]);
    }
    for (int i = 0; i < nMoved; ++i) EchoKey(m_writer, KEY_CURSOR_LEFT);
  }
  ++m_nCursor;
}

void CLineEditor::Backspace() {
  // The erase is echoed in every mode: the terminal sees that a key was taken
  // back, even on the password line.
  if (m_nCursor == 0) return;
  if (m_nCursor == static_cast<int>(m_strLine.size())) {
    EchoKey(m_writer, KEY_BACKSPACE);
    EchoKey(m_writer, ' ');
    EchoKey(m_writer, KEY_BACKSPACE);
    m_strLine.pop_back();
    --m_nCursor;
    return;
  }
  EchoKey(m_writer, KEY_CURSOR_LEFT);
  --m_nCursor;
  m_strLine.erase(static_cast<size_t>(m_nCursor), 1);
  for (size_t i = static_cast<size_t>(m_nCursor); i < m_strLine.size(); ++i) {
    EchoKey(m_writer, m_strLine[i]);
  }
  EchoKey(m_writer, ' ');
  for (int i = m_nCursor; i <= static_cast<int>(m_strLine.size()); ++i) {
    EchoKey(m_writer, KEY_CURSOR_LEFT);
  }
}

void CLineEditor::Clear() {
  // The line may have been a password: its bytes do not stay behind in memory.
  std::fill(m_strLine.begin(), m_strLine.end(), '\0');
  m_strLine.clear();
  m_nCursor = 0;
}

void CLineEditor::EraseShownLine() {
  // Blank what stands right of the cursor first; the terminal cursor then sits
  // at the end of the shown line and every character can be erased leftwards.
  int nLength = static_cast<int>(m_strLine.size());
  for (int i = m_nCursor; i < nLength; ++i) m_writer.WriteChar(' ');
  for (int i = 0; i < nLength; ++i) EchoKey(m_writer, KEY_BACKSPACE);
}

void CLineEditor::ShowHistoryLine() {
  EraseShownLine();
  m_strLine = m_history.Current();
  if (static_cast<int>(m_strLine.size()) > m_nLineMax) m_strLine.resize(static_cast<size_t>(m_nLineMax));
  m_nCursor = static_cast<int>(m_strLine.size());
  m_writer.Write(m_strLine.c_str());
}

void CLineEditor::ReplaceLine(const std::string& strText) {
  int nLength = static_cast<int>(m_strLine.size());
  for (int i = m_nCursor; i < nLength; ++i) m_writer.WriteChar(' ');
  for (int i = 0; i < nLength; ++i) m_writer.WriteChar(KEY_BACKSPACE);
  m_strLine = strText.substr(0, static_cast<size_t>(m_nLineMax));
  m_nCursor = static_cast<int>(m_strLine.size());
  m_writer.Write(m_strLine.c_str());
}

void CLineEditor::Redraw() {
  m_writer.Write(m_strLine.c_str());
  m_nCursor = static_cast<int>(m_strLine.size());
}
