// CTestAgentLog: installs a process-wide agent log that writes its four level
// files into a fresh temporary directory, and puts the previous log back when
// it goes out of scope. Tests read the files to see what was logged.
#pragma once

#include <memory>
#include <string>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentLog.h"

class CTestAgentLog {
 public:
  // All levels enabled, no size limit; no log is installed until Install.
  CTestAgentLog();
  ~CTestAgentLog();

  // The setting the log is (re)built from: change it, then Install.
  CKxAgentLogSetting& Setting() { return m_setting; }
  // Builds a log of class T (CKxAgentLog or a subclass) from Setting() and
  // makes it the process-wide log; this object owns it.
  template <class T>
  T* Install() {
    T* pLog = new T(&m_setting);
    InstallLog(pLog);
    return pLog;
  }
  // The directory holding the files, without a trailing separator.
  const std::string& Dir() const { return m_strDir; }
  // The whole content of "error.log", "warning.log", "info.log" or "debug.log".
  std::string Read(const char* lpFileName) const;
  bool Exists(const char* lpFileName) const;

 private:
  void InstallLog(CKxAgentLog* pLog);

  std::string m_strDir;
  CKxAgentLogSetting m_setting;
  std::unique_ptr<CKxAgentLog> m_pInstalled;
  CKxAgentLog* m_pPrevious;
};
