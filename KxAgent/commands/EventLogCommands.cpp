#include "commands/EventLogCommands.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "EventLogManager.h"
#include "KestrixAgent.h"
#include "KxAgentLog.h"
#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/Writer.h"
#include "commands/HandlerSupport.h"

namespace {

const long kMinLines = 1;
const long kMaxLines = 1000;
// Twice the longest formatted line, as the command has always allocated.
const size_t kLineBufferSize = 2001;

// The number in LINE, or 0 (refused) for text that is not a number in range.
long ParseLineCount(const char* lpLine) {
  if (lpLine == nullptr) return 0;
  errno = 0;
  char* lpEnd = nullptr;
  long lValue = std::strtol(lpLine, &lpEnd, 10);
  if (errno != 0 || lpEnd == lpLine) return 0;
  return lValue;
}

}  // namespace

int ShowEventLog(CWriter& writer, CEventLogManager& manager, const char* lpLogName, const char* lpLine) {
  long lLines = ParseLineCount(lpLine);
  if (lLines < kMinLines || lLines > kMaxLines) {
    writer.WriteLine("[Error] Please input an integer between 1 and 1000 into 'LINE'.");
    return 1;
  }
  if (manager.GetRecordCount(lpLogName) == 0) {
    writer.WriteLine("[Error] No records found.");
    return 1;
  }
  std::vector<char> line(kLineBufferSize);
  DWORD dwNewest = manager.GetNewestRecordNumber(lpLogName);
  DWORD dwLines = static_cast<DWORD>(lLines);
  DWORD dwFirst = dwNewest > dwLines ? dwNewest - dwLines + 1 : 0;
  // Record 0 and numbers below the oldest record fail to read and are skipped.
  for (DWORD dwRecord = dwFirst;; ++dwRecord) {
    if (manager.GetEventLogMessage(lpLogName, dwRecord, line.data(), 0)) writer.WriteLine(line.data());
    if (dwRecord == dwNewest) break;
  }
  return 1;
}

int CmdShowEventLog(CWriter& writer, CKxAgentCommandArgument& argument) {
  const char* lpLogName = argument.GetValue("LOGNAME");
  const char* lpLine = argument.GetValue("LINE");
  if (lpLogName == nullptr) lpLogName = "";
  if (lpLine == nullptr) lpLine = "10";
  CKxAgentLog::LogInfo(kCommandExecute, "show eventlog %s %s", lpLogName, lpLine);
  CKestrixAgent* pAgent = GetAgent();
  CEventLogManager* pManager = pAgent != nullptr ? pAgent->GetLogManager() : nullptr;
  if (pManager == nullptr) {
    writer.WriteLine("[Error] No records found.");
    return 1;
  }
  return ShowEventLog(writer, *pManager, lpLogName, lpLine);
}
