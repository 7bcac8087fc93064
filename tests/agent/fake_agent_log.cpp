#include "fake_agent_log.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

CTestAgentLog::CTestAgentLog() : m_pPrevious(nullptr) {
  char tmpl[] = "/tmp/kx-agentlog-XXXXXX";
  if (mkdtemp(tmpl) != nullptr) m_strDir = tmpl;
  m_setting.SetLogFileDir(m_strDir.c_str());
  m_setting.SetLogEnabled(TRUE);
  m_setting.SetErrorLogEnabled(TRUE);
  m_setting.SetWarningLogEnabled(TRUE);
  m_setting.SetInfoLogEnabled(TRUE);
  m_setting.SetDebugLogEnabled(TRUE);
  m_setting.SetLogFileLimit(FALSE);
  m_pPrevious = CKxAgentLog::ReplaceInstanceForTest(nullptr);
}

CTestAgentLog::~CTestAgentLog() {
  CKxAgentLog::ReplaceInstanceForTest(m_pPrevious);
  m_pInstalled.reset();
  if (!m_strDir.empty()) {
    std::string cmd = "rm -rf " + m_strDir;
    if (std::system(cmd.c_str()) != 0) {
      // Leaving a temporary directory behind is harmless.
    }
  }
}

void CTestAgentLog::InstallLog(CKxAgentLog* pLog) {
  CKxAgentLog::ReplaceInstanceForTest(pLog);
  m_pInstalled.reset(pLog);
}

std::string CTestAgentLog::Read(const char* lpFileName) const {
  std::ifstream in(m_strDir + "/" + lpFileName, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool CTestAgentLog::Exists(const char* lpFileName) const {
  return access((m_strDir + "/" + lpFileName).c_str(), F_OK) == 0;
}
