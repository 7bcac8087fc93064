#include "KxAgentPluginManager/BuiltInCommand.h"

#include <string>

#include "platform/text_encoding.h"

namespace {

// The order is the command numbering, and so the command IDs that account
// permissions grant: never reorder, only append.
const char* const kDefinitions[CBuiltInCommand::KX_BUILTIN_COMMAND_COUNT] = {
    "show version",
    "show date",
    "set encoding {ENCODING:sjis|eucjp}",
    "set timeout [SEC:180]",
    "dosprompt",
    "logoff",
    "shutdown [DELAY:180]",
    "reboot [DELAY:180]",
    "abort",
    "show diskinfo [OPTION:hdd]",
    "show eventlog {LOGNAME:application|security|system} [LINE:10]",
    "set eventlog-notification {SWITCH:on|off}",
    "show process",
    "kill {PID}",
    "show service [NAME_DISPLAY_OPTION:full]",
    "start service {SERVICE_NAME}",
    "stop service {SERVICE_NAME}",
};

const char kInfoName[] = "標準コマンド";
const char kInfoDescription[] = "Kestrix Agent for Windows が提供する標準コマンドセットです。";
const char kInfoCopyright[] = "Copyright (C) Kestrix Agent for Windows developers. All rights reserved.";

}  // namespace

CBuiltInCommand::CBuiltInCommand() {
  for (int i = 0; i < KX_BUILTIN_COMMAND_COUNT; ++i) {
    m_table[i].nIndex = i;
    m_table[i].lpDefinition = kDefinitions[i];
    m_table[i].pFunc = nullptr;
  }
  // The record stores code page 932, like every narrow text of the product.
  std::string strName = kx::Utf8ToCp932(kInfoName);
  std::string strDescription = kx::Utf8ToCp932(kInfoDescription);
  m_pInfo.reset(new CKxAgentPluginInfo(strName.c_str(), strDescription.c_str(), kInfoCopyright, 1,
                                       1, CKxAgentPlugin::TYPE_BUILTIN));
}

CBuiltInCommand::~CBuiltInCommand() {}

int CBuiltInCommand::GetPluginType() { return CKxAgentPlugin::TYPE_BUILTIN; }

CKxAgentPluginInfo* CBuiltInCommand::GetPluginVersionInfo() { return m_pInfo.get(); }

const char* CBuiltInCommand::GetCommandLineDefinition(int nIndex) {
  if (nIndex < 0 || nIndex >= KX_BUILTIN_COMMAND_COUNT) return nullptr;
  return m_table[nIndex].lpDefinition;
}

int CBuiltInCommand::Execute(int nIndex, CWriter& writer, CKxAgentCommandArgument& argument) {
  if (!IsExistInstance(nIndex)) return 0;
  return m_table[nIndex].pFunc(writer, argument);
}

void CBuiltInCommand::OnTimeout(int /*nIndex*/) {}

int CBuiltInCommand::SetCommandFunc(int nIndex, KxCommandFunc pFunc) {
  if (nIndex < 0 || nIndex >= KX_BUILTIN_COMMAND_COUNT) return 0;
  m_table[nIndex].pFunc = pFunc;
  return 1;
}

int CBuiltInCommand::GetCommandCount() const { return KX_BUILTIN_COMMAND_COUNT; }

bool CBuiltInCommand::IsExistInstance(int nIndex) const {
  return nIndex >= 0 && nIndex < KX_BUILTIN_COMMAND_COUNT && m_table[nIndex].pFunc != nullptr;
}
