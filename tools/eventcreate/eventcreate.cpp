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

#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "platform/event_log.h"
#include "platform/text_compare.h"
#include "platform/text_encoding.h"

namespace {

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

// Parses decimal or 0x-hexadecimal into a 32-bit value. A leading zero is no
// octal prefix: "010" is ten, as operators mean it.
bool ParseNumber(const std::string& strText, unsigned long long ullMax, DWORD* pdwValue) {
  if (strText.empty() || strText[0] == '-' || strText[0] == '+') return false;
  bool bHex = strText.size() > 2 && strText[0] == '0' && (strText[1] == 'x' || strText[1] == 'X');
  const char* lpDigits = strText.c_str() + (bHex ? 2 : 0);
  if (*lpDigits == ' ' || *lpDigits == '-' || *lpDigits == '+') return false;
  errno = 0;
  char* lpEnd = nullptr;
  unsigned long long ullValue = std::strtoull(lpDigits, &lpEnd, bHex ? 16 : 10);
  if (errno != 0 || lpEnd == lpDigits || *lpEnd != '\0' || ullValue > ullMax) return false;
  *pdwValue = static_cast<DWORD>(ullValue);
  return true;
}

struct Options {
  std::map<std::string, std::string> values;  // upper-case switch -> value
  std::vector<std::string> vecStrings;        // every /STR, in order
  bool bRegister = false;
  bool bClear = false;
};

// Switches that take a value, and whether they may repeat.
const struct {
  const char* lpName;
  bool bRepeatable;
} kValueSwitches[] = {{"L", false},   {"T", false},     {"SO", false},  {"ID", false},
                      {"RAWID", false}, {"D", false},   {"STR", true},  {"COUNT", false},
                      {"MF", false},  {"MAXRECORDS", false}};

std::string Upper(std::string strText) {
  for (char& c : strText) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return strText;
}

// Reads argv into *pOptions; an empty result, or the usage error to print.
std::string ParseArguments(int argc, char** argv, Options* pOptions) {
  for (int i = 1; i < argc; ++i) {
    std::string strArg = argv[i];
    if (strArg.size() < 2 || (strArg[0] != '/' && strArg[0] != '-')) {
      return "Invalid argument/option - '" + strArg + "'.";
    }
    std::string strName = Upper(strArg.substr(1));
    if (strName == "REGISTER") {
      pOptions->bRegister = true;
      continue;
    }
    if (strName == "CLEAR") {
      pOptions->bClear = true;
      continue;
    }
    bool bKnown = false;
    for (const auto& sw : kValueSwitches) {
      if (strName != sw.lpName) continue;
      bKnown = true;
      if (i + 1 >= argc) return "Invalid syntax. Value expected for '" + strArg + "'.";
      std::string strValue = argv[++i];
      if (sw.bRepeatable) {
        pOptions->vecStrings.push_back(strValue);
      } else if (!pOptions->values.emplace(strName, strValue).second) {
        return "Invalid syntax. '" + strArg + "' option is not allowed more than '1' time(s).";
      }
    }
    if (!bKnown) return "Invalid argument/option - '" + strArg + "'.";
  }
  return std::string();
}

bool Has(const Options& options, const char* lpName) { return options.values.count(lpName) != 0; }

std::string Value(const Options& options, const char* lpName) {
  auto it = options.values.find(lpName);
  return it == options.values.end() ? std::string() : it->second;
}

// The canonical log name of /L, or null with a usage error printed.
const char* RequireLog(const Options& options) {
  if (!Has(options, "L")) {
    UsageError("Invalid syntax. Mandatory option '/L' is missing.");
    return nullptr;
  }
  const char* lpLog = kx::GetCanonicalEventLogName(Value(options, "L").c_str());
  if (lpLog == nullptr) UsageError("Invalid log name '" + Value(options, "L") + "': Application, Security or System.");
  return lpLog;
}

int DoRegister(const Options& options) {
  const char* lpLog = RequireLog(options);
  if (lpLog == nullptr) return kUsageError;
  if (!Has(options, "SO")) return UsageError("Invalid syntax. Mandatory option '/SO' is missing.");
  std::string strSource = kx::Utf8ToCp932(Value(options, "SO"));
  std::string strFiles = kx::Utf8ToCp932(Value(options, "MF"));
  DWORD dwError = kx::InstallEventSource(lpLog, strSource.c_str(), Has(options, "MF") ? strFiles.c_str() : nullptr);
  if (dwError != ERROR_SUCCESS) return Failed("Registering the source", dwError);
  std::printf("SUCCESS: The source '%s' is registered in the '%s' log.\n", Value(options, "SO").c_str(), lpLog);
  return 0;
}

int DoLogOperation(const Options& options) {
  const char* lpLog = RequireLog(options);
  if (lpLog == nullptr) return kUsageError;
  DWORD dwMax = 0;
  if (Has(options, "MAXRECORDS") && !ParseNumber(Value(options, "MAXRECORDS"), 0xFFFFFFFFull, &dwMax)) {
    return UsageError("Invalid value '" + Value(options, "MAXRECORDS") + "' for '/MAXRECORDS'.");
  }
  kx::HEVENTLOG hLog = nullptr;
  DWORD dwError = kx::OpenEventLogByName(lpLog, &hLog);
  if (dwError == ERROR_SUCCESS && options.bClear) dwError = kx::ClearEventLogRecords(hLog);
  if (dwError == ERROR_SUCCESS && Has(options, "MAXRECORDS")) dwError = kx::SetEventLogMaxRecords(hLog, dwMax);
  kx::CloseEventLogHandle(hLog);
  if (dwError != ERROR_SUCCESS) return Failed(options.bClear ? "Clearing the log" : "Setting the maximum", dwError);
  if (options.bClear) std::printf("SUCCESS: The '%s' log was cleared.\n", lpLog);
  if (Has(options, "MAXRECORDS")) {
    std::printf("SUCCESS: The '%s' log keeps at most %lu records%s.\n", lpLog, static_cast<unsigned long>(dwMax),
                dwMax == 0 ? " (no maximum)" : "");
  }
  return 0;
}

int DoCreate(const Options& options) {
  static const struct {
    const char* lpName;
    WORD wType;
  } kTypes[] = {{"ERROR", EVENTLOG_ERROR_TYPE},
                {"WARNING", EVENTLOG_WARNING_TYPE},
                {"INFORMATION", EVENTLOG_INFORMATION_TYPE},
                {"SUCCESS", EVENTLOG_SUCCESS}};
  if (!Has(options, "T")) return UsageError("Invalid syntax. Mandatory option '/T' is missing.");
  if (!Has(options, "ID") && !Has(options, "RAWID")) {
    return UsageError("Invalid syntax. Mandatory option '/ID' is missing.");
  }
  if (Has(options, "ID") && Has(options, "RAWID")) return UsageError("'/ID' and '/RAWID' cannot be used together.");
  if (!Has(options, "D")) return UsageError("Invalid syntax. Mandatory option '/D' is missing.");

  const char* lpTypeName = nullptr;
  WORD wType = 0;
  for (const auto& type : kTypes) {
    if (kx::CompareNoCase(type.lpName, Value(options, "T").c_str()) == 0) {
      lpTypeName = type.lpName;
      wType = type.wType;
    }
  }
  if (lpTypeName == nullptr) {
    return UsageError("Invalid type '" + Value(options, "T") + "': ERROR, WARNING, INFORMATION or SUCCESS.");
  }
  DWORD dwEventID = 0;
  if (Has(options, "ID")) {
    if (!ParseNumber(Value(options, "ID"), 1000, &dwEventID) || dwEventID < 1) {
      return UsageError("Invalid value '" + Value(options, "ID") + "' for '/ID': 1 to 1000.");
    }
  } else if (!ParseNumber(Value(options, "RAWID"), 0xFFFFFFFFull, &dwEventID)) {
    return UsageError("Invalid value '" + Value(options, "RAWID") + "' for '/RAWID'.");
  }
  DWORD dwCount = 1;
  if (Has(options, "COUNT") &&
      (!ParseNumber(Value(options, "COUNT"), 0xFFFFFFFFull, &dwCount) || dwCount < 1)) {
    return UsageError("Invalid value '" + Value(options, "COUNT") + "' for '/COUNT'.");
  }
  const char* lpLog = nullptr;
  if (Has(options, "L")) {
    lpLog = RequireLog(options);
    if (lpLog == nullptr) return kUsageError;
  }
  std::string strSourceUtf8 = Has(options, "SO") ? Value(options, "SO") : kDefaultSource;
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
  vecStrings.push_back(kx::Utf8ToCp932(Value(options, "D")));
  for (const std::string& strText : options.vecStrings) vecStrings.push_back(kx::Utf8ToCp932(strText));
  if (vecStrings.size() > 0xFFFF) return UsageError("Too many insertion strings.");
  std::vector<const char*> vecPointers;
  for (const std::string& strText : vecStrings) vecPointers.push_back(strText.c_str());

  kx::HEVENTSOURCE hSource = nullptr;
  DWORD dwError = kx::RegisterEventLogSource(strSource.c_str(), &hSource);
  if (dwError != ERROR_SUCCESS) return Failed("Opening the source", dwError);
  for (DWORD i = 0; i < dwCount && dwError == ERROR_SUCCESS; ++i) {
    dwError = kx::ReportEventLogEntry(hSource, wType, 0, dwEventID, static_cast<WORD>(vecPointers.size()),
                                      vecPointers.data());
  }
  kx::DeregisterEventLogSource(hSource);
  if (dwError != ERROR_SUCCESS) return Failed("Writing the event", dwError);
  std::printf("SUCCESS: An event of type '%s' was created in the '%s' log with '%s' as the source.\n", lpTypeName,
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
  std::string strError = ParseArguments(argc, argv, &options);
  if (!strError.empty()) return UsageError(strError);
  int nModes = (options.bRegister ? 1 : 0) + ((options.bClear || Has(options, "MAXRECORDS")) ? 1 : 0);
  if (nModes > 1) return UsageError("'/REGISTER' cannot be combined with '/CLEAR' or '/MAXRECORDS'.");
  if (options.bRegister) return DoRegister(options);
  if (options.bClear || Has(options, "MAXRECORDS")) return DoLogOperation(options);
  return DoCreate(options);
}
