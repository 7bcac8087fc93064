// Reads back what was written to an event log of the current system state
// directory (KX_SYSTEM_ROOT), as the tests that check the agent's entries need it.
#pragma once

#include <string>
#include <vector>

#include "platform/event_log.h"

// One record: its ID, type, source and first insertion string.
struct CEventRecord {
  DWORD dwEventID = 0;
  WORD wEventType = 0;
  std::string strSource;
  std::string strFirstString;
};

// Every record of the log, oldest first; empty when the log cannot be opened.
inline std::vector<CEventRecord> ReadEventLogRecords(const char* lpLogName) {
  std::vector<CEventRecord> records;
  kx::HEVENTLOG hLog = nullptr;
  if (kx::OpenEventLogByName(lpLogName, &hLog) != 0) return records;
  DWORD dwCount = 0;
  DWORD dwOldest = 0;
  kx::GetNumberOfEventLogRecords(hLog, &dwCount);
  kx::GetOldestEventLogRecord(hLog, &dwOldest);
  for (DWORD dwRecord = dwOldest; dwRecord < dwOldest + dwCount; ++dwRecord) {
    std::vector<char> buffer(64 * 1024);
    DWORD dwRead = 0;
    DWORD dwNeeded = 0;
    if (kx::ReadEventLogRecord(hLog, dwRecord, buffer.data(), static_cast<DWORD>(buffer.size()), &dwRead,
                               &dwNeeded) != 0) {
      continue;
    }
    const kx::EVENTLOGRECORD* pRecord = reinterpret_cast<const kx::EVENTLOGRECORD*>(buffer.data());
    CEventRecord record;
    record.dwEventID = pRecord->EventID;
    record.wEventType = pRecord->EventType;
    record.strSource = buffer.data() + sizeof(kx::EVENTLOGRECORD);
    if (pRecord->NumStrings > 0) record.strFirstString = buffer.data() + pRecord->StringOffset;
    records.push_back(record);
  }
  kx::CloseEventLogHandle(hLog);
  return records;
}
