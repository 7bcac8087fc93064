#include "emulation/key_value_store.h"

#include <cstdlib>

#include "platform/error_codes.h"
#include "platform/replace_file.h"

namespace kx {
namespace {

const std::size_t kMaxStoreFile = 1 << 20;

std::string Trim(const std::string& strText) {
  std::size_t nFirst = strText.find_first_not_of(" \t");
  if (nFirst == std::string::npos) return std::string();
  std::size_t nLast = strText.find_last_not_of(" \t");
  return strText.substr(nFirst, nLast - nFirst + 1);
}

std::string Escape(const std::string& strText) {
  std::string strOut;
  for (char c : strText) {
    if (c == '\\') {
      strOut += "\\\\";
    } else if (c == '\n') {
      strOut += "\\n";
    } else if (c == '\r') {
      strOut += "\\r";
    } else {
      strOut += c;
    }
  }
  return strOut;
}

std::string Unescape(const std::string& strText) {
  std::string strOut;
  for (std::size_t i = 0; i < strText.size(); ++i) {
    if (strText[i] != '\\' || i + 1 == strText.size()) {
      strOut += strText[i];
      continue;
    }
    char c = strText[++i];
    strOut += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return strOut;
}

}  // namespace

CKeyValues ParseKeyValues(const std::string& strText) {
  CKeyValues values;
  std::size_t nStart = 0;
  while (nStart < strText.size()) {
    std::size_t nEnd = strText.find('\n', nStart);
    if (nEnd == std::string::npos) nEnd = strText.size();
    std::string strLine = strText.substr(nStart, nEnd - nStart);
    nStart = nEnd + 1;
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    std::size_t nFirst = strLine.find_first_not_of(" \t");
    if (nFirst == std::string::npos || strLine[nFirst] == '#') continue;
    std::size_t nEqual = strLine.find('=');
    if (nEqual == std::string::npos) continue;
    std::string strKey = Trim(strLine.substr(0, nEqual));
    if (strKey.empty()) continue;
    values[strKey] = Unescape(strLine.substr(nEqual + 1));
  }
  return values;
}

std::string FormatKeyValues(const CKeyValues& values) {
  std::string strText;
  for (const auto& value : values) {
    // A key that would not read back as itself is stored under what it reads as.
    std::string strKey = Trim(value.first);
    for (char& c : strKey) {
      if (c == '\n' || c == '\r' || c == '=') c = '_';
    }
    if (strKey.empty() || strKey[0] == '#') continue;
    strText += strKey + "=" + Escape(value.second) + "\n";
  }
  return strText;
}

DWORD ReadKeyValueFile(const std::string& strPath, CKeyValues* pValues) {
  pValues->clear();
  std::string strText;
  DWORD dwError = ReadWholeFile(strPath.c_str(), kMaxStoreFile, &strText);
  if (dwError != ERROR_SUCCESS) return dwError;
  *pValues = ParseKeyValues(strText);
  return ERROR_SUCCESS;
}

DWORD WriteKeyValueFile(const std::string& strPath, const CKeyValues& values) {
  return ReplaceFileDurably(strPath.c_str(), FormatKeyValues(values));
}

std::string GetKeyText(const CKeyValues& values, const char* lpKey) {
  CKeyValues::const_iterator it = values.find(lpKey);
  return it == values.end() ? std::string() : it->second;
}

unsigned long long GetKeyNumber(const CKeyValues& values, const char* lpKey, unsigned long long ullDefault) {
  CKeyValues::const_iterator it = values.find(lpKey);
  return it == values.end() ? ullDefault : std::strtoull(it->second.c_str(), nullptr, 10);
}

}  // namespace kx
