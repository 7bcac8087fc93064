#include "EventCreateArguments.h"

#include <cerrno>
#include <cstdlib>

#include "platform/event_log.h"
#include "platform/text_compare.h"

namespace {

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

}  // namespace

std::string CEventCreateOptions::Value(const char* lpName) const {
  auto it = values.find(lpName);
  return it == values.end() ? std::string() : it->second;
}

bool ParseEventCreateNumber(const std::string& strText, unsigned long long ullMax, DWORD* pdwValue) {
  if (strText.empty() || strText[0] == '-' || strText[0] == '+') return false;
  bool bHex = strText.size() > 2 && strText[0] == '0' && (strText[1] == 'x' || strText[1] == 'X');
  const char* lpDigits = strText.c_str() + (bHex ? 2 : 0);
  if (*lpDigits == ' ' || *lpDigits == '-' || *lpDigits == '+') return false;
  errno = 0;
  char* lpEnd = nullptr;
  unsigned long long ullValue = std::strtoull(lpDigits, &lpEnd, bHex ? 16 : 10);
  // A NUL inside the text would end the digits early and hide what follows.
  if (errno != 0 || lpEnd == lpDigits || lpEnd != strText.c_str() + strText.size() || ullValue > ullMax) {
    return false;
  }
  *pdwValue = static_cast<DWORD>(ullValue);
  return true;
}

std::string ParseEventCreateArguments(int argc, char** argv, CEventCreateOptions* pOptions) {
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

std::string CheckEventCreateRequest(const CEventCreateOptions& options, CEventCreateRequest* pRequest) {
  static const struct {
    const char* lpName;
    WORD wType;
  } kTypes[] = {{"ERROR", EVENTLOG_ERROR_TYPE},
                {"WARNING", EVENTLOG_WARNING_TYPE},
                {"INFORMATION", EVENTLOG_INFORMATION_TYPE},
                {"SUCCESS", EVENTLOG_SUCCESS}};
  if (!options.Has("T")) return "Invalid syntax. Mandatory option '/T' is missing.";
  if (!options.Has("ID") && !options.Has("RAWID")) return "Invalid syntax. Mandatory option '/ID' is missing.";
  if (options.Has("ID") && options.Has("RAWID")) return "'/ID' and '/RAWID' cannot be used together.";
  if (!options.Has("D")) return "Invalid syntax. Mandatory option '/D' is missing.";
  for (const auto& type : kTypes) {
    if (kx::CompareNoCase(type.lpName, options.Value("T").c_str()) == 0) {
      pRequest->lpTypeName = type.lpName;
      pRequest->wType = type.wType;
    }
  }
  if (pRequest->lpTypeName == nullptr) {
    return "Invalid type '" + options.Value("T") + "': ERROR, WARNING, INFORMATION or SUCCESS.";
  }
  if (options.Has("ID")) {
    if (!ParseEventCreateNumber(options.Value("ID"), 1000, &pRequest->dwEventID) || pRequest->dwEventID < 1) {
      return "Invalid value '" + options.Value("ID") + "' for '/ID': 1 to 1000.";
    }
  } else if (!ParseEventCreateNumber(options.Value("RAWID"), 0xFFFFFFFFull, &pRequest->dwEventID)) {
    return "Invalid value '" + options.Value("RAWID") + "' for '/RAWID'.";
  }
  pRequest->dwCount = 1;
  if (options.Has("COUNT") &&
      (!ParseEventCreateNumber(options.Value("COUNT"), 0xFFFFFFFFull, &pRequest->dwCount) ||
       pRequest->dwCount < 1)) {
    return "Invalid value '" + options.Value("COUNT") + "' for '/COUNT'.";
  }
  if (options.vecStrings.size() + 1 > 0xFFFF) return "Too many insertion strings.";
  return std::string();
}
