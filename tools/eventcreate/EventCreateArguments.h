// eventcreate's command line: the switches read from argv and the checks of the
// values an event needs, apart from anything that touches an event log.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/kx_types.h"

// The switches given, as read from the command line.
struct CEventCreateOptions {
  std::map<std::string, std::string> values;  // upper-case switch -> value
  std::vector<std::string> vecStrings;        // every /STR, in order
  bool bRegister = false;
  bool bClear = false;

  bool Has(const char* lpName) const { return values.count(lpName) != 0; }
  // The value of a switch; empty when it was not given.
  std::string Value(const char* lpName) const;
};

// What the switches of an event to write come to, once checked.
struct CEventCreateRequest {
  const char* lpTypeName = nullptr;  // "ERROR", "WARNING", "INFORMATION" or "SUCCESS"
  WORD wType = 0;
  DWORD dwEventID = 0;
  DWORD dwCount = 1;
};

// Parses decimal or 0x-hexadecimal into a 32-bit value no larger than ullMax.
// A leading zero is no octal prefix: "010" is ten. False for anything else.
bool ParseEventCreateNumber(const std::string& strText, unsigned long long ullMax, DWORD* pdwValue);

// Reads argv[1...] into *pOptions. Empty, or the usage error to print.
std::string ParseEventCreateArguments(int argc, char** argv, CEventCreateOptions* pOptions);

// Checks the switches of an event to write (/T, /ID or /RAWID, /D, /COUNT)
// into *pRequest. Empty, or the usage error to print.
std::string CheckEventCreateRequest(const CEventCreateOptions& options, CEventCreateRequest* pRequest);
