#include "ScOptions.h"

#include "platform/text_encoding.h"

std::string LowerAscii(std::string strText) {
  for (char& c : strText) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return strText;
}

bool ParseServiceOptions(int argc, char** argv, int nFirst, std::map<std::string, std::string>* pOptions,
                         std::string* pstrError) {
  for (int i = nFirst; i < argc; ++i) {
    std::string strArg = argv[i];
    std::size_t nEqual = strArg.find('=');
    if (nEqual == std::string::npos || nEqual == 0) {
      *pstrError = "Unexpected argument: " + strArg;
      return false;
    }
    std::string strName = LowerAscii(strArg.substr(0, nEqual));
    std::string strValue = strArg.substr(nEqual + 1);
    if (strValue.empty()) {
      if (i + 1 >= argc) {
        *pstrError = "Missing value of option " + strName + "=";
        return false;
      }
      strValue = argv[++i];
    }
    if (strName != "binpath" && strName != "type" && strName != "start" && strName != "displayname" &&
        strName != "depend") {
      *pstrError = "Unknown option: " + strName + "=";
      return false;
    }
    (*pOptions)[strName] = strValue;
  }
  return true;
}

bool ApplyServiceOptions(const std::map<std::string, std::string>& options, kx::SERVICE_CONFIG* pConfig,
                         std::string* pstrError) {
  for (const auto& option : options) {
    const std::string& strValue = option.second;
    if (option.first == "binpath") {
      pConfig->strBinaryPathName = kx::Utf8ToCp932(strValue);
    } else if (option.first == "displayname") {
      pConfig->strDisplayName = kx::Utf8ToCp932(strValue);
    } else if (option.first == "type") {
      std::string strType = LowerAscii(strValue);
      if (strType == "own") {
        pConfig->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
      } else if (strType == "command") {
        pConfig->dwServiceType = KX_SERVICE_COMMAND;
      } else {
        *pstrError = "type= must be own or command";
        return false;
      }
    } else if (option.first == "start") {
      std::string strStart = LowerAscii(strValue);
      if (strStart == "auto") {
        pConfig->dwStartType = SERVICE_AUTO_START;
      } else if (strStart == "demand") {
        pConfig->dwStartType = SERVICE_DEMAND_START;
      } else if (strStart == "disabled") {
        pConfig->dwStartType = SERVICE_DISABLED;
      } else {
        *pstrError = "start= must be auto, demand or disabled";
        return false;
      }
    } else if (option.first == "depend") {
      pConfig->dependencies.clear();
      std::size_t nStart = 0;
      while (nStart <= strValue.size()) {
        std::size_t nEnd = strValue.find('/', nStart);
        if (nEnd == std::string::npos) nEnd = strValue.size();
        if (nEnd > nStart) pConfig->dependencies.push_back(strValue.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
      }
    }
  }
  return true;
}

