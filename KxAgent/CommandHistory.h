// CommandHistory: the ring of the last 100 typed lines. The console session and
// the command-interpreter pass-through each own one. Not thread-safe: used only
// on the thread that edits the line.
#pragma once

#include <string>

class CommandHistory {
 public:
  static const int kSlots = 100;

  CommandHistory();

  // Stores a copy of the line as the newest entry, replacing the oldest once
  // 100 lines are held, and ends browsing.
  void Add(const char* lpLine);
  // Moves the browse position one line back. false when nothing was added or
  // the oldest line is already shown.
  bool Previous();
  // Moves the browse position one line forward. false when nothing was added,
  // when not browsing or when the newest line is already shown.
  bool Next();
  // The line at the browse position; valid right after Previous or Next returned true.
  const char* Current() const;
  // Ends browsing: the next Previous starts at the newest line.
  void Reset();

 private:
  static int Advance(int nSlot) { return nSlot == kSlots - 1 ? 0 : nSlot + 1; }
  static int Retreat(int nSlot) { return nSlot == 0 ? kSlots - 1 : nSlot - 1; }

  std::string m_strSlots[kSlots];
  bool m_bUsed[kSlots];
  int m_nNewest;
  int m_nOldest;
  bool m_bWrapped;
  int m_nBrowse;
};
