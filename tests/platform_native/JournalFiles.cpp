#include "JournalFiles.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace {

const char kRemote[] = "/lib/systemd/systemd-journal-remote";

}  // namespace

std::string MakeJournalExportText(const std::vector<JOURNAL_ENTRY>& entries) {
  std::string strText;
  for (const JOURNAL_ENTRY& entry : entries) {
    strText += "__REALTIME_TIMESTAMP=" + std::to_string(kJournalEpochUsec + entry.nSecond * 1000000LL) + "\n";
    strText += "__MONOTONIC_TIMESTAMP=" + std::to_string(1000000LL + entry.nSecond * 1000000LL) + "\n";
    strText += std::string("_BOOT_ID=") + entry.lpBoot + "\n_HOSTNAME=web01\n";
    strText += entry.lpFields;
    strText += "\n";
  }
  return strText;
}

bool WriteJournalFile(const std::string& strDirectory, const char* lpName, const std::vector<JOURNAL_ENTRY>& entries,
                      std::string* pstrError) {
  std::string strInput = strDirectory + "/" + lpName + ".export";
  std::ofstream(strInput) << MakeJournalExportText(entries);
  std::string strCommand = std::string(kRemote) + " --output='" + strDirectory + "/" + lpName + ".journal' '" +
                           strInput + "' >/dev/null 2>&1";
  bool bWritten = std::system(strCommand.c_str()) == 0;
  unlink(strInput.c_str());
  if (!bWritten && pstrError != nullptr) *pstrError = strCommand;
  return bWritten;
}
