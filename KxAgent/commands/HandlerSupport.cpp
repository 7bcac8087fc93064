#include "commands/HandlerSupport.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "KxAgentPluginManager/KxAgentPlugin.h"

const char* const kCommandExecute = "Command Execute";

const char* ArgumentText(CKxAgentCommandArgument& argument, const char* lpName) {
  const char* lpValue = argument.GetValue(lpName);
  return lpValue ? lpValue : "";
}

unsigned long ParseNumber(const char* lpText) { return lpText ? std::strtoul(lpText, nullptr, 10) : 0; }

void WriteFormattedLine(CWriter& writer, const char* lpFormat, ...) {
  char szLine[1024];
  va_list args;
  va_start(args, lpFormat);
  std::vsnprintf(szLine, sizeof(szLine), lpFormat, args);
  va_end(args);
  writer.WriteLine(szLine);
}
