// CEventLogPush: event-log notification on the terminal. While it is on, the
// event-log watcher reports each range of new records and this writes every
// record as one line in the notification format.
#pragma once

#include <atomic>

#include "EventLogManager.h"
#include "platform/kx_types.h"

class CWriter;

class CEventLogPush : public CEventLogListener {
 public:
  // Listens to `manager` and writes to `writer`; both outlive this object.
  CEventLogPush(CEventLogManager& manager, CWriter& writer, int nNotification);
  CEventLogPush(const CEventLogPush&) = delete;
  CEventLogPush& operator=(const CEventLogPush&) = delete;

  // Starts the watcher when notification is on.
  void Start();
  int IsNotification() const { return m_nNotification.load(); }
  // Switches notification on (non-zero) or off, starting or stopping the
  // watcher for the running agent.
  void SetNotification(int nOn);

  // CEventLogListener: watcher thread, manager lock held.
  void OnChangeEventLog(const char* lpLogName, DWORD dwStartRecordNo, DWORD dwEndRecordNo) override;

 private:
  CEventLogManager& m_manager;
  CWriter& m_writer;
  std::atomic<int> m_nNotification;
};
