// The show eventlog command: the newest records of one event log, oldest first,
// one line each.
#pragma once

class CAgentContext;
class CWriter;
class CKxAgentCommandArgument;
class CEventLogManager;

// show eventlog without the log entry: up to lpLine (text, 1 to 1000) newest
// records of lpLogName through `manager`, or one "[Error] " line. Always 1.
int ShowEventLog(CWriter& writer, CEventLogManager& manager, const char* lpLogName, const char* lpLine);

// Built-in 10 "show eventlog {LOGNAME:application|security|system} [LINE:10]".
int CmdShowEventLog(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
