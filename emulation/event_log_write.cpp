// Writing event records: a source opened for writing and the records it reports.
#include <cstring>
#include <ctime>
#include <memory>

#include "emulation/event_log_store.h"
#include "platform/event_log_record.h"
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
  EVENT_RECORD_FIELDS fields;
  fields.dwTimeGenerated = static_cast<DWORD>(std::time(nullptr));
  fields.dwTimeWritten = fields.dwTimeGenerated;
  fields.dwEventID = dwEventID;
  fields.wEventType = wType;
  fields.wEventCategory = wCategory;
  fields.strSourceName = hSource->strSource;
  fields.strComputerName = ComputerName();
  fields.strings.assign(lpStrings, lpStrings + wNumStrings);
  std::string strRecord;
  DWORD dwError = BuildEventLogRecord(fields, &strRecord);
  if (dwError != ERROR_SUCCESS) return dwError;
  return AppendRecord(hSource->hLog, &strRecord);
}

}  // namespace emulation
}  // namespace kx
