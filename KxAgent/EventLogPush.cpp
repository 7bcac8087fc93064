#include "EventLogPush.h"

#include "KxAgentLog.h"
#include "KxAgentPluginManager/Writer.h"

CEventLogPush::CEventLogPush(CEventLogManager& manager, CWriter& writer, int nNotification)
    : m_manager(manager), m_writer(writer), m_nNotification(nNotification) {
  m_manager.SetListener(this);
}

void CEventLogPush::Start() {
  if (m_nNotification != 0) m_manager.StartWatch();
}

void CEventLogPush::SetNotification(int nOn) {
  m_nNotification = nOn != 0 ? 1 : 0;
  if (nOn != 0) {
    if (!m_manager.IsWatching()) m_manager.StartWatch();
  } else if (m_manager.IsWatching()) {
    m_manager.StopWatch();
  }
}

void CEventLogPush::OnChangeEventLog(const char* lpLogName, DWORD dwStartRecordNo, DWORD dwEndRecordNo) {
  static const size_t kNotificationMax = 4000;
  if (dwStartRecordNo > dwEndRecordNo) return;
  char szRecord[4096];
  for (DWORD dwRecord = dwStartRecordNo;; ++dwRecord) {
    if (!m_manager.GetEventLogMessage(lpLogName, dwRecord, szRecord, 1)) {
      CKxAgentLog::LogError("Internal",
                            "CKestrixAgent::OnChangeEventLog() : m_pLogManager->GetEventLogMessage() "
                            "error!! (lpLogName=%s, dwStartRecordNo=%ld, dwEndRecordNo=%ld)",
                            lpLogName, static_cast<long>(dwStartRecordNo),
                            static_cast<long>(dwEndRecordNo));
      return;
    }
    szRecord[kNotificationMax] = '\0';
    m_writer.WriteLine(szRecord);
    if (dwRecord == dwEndRecordNo) break;
  }
}
