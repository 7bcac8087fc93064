// sc's "name= value" options of create and config, read from the command
// line and applied to a service configuration, apart from the service manager.
#pragma once

#include <map>
#include <string>

#include "platform/services.h"

// The text with A-Z turned into a-z.
std::string LowerAscii(std::string strText);

// Reads "name= value" pairs from argv[nFirst...] (the value may also follow the
// '=' directly). Option names compare case-insensitively. False, with the
// message in *pstrError, for a malformed list or an unknown option.
bool ParseServiceOptions(int argc, char** argv, int nFirst, std::map<std::string, std::string>* pOptions,
                         std::string* pstrError);

// Applies parsed options over *pConfig (texts converted to code page 932).
// False, with the message in *pstrError, for a bad type= or start= value.
bool ApplyServiceOptions(const std::map<std::string, std::string>& options, kx::SERVICE_CONFIG* pConfig,
                         std::string* pstrError);
