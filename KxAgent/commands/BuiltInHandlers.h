// The handlers of the session and settings commands. Every handler runs on the
// agent's input thread, writes one "Command Execute" information entry first,
// reports user and system errors as one terminal line and returns normally.
#pragma once

#include <cstdint>
#include <string>

class CAgentContext;
class CWriter;
class CKxAgentCommandArgument;

int CmdShowVersion(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
int CmdShowDate(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
int CmdSetEncoding(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
int CmdSetTimeout(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
int CmdDosPrompt(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
int CmdLogoff(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);
int CmdSetEventLogNotification(CAgentContext& context, CWriter& writer, CKxAgentCommandArgument& argument);

// " Physical Memory : ..." style line: total and available in KB and the
// available share in percent (truncated; 0 when the total is 0).
std::string FormatMemoryLine(const char* lpLabel, std::uint64_t qwTotal, std::uint64_t qwAvailable);

// The edition name of a Windows version record (platform id, major, minor,
// product type, suite mask, build number); "Unknown" for anything the table
// does not name. From Vista on, the product type tells the client from the
// server of one version, and within 10.0 the build number tells the releases.
const char* GetOSName(unsigned long dwPlatformId, unsigned long dwMajor, unsigned long dwMinor,
                      int nProductType, unsigned int nSuiteMask, unsigned long dwBuildNumber);
