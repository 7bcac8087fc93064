// Writing event records: a source opened for writing and the records it reports.
#include <cstring>
#include <ctime>
#include <memory>

#include "emulation/event_log_store.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/system_info.h"
#include "platform/text_encoding.h"

namespace kx {
namespace emulation {

namespace {

const std::string& ComputerName() {
  static const std::string strName = Utf8ToCp932(QueryComputerName());
  return strName;
}

}  // namespace

// ---------------------------------------------------------------------------
// Writing

namespace {

struct CEmulatedEventSource : CEventSourceData {
  HEVENTLOG hLog = nullptr;
  std::string strSource;
  ~CEmulatedEventSource() override { delete hLog; }
};

}  // namespace

DWORD CEventLogEmulation::OpenSource(const char* lpSourceName, HEVENTSOURCE* phSource) {
  std::string strLog;
  if (FindSourceLog(lpSourceName, &strLog) != ERROR_SUCCESS) strLog = "Application";
  std::unique_ptr<CEmulatedEventSource> pSource(new CEmulatedEventSource());
  DWORD dwError = OpenLog(strLog.c_str(), &pSource->hLog);
  if (dwError != ERROR_SUCCESS) return dwError;
  pSource->strSource = lpSourceName;
  *phSource = pSource.release();
  return ERROR_SUCCESS;
}

DWORD CEventLogEmulation::ReportEntry(HEVENTSOURCE hEventSource, WORD wType, WORD wCategory, DWORD dwEventID,
                                      WORD wNumStrings, const char** lpStrings) {
  const CEmulatedEventSource* hSource = static_cast<const CEmulatedEventSource*>(hEventSource);
  const std::string& strComputer = ComputerName();
  std::string strRecord(sizeof(EVENTLOGRECORD), '\0');
  strRecord.append(hSource->strSource.c_str(), hSource->strSource.size() + 1);
  strRecord.append(strComputer.c_str(), strComputer.size() + 1);
  while (strRecord.size() % 4 != 0) strRecord += '\0';
  DWORD dwStringOffset = static_cast<DWORD>(strRecord.size());
  for (WORD i = 0; i < wNumStrings; ++i) {
    const char* lpString = lpStrings[i] != nullptr ? lpStrings[i] : "";
    size_t cbString = std::strlen(lpString);
    if (strRecord.size() + cbString > kMaxRecordSize) return ERROR_INVALID_PARAMETER;
    strRecord.append(lpString, cbString + 1);
  }
  DWORD dwDataOffset = static_cast<DWORD>(strRecord.size());
  while (strRecord.size() % 4 != 0) strRecord += '\0';
  DWORD dwLength = static_cast<DWORD>(strRecord.size() + 4);
  strRecord.append(reinterpret_cast<const char*>(&dwLength), 4);

  EVENTLOGRECORD header;
  std::memset(&header, 0, sizeof(header));
  header.Length = dwLength;
  header.Reserved = kEventLogRecordMagic;
  header.TimeGenerated = static_cast<DWORD>(std::time(nullptr));
  header.TimeWritten = header.TimeGenerated;
  header.EventID = dwEventID;
  header.EventType = wType;
  header.NumStrings = wNumStrings;
  header.EventCategory = wCategory;
  header.StringOffset = dwStringOffset;
  header.UserSidOffset = dwStringOffset;
  header.DataOffset = dwDataOffset;
  std::memcpy(&strRecord[0], &header, sizeof(header));
  return AppendRecord(hSource->hLog, &strRecord);
}

}  // namespace emulation
}  // namespace kx
