#include "commands/EventLogCommands.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "EventLogManager.h"
#include "AgentContext.h"
#include "KxAgentLog.h"
#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/Writer.h"
#include "commands/HandlerSupport.h"

namespace {

const unsigned long kMinLines = 1;
const unsigned long kMaxLines = 1000;
// Twice the longest formatted line, as the command has always allocated.
const size_t kLineBufferSize = 2001;

// The number in LINE read as an unsigned number (leading digits, as strtoul
// reads them), or 0 (refused) for text that is no number, a negative number
// (strtoul would wrap it, and a large enough one to a small count) or a number
// beyond the range of the type.
unsigned long ParseLineCount(const char* lpLine) {
  if (lpLine == nullptr) return 0;
  const char* lpDigits = lpLine;
  while (std::isspace(static_cast<unsigned char>(*lpDigits))) ++lpDigits;
  if (*lpDigits == '-') return 0;
  errno = 0;
  char* lpEnd = nullptr;
  unsigned long ulValue = std::strtoul(lpDigits, &lpEnd, 10);
  if (errno != 0 || lpEnd == lpDigits) return 0;
  return ulValue;
}

}  // namespace

int ShowEventLog(CWriter& writer, CEventLogManager& manager, const char* lpLogName, const char* lpLine) {
  unsigned long ulLines = ParseLineCount(lpLine);
  if (ulLines < kMinLines || ulLines > kMaxLines) {
    writer.WriteLine("[Error] Please input an integer between 1 and 1000 into 'LINE'.");
    return 1;
  }
  if (manager.GetRecordCount(lpLogName) == 0) {
    writer.WriteLine("[Error] No records found.");
    return 1;
  }
  std::vector<char> line(kLineBufferSize);
  DWORD dwNewest = manager.GetNewestRecordNumber(lpLogName);
  DWORD dwLines = static_cast<DWORD>(ulLines);
  DWORD dwFirst = dwNewest > dwLines ? dwNewest - dwLines + 1 : 0;
  // Record 0 and numbers below the oldest record fail to read and are skipped.
  for (DWORD dwRecord = dwFirst;; ++dwRecord) {
    if (manager.GetEventLogMessage(lpLogName, dwRecord, line.data(), 0)) writer.WriteLine(line.data());
    if (dwRecord == dwNewest) break;
  }
  return 1;
}

int CmdShowEventLog(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument) {
  const char* lpLogName = argument.GetValue("LOGNAME");
  const char* lpLine = argument.GetValue("LINE");
  if (lpLogName == nullptr) lpLogName = "";
  if (lpLine == nullptr) lpLine = "10";
  CKxAgentLog::LogInfo(kCommandExecute, "show eventlog %s %s", lpLogName, lpLine);
  CEventLogManager* pManager = context.GetLogManager();
  if (pManager == nullptr) {
    writer.WriteLine("[Error] No records found.");
    return 1;
  }
  return ShowEventLog(writer, *pManager, lpLogName, lpLine);
}
