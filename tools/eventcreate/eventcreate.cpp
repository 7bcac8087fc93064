// eventcreate: writes an event to an event log of this machine, with the switches
// operators know, and manages event sources and logs:
//   eventcreate /T type /ID id /D description [/L log] [/SO source] [/STR text]... [/COUNT n]
//   eventcreate /T type /RAWID id ...        any 32-bit event ID (decimal or 0x...)
//   eventcreate /REGISTER /L log /SO source [/MF file;file...]
//   eventcreate /CLEAR /L log
//   eventcreate /MAXRECORDS n /L log         0: no maximum
// Switches may start with '/' or '-' and compare case-insensitively. Texts are
// taken from the shell as UTF-8. Exit code: 0, 1 for a usage error, 2 when the
// event log refused (its Windows error code is printed).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "EventCreateArguments.h"
#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "platform/event_log.h"
#include "platform/text_compare.h"
#include "platform/text_encoding.h"

namespace {

typedef CEventCreateOptions Options;

const int kUsageError = 1;
const int kCallFailed = 2;
const char kDefaultSource[] = "EventCreate";

void PrintUsage(FILE* pOut) {
  std::fputs(
      "\n"
      "EVENTCREATE /T type /ID id /D description [/L logname] [/SO srcname]\n"
      "            [/STR text]... [/COUNT n]\n"
      "EVENTCREATE /REGISTER /L logname /SO srcname [/MF file[;file...]]\n"
      "EVENTCREATE /CLEAR /L logname\n"
      "EVENTCREATE /MAXRECORDS n /L logname\n"
      "\n"
      "Description:\n"
      "    Creates a custom event in an event log, registers an event source\n"
      "    with its message files, clears a log or sets how many records it keeps.\n"
      "\n"
      "Parameter List:\n"
      "    /L    logname        Application, Security or System.\n"
      "    /T    type           ERROR, WARNING, INFORMATION or SUCCESS.\n"
      "    /SO   srcname        The source of the event (default EventCreate).\n"
      "    /ID   id             The event ID, 1 to 1000.\n"
      "    /RAWID id            Any 32-bit event ID (decimal or 0x-hexadecimal).\n"
      "    /D    description    The event's first insertion string.\n"
      "    /STR  text           A further insertion string (repeatable).\n"
      "    /COUNT n             Writes the event n times (default 1).\n"
      "    /REGISTER            Registers srcname under logname.\n"
      "    /MF   files          The source's message files, separated by ';'.\n"
      "    /CLEAR               Removes every record of logname.\n"
      "    /MAXRECORDS n        The most records logname keeps (0: no maximum).\n"
      "    /?                   Displays this help message.\n",
      pOut);
}

int UsageError(const std::string& strMessage) {
  std::fprintf(stderr, "ERROR: %s\nType \"EVENTCREATE /?\" for usage.\n", strMessage.c_str());
  return kUsageError;
}

int Failed(const char* lpWhat, DWORD dwError) {
  std::fprintf(stderr, "ERROR: %s failed with error %lu: %s\n", lpWhat, static_cast<unsigned long>(dwError),
               kx::FormatSystemMessage(dwError).c_str());
  return kCallFailed;
}

// The canonical log name of /L, or null with a usage error printed.
const char* RequireLog(const Options& options) {
  if (!options.Has("L")) {
    UsageError("Invalid syntax. Mandatory option '/L' is missing.");
    return nullptr;
  }
  const char* lpLog = kx::GetCanonicalEventLogName(options.Value("L").c_str());
  if (lpLog == nullptr) UsageError("Invalid log name '" + options.Value("L") + "': Application, Security or System.");
  return lpLog;
}

int DoRegister(const Options& options) {
  const char* lpLog = RequireLog(options);
  if (lpLog == nullptr) return kUsageError;
  if (!options.Has("SO")) return UsageError("Invalid syntax. Mandatory option '/SO' is missing.");
  std::string strSource = kx::Utf8ToCp932(options.Value("SO"));
  std::string strFiles = kx::Utf8ToCp932(options.Value("MF"));
  DWORD dwError = kx::InstallEventSource(lpLog, strSource.c_str(), options.Has("MF") ? strFiles.c_str() : nullptr);
  if (dwError != ERROR_SUCCESS) return Failed("Registering the source", dwError);
  std::printf("SUCCESS: The source '%s' is registered in the '%s' log.\n", options.Value("SO").c_str(), lpLog);
  return 0;
}

int DoLogOperation(const Options& options) {
  const char* lpLog = RequireLog(options);
  if (lpLog == nullptr) return kUsageError;
  DWORD dwMax = 0;
  if (options.Has("MAXRECORDS") && !ParseEventCreateNumber(options.Value("MAXRECORDS"), 0xFFFFFFFFull, &dwMax)) {
    return UsageError("Invalid value '" + options.Value("MAXRECORDS") + "' for '/MAXRECORDS'.");
  }
  kx::HEVENTLOG hLog = nullptr;
  DWORD dwError = kx::OpenEventLogByName(lpLog, &hLog);
  if (dwError == ERROR_SUCCESS && options.bClear) dwError = kx::ClearEventLogRecords(hLog);
  if (dwError == ERROR_SUCCESS && options.Has("MAXRECORDS")) dwError = kx::SetEventLogMaxRecords(hLog, dwMax);
  kx::CloseEventLogHandle(hLog);
  if (dwError != ERROR_SUCCESS) return Failed(options.bClear ? "Clearing the log" : "Setting the maximum", dwError);
  if (options.bClear) std::printf("SUCCESS: The '%s' log was cleared.\n", lpLog);
  if (options.Has("MAXRECORDS")) {
    std::printf("SUCCESS: The '%s' log keeps at most %lu records%s.\n", lpLog, static_cast<unsigned long>(dwMax),
                dwMax == 0 ? " (no maximum)" : "");
  }
  return 0;
}

int DoCreate(const Options& options) {
  CEventCreateRequest request;
  std::string strError = CheckEventCreateRequest(options, &request);
  if (!strError.empty()) return UsageError(strError);
  const char* lpLog = nullptr;
  if (options.Has("L")) {
    lpLog = RequireLog(options);
    if (lpLog == nullptr) return kUsageError;
  }
  std::string strSourceUtf8 = options.Has("SO") ? options.Value("SO") : kDefaultSource;
  std::string strSource = kx::Utf8ToCp932(strSourceUtf8);

  // A source that is registered nowhere yet is created under the log asked
  // for; one registered under another log may not write to this one.
  std::string strSourceLog;
  if (kx::FindEventSourceLog(strSource.c_str(), &strSourceLog) == ERROR_SUCCESS) {
    if (lpLog != nullptr && strSourceLog != lpLog) {
      std::fprintf(stderr, "ERROR: Source already exists in '%s' log. Source cannot be duplicated.\n",
                   strSourceLog.c_str());
      return kUsageError;
    }
    lpLog = kx::GetCanonicalEventLogName(strSourceLog.c_str());
  } else {
    if (lpLog == nullptr) lpLog = "Application";
    DWORD dwError = kx::InstallEventSource(lpLog, strSource.c_str(), nullptr);
    if (dwError == ERROR_INVALID_NAME) return UsageError("Invalid source name '" + strSourceUtf8 + "'.");
    if (dwError != ERROR_SUCCESS) return Failed("Registering the source", dwError);
  }

  std::vector<std::string> vecStrings;
  vecStrings.push_back(kx::Utf8ToCp932(options.Value("D")));
  for (const std::string& strText : options.vecStrings) vecStrings.push_back(kx::Utf8ToCp932(strText));
  std::vector<const char*> vecPointers;
  for (const std::string& strText : vecStrings) vecPointers.push_back(strText.c_str());

  kx::HEVENTSOURCE hSource = nullptr;
  DWORD dwError = kx::RegisterEventLogSource(strSource.c_str(), &hSource);
  if (dwError != ERROR_SUCCESS) return Failed("Opening the source", dwError);
  for (DWORD i = 0; i < request.dwCount && dwError == ERROR_SUCCESS; ++i) {
    dwError = kx::ReportEventLogEntry(hSource, request.wType, 0, request.dwEventID, static_cast<WORD>(vecPointers.size()),
                                      vecPointers.data());
  }
  kx::DeregisterEventLogSource(hSource);
  if (dwError != ERROR_SUCCESS) return Failed("Writing the event", dwError);
  std::printf("SUCCESS: An event of type '%s' was created in the '%s' log with '%s' as the source.\n", request.lpTypeName,
              lpLog, strSourceUtf8.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "/?") == 0 || std::strcmp(argv[i], "-?") == 0) {
      PrintUsage(stdout);
      return 0;
    }
  }
  if (argc < 2) {
    UsageError("Invalid syntax. Mandatory options are missing.");
    return kUsageError;
  }
  Options options;
  std::string strError = ParseEventCreateArguments(argc, argv, &options);
  if (!strError.empty()) return UsageError(strError);
  int nModes = (options.bRegister ? 1 : 0) + ((options.bClear || options.Has("MAXRECORDS")) ? 1 : 0);
  if (nModes > 1) return UsageError("'/REGISTER' cannot be combined with '/CLEAR' or '/MAXRECORDS'.");
  if (options.bRegister) return DoRegister(options);
  if (options.bClear || options.Has("MAXRECORDS")) return DoLogOperation(options);
  return DoCreate(options);
}
