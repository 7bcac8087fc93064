// Journal files for the tests: export-format text written into a journal file
// by systemd-journal-remote, as a remote host's journal would arrive.
#pragma once

#include <string>
#include <vector>

// One entry: its boot, its second within the test's time line, its fields.
struct JOURNAL_ENTRY {
  const char* lpBoot;
  int nSecond;
  const char* lpFields;  // "KEY=value\n" lines
};

// Second 0 of the test's time line: 2023-11-14 22:13:20 UTC. Every entry
// carries _HOSTNAME=web01.
const long long kJournalEpochUsec = 1700000000000000LL;

// The entries in the journal's export format.
std::string MakeJournalExportText(const std::vector<JOURNAL_ENTRY>& entries);
// Writes the entries into <strDirectory>/<lpName>.journal. False (and the
// command that failed in *pstrError) when systemd-journal-remote fails.
bool WriteJournalFile(const std::string& strDirectory, const char* lpName, const std::vector<JOURNAL_ENTRY>& entries,
                      std::string* pstrError);
