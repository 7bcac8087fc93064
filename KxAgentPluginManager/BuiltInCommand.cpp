#include "KxAgentPluginManager/BuiltInCommand.h"

#include <string>

#include "platform/text_encoding.h"

namespace {

struct CDefinitionRow {
  KxBuiltInCommandId nId;
  const char* lpDefinition;
};

// One row per command, in command ID order.
constexpr CDefinitionRow kDefinitions[] = {
    {KX_BUILTIN_SHOW_VERSION, "show version"},
    {KX_BUILTIN_SHOW_DATE, "show date"},
    {KX_BUILTIN_SET_ENCODING, "set encoding {ENCODING:sjis|eucjp}"},
    {KX_BUILTIN_SET_TIMEOUT, "set timeout [SEC:180]"},
    {KX_BUILTIN_DOSPROMPT, "dosprompt"},
    {KX_BUILTIN_LOGOFF, "logoff"},
    {KX_BUILTIN_SHUTDOWN, "shutdown [DELAY:180]"},
    {KX_BUILTIN_REBOOT, "reboot [DELAY:180]"},
    {KX_BUILTIN_ABORT, "abort"},
    {KX_BUILTIN_SHOW_DISKINFO, "show diskinfo [OPTION:hdd]"},
    {KX_BUILTIN_SHOW_EVENTLOG, "show eventlog {LOGNAME:application|security|system} [LINE:10]"},
    {KX_BUILTIN_SET_EVENTLOG_NOTIFICATION, "set eventlog-notification {SWITCH:on|off}"},
    {KX_BUILTIN_SHOW_PROCESS, "show process"},
    {KX_BUILTIN_KILL, "kill {PID}"},
    {KX_BUILTIN_SHOW_SERVICE, "show service [NAME_DISPLAY_OPTION:full]"},
    {KX_BUILTIN_START_SERVICE, "start service {SERVICE_NAME}"},
    {KX_BUILTIN_STOP_SERVICE, "stop service {SERVICE_NAME}"},
};

constexpr bool IsInIdOrder() {
  for (int i = 0; i < static_cast<int>(sizeof(kDefinitions) / sizeof(kDefinitions[0])); ++i) {
    if (kDefinitions[i].nId != i) return false;
  }
  return true;
}
static_assert(sizeof(kDefinitions) / sizeof(kDefinitions[0]) == CBuiltInCommand::KX_BUILTIN_COMMAND_COUNT,
              "one definition per built-in command");
static_assert(IsInIdOrder(), "definitions in command ID order");

const char kInfoName[] = "標準コマンド";
const char kInfoDescription[] = "Kestrix Agent for Windows が提供する標準コマンドセットです。";
const char kInfoCopyright[] = "Copyright (C) Kestrix Agent for Windows developers. All rights reserved.";

}  // namespace

CBuiltInCommand::CBuiltInCommand() {
  for (int i = 0; i < KX_BUILTIN_COMMAND_COUNT; ++i) {
    m_table[i].nIndex = i;
    m_table[i].lpDefinition = kDefinitions[i].lpDefinition;
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
