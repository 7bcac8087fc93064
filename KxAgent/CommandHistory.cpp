#include "CommandHistory.h"

namespace {
const int kNothingAdded = -1;
const int kNotBrowsing = -2;
}  // namespace

CommandHistory::CommandHistory()
    : m_nNewest(-1), m_nOldest(0), m_bWrapped(false), m_nBrowse(kNothingAdded) {
  for (bool& bUsed : m_bUsed) bUsed = false;
}

void CommandHistory::Add(const char* lpLine) {
  int nNext = m_nNewest < 0 ? 0 : Advance(m_nNewest);
  if (m_nNewest == kSlots - 1) m_bWrapped = true;
  if (m_bWrapped) m_nOldest = Advance(nNext);
  m_nNewest = nNext;
  m_strSlots[m_nNewest] = lpLine ? lpLine : "";
  m_bUsed[m_nNewest] = true;
  m_nBrowse = kNotBrowsing;
}

bool CommandHistory::Previous() {
  if (m_nBrowse == kNothingAdded || m_nBrowse == m_nOldest) return false;
  m_nBrowse = m_nBrowse == kNotBrowsing ? m_nNewest : Retreat(m_nBrowse);
  return true;
}

bool CommandHistory::Next() {
  if (m_nBrowse == kNothingAdded || m_nBrowse == kNotBrowsing || m_nBrowse == m_nNewest) {
    return false;
  }
  m_nBrowse = Advance(m_nBrowse);
  return true;
}

const char* CommandHistory::Current() const {
  if (m_nBrowse < 0 || !m_bUsed[m_nBrowse]) return "";
  return m_strSlots[m_nBrowse].c_str();
}

void CommandHistory::Reset() {
  if (m_nBrowse != kNothingAdded) m_nBrowse = kNotBrowsing;
}
