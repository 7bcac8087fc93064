#include "KxAgentLog.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentMessages.h"
#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "platform/event_log.h"
#include "platform/native_path.h"
#include "platform/text_encoding.h"

namespace {

const char* const kEventSource = kAgentEventSource;
const DWORD kEventIdInformation = kAgentEventIdInformation;
const DWORD kEventIdWarning = kAgentEventIdWarning;
const DWORD kEventIdError = kAgentEventIdError;
const int kLimitReasonMaxSize = 1;

std::atomic<CLogFile::TimeSource> g_pfnTimeSource{nullptr};
std::mutex g_instanceMutex;

std::string FormatText(const char* lpFormat, va_list args) {
  if (lpFormat == nullptr) return std::string();
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int nLength = std::vsnprintf(small, sizeof(small), lpFormat, copy);
  va_end(copy);
  if (nLength < 0) return std::string();
  if (static_cast<size_t>(nLength) < sizeof(small)) return std::string(small, nLength);
  std::vector<char> large(static_cast<size_t>(nLength) + 1);
  std::vsnprintf(large.data(), large.size(), lpFormat, args);
  return std::string(large.data(), nLength);
}

// A notice from its code page 932 format, which is no literal.
std::string FormatNotice(const char* lpFormat, ...) {
  va_list args;
  va_start(args, lpFormat);
  std::string strText = FormatText(lpFormat, args);
  va_end(args);
  return strText;
}

// The notice of a log file that cannot be opened, in code page 932: its path,
// its level and the system's reason.
const std::string& OpenFailureNoticeFormat() {
  static const std::string strFormat =
      kx::Utf8ToCp932("ログファイル %s を開けないため、ファシリティ %s のログ出力を停止します。(%s)");
  return strFormat;
}

// The notice of a system configuration that cannot be read (which file, why).
const std::string& UnreadableConfigNoticeFormat() {
  static const std::string strFormat = kx::Utf8ToCp932(
      "システム設定ファイルを読み込めなかったため、既定の設定で開始します。(%s)");
  return strFormat;
}

// The limit notice in code page 932, converted once from the UTF-8 source.
const std::string& LimitNoticeFormat() {
  static const std::string strFormat = kx::Utf8ToCp932(
      "ログファイル %s の容量が規定値(%ld KB)に達したため、ファシリティ %s "
      "のログ出力を停止します。ログ出力を有効にするには、Kestrix Agent for "
      "Windowsサービスを停止後、該当ファイルを移動・または削除し、再度Kestrix Agent "
      "for Windowsサービスを起動してください。");
  return strFormat;
}

}  // namespace

// ---------------------------------------------------------------------------
// CLogFile

CLogFile::CLogFile(const char* lpPath, const char* lpLevelName, BOOL bLimit)
    : m_dwOpenError(ERROR_SUCCESS),
      m_lMaxSize(-1),
      m_bLimit(bLimit),
      m_strLevelName(lpLevelName != nullptr ? lpLevelName : ""),
      m_strPath(lpPath != nullptr ? lpPath : ""),
      m_pListener(nullptr) {
  // A file that cannot be opened (its directory is missing, a link was planted
  // under its name) silences the level; the log object reports it.
  m_dwOpenError = m_file.Open(m_strPath.c_str());
}

CLogFile::~CLogFile() {}

void CLogFile::SetMaxSize(long lMaxSize) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_lMaxSize = lMaxSize;
}

long CLogFile::GetMaxSize() const { return m_lMaxSize; }

void CLogFile::SetListener(CKxAgentLog* pListener) { m_pListener = pListener; }

const char* CLogFile::GetLevelName() const { return m_strLevelName.c_str(); }

const char* CLogFile::GetPath() const { return m_strPath.c_str(); }

DWORD CLogFile::GetOpenError() const { return m_dwOpenError; }

BOOL CLogFile::IsOpen() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_file.IsOpen();
}

void CLogFile::SetTimeSourceForTest(TimeSource pfnTimeSource) { g_pfnTimeSource = pfnTimeSource; }

BOOL CLogFile::CloseAtLimit() {
  if (!m_bLimit || m_lMaxSize < 0) return FALSE;
  long long llSize = 0;
  if (m_file.GetSize(&llSize) != ERROR_SUCCESS) return FALSE;
  // At the limit, not only past it: a file that ends exactly on its limit would
  // otherwise stop taking entries without the notice ever being given.
  if (llSize < m_lMaxSize) return FALSE;
  m_file.Close();
  return TRUE;
}

void CLogFile::Write(const char* lpSource, const char* lpText) {
  BOOL bReachedLimit = FALSE;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file.IsOpen()) return;
    // A file already at its limit (left so by an earlier run) is closed and
    // reported like one that reaches it now.
    bReachedLimit = CloseAtLimit();
    if (!bReachedLimit) {
      kx::SYSTEMTIME now;
      TimeSource pfnTimeSource = g_pfnTimeSource.load();
      if (pfnTimeSource != nullptr) {
        pfnTimeSource(&now);
      } else {
        kx::GetLocalTime(&now);
      }
      char header[64];
      std::snprintf(header, sizeof(header), "%d-%02d-%02d %02d:%02d:%02d %-5s ", now.wYear,
                    now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                    m_strLevelName.c_str());
      std::string raw = header;
      raw += '[';
      raw += lpSource != nullptr ? lpSource : "";
      raw += "] ";
      raw += lpText != nullptr ? lpText : "";
      std::string line;
      line.reserve(raw.size() + 2);
      for (char c : raw) {
        if (c != '\r' && c != '\n' && c != '\t') line += c;
      }
      line += "\r\n";
      m_file.Write(line.data(), static_cast<DWORD>(line.size()));
      bReachedLimit = CloseAtLimit();
    }
  }
  // Outside the lock: the listener writes entries itself, possibly to this level.
  if (bReachedLimit && m_pListener != nullptr) {
    m_pListener->OnLogFileLimit(this, kLimitReasonMaxSize);
  }
}

// ---------------------------------------------------------------------------
// CKxAgentLog

std::atomic<CKxAgentLog*> CKxAgentLog::s_pInstance{nullptr};

CKxAgentLog::CKxAgentLog(CKxAgentLogSetting* pSetting)
    : m_pErrorFile(nullptr),
      m_pWarningFile(nullptr),
      m_pInfoFile(nullptr),
      m_pDebugFile(nullptr),
      m_bLogEnabled(FALSE),
      m_bErrorEnabled(FALSE),
      m_bWarningEnabled(FALSE),
      m_bInfoEnabled(FALSE),
      m_bDebugEnabled(FALSE) {
  if (pSetting == nullptr) return;
  m_bLogEnabled = pSetting->IsLogEnabled();
  m_bErrorEnabled = pSetting->IsErrorLogEnabled();
  m_bWarningEnabled = pSetting->IsWarningLogEnabled();
  m_bInfoEnabled = pSetting->IsInfoLogEnabled();
  m_bDebugEnabled = pSetting->IsDebugLogEnabled();
  BOOL bLimit = pSetting->IsLogFileLimit();
  m_pErrorFile = new CLogFile(pSetting->GetErrorLogFilePath(), "ERROR", bLimit);
  m_pWarningFile = new CLogFile(pSetting->GetWarningLogFilePath(), "WARN", bLimit);
  m_pInfoFile = new CLogFile(pSetting->GetInfoLogFilePath(), "INFO", bLimit);
  m_pDebugFile = new CLogFile(pSetting->GetDebugLogFilePath(), "DEBUG", bLimit);
  for (CLogFile* pFile : {m_pErrorFile, m_pWarningFile, m_pInfoFile, m_pDebugFile}) {
    pFile->SetMaxSize(bLimit ? pSetting->GetLogFileMaxSize() : -1);
    pFile->SetListener(bLimit ? this : nullptr);
  }
  for (Level level : {kError, kWarning, kInfo, kDebug}) {
    const CLogFile* pFile = GetFile(level);
    if (pFile->GetOpenError() != ERROR_SUCCESS && IsLevelEnabled(level)) ReportOpenFailure(*pFile);
  }
}

CKxAgentLog::~CKxAgentLog() {
  delete m_pErrorFile;
  delete m_pWarningFile;
  delete m_pInfoFile;
  delete m_pDebugFile;
}

CKxAgentLog* CKxAgentLog::GetInstance(CKxAgentLogSetting* pSetting) {
  std::lock_guard<std::mutex> lock(g_instanceMutex);
  CKxAgentLog* pLog = s_pInstance.load();
  if (pLog == nullptr && pSetting != nullptr) {
    pLog = new (std::nothrow) CKxAgentLog(pSetting);
    s_pInstance = pLog;
  }
  return pLog;
}

CKxAgentLog* CKxAgentLog::GetInstance() { return s_pInstance.load(); }

CKxAgentLog* CKxAgentLog::ReplaceInstanceForTest(CKxAgentLog* pLog) {
  std::lock_guard<std::mutex> lock(g_instanceMutex);
  return s_pInstance.exchange(pLog);
}

void CKxAgentLog::ReportOutsideTheFiles(WORD wType, const std::string& strConsoleText,
                                        const std::string& strEventText) {
  std::fprintf(stderr, "KxAgent: %s\n", strConsoleText.c_str());
  std::fflush(stderr);
  __LogEvent(wType, strEventText.c_str());
}

// The level writes nothing this run, and nothing in its own file can say so.
void CKxAgentLog::ReportOpenFailure(const CLogFile& file) {
  std::string strReason = kx::FormatSystemMessage(file.GetOpenError());
  if (strReason.empty()) strReason = "error " + std::to_string(file.GetOpenError());
  ReportOutsideTheFiles(EVENTLOG_WARNING_TYPE,
                        std::string("the ") + file.GetLevelName() + " log file " + kx::ToNativePath(file.GetPath()) +
                            " cannot be opened: " + strReason,
                        FormatNotice(OpenFailureNoticeFormat().c_str(), file.GetPath(), file.GetLevelName(),
                                     strReason.c_str()));
}

void CKxAgentLog::ReportUnreadableConfig(const char* lpProblem) {
  if (lpProblem == nullptr) lpProblem = "";
  LogError("initialize", "The system configuration cannot be read; the default settings are used. (%s)", lpProblem);
  ReportOutsideTheFiles(EVENTLOG_ERROR_TYPE,
                        std::string("the system configuration cannot be read; the default settings are used: ") +
                            kx::ToNativePath(lpProblem),
                        FormatNotice(UnreadableConfigNoticeFormat().c_str(), lpProblem));
}

CLogFile* CKxAgentLog::GetFile(Level level) const {
  switch (level) {
    case kError:
      return m_pErrorFile;
    case kWarning:
      return m_pWarningFile;
    case kInfo:
      return m_pInfoFile;
    case kDebug:
      return m_pDebugFile;
  }
  return nullptr;
}

BOOL CKxAgentLog::IsLevelEnabled(Level level) const {
  if (!m_bLogEnabled) return FALSE;
  switch (level) {
    case kError:
      return m_bErrorEnabled;
    case kWarning:
      return m_bWarningEnabled;
    case kInfo:
      return m_bInfoEnabled;
    case kDebug:
      return m_bDebugEnabled;
  }
  return FALSE;
}

void CKxAgentLog::WriteEntry(Level level, const char* lpSource, const char* lpText) {
  CKxAgentLog* pLog = s_pInstance.load();
  if (pLog == nullptr || !pLog->IsLevelEnabled(level)) return;
  CLogFile* pFile = pLog->GetFile(level);
  if (pFile != nullptr) pFile->Write(lpSource, lpText);
}

void CKxAgentLog::FormatEntry(Level level, const char* lpSource, const char* lpFormat,
                              va_list args) {
  CKxAgentLog* pLog = s_pInstance.load();
  // Formatting costs more than the check; skip it for a silent level.
  if (pLog == nullptr || !pLog->IsLevelEnabled(level)) return;
  WriteEntry(level, lpSource, FormatText(lpFormat, args).c_str());
}

void CKxAgentLog::LogError(const char* lpSource, const char* lpFormat, ...) {
  va_list args;
  va_start(args, lpFormat);
  FormatEntry(kError, lpSource, lpFormat, args);
  va_end(args);
}

void CKxAgentLog::LogWarning(const char* lpSource, const char* lpFormat, ...) {
  va_list args;
  va_start(args, lpFormat);
  FormatEntry(kWarning, lpSource, lpFormat, args);
  va_end(args);
}

void CKxAgentLog::LogInfo(const char* lpSource, const char* lpFormat, ...) {
  va_list args;
  va_start(args, lpFormat);
  FormatEntry(kInfo, lpSource, lpFormat, args);
  va_end(args);
}

void CKxAgentLog::LogDebug(const char* lpSource, const char* lpFormat, ...) {
  va_list args;
  va_start(args, lpFormat);
  FormatEntry(kDebug, lpSource, lpFormat, args);
  va_end(args);
}

void CKxAgentLog::LogErrorText(const char* lpSource, const char* lpText) {
  WriteEntry(kError, lpSource, lpText);
}

void CKxAgentLog::LogDebugText(const char* lpSource, const char* lpText) {
  WriteEntry(kDebug, lpSource, lpText);
}

void CKxAgentLog::__LogEvent(WORD wType, const char* lpMessage) {
  if (lpMessage == nullptr) lpMessage = "";
  LogDebug("CKxAgentLog::__LogEvent()", "wType=%d, lpMessage=%s", wType, lpMessage);
  // The source's catalogue beside the program is registered on first use, so
  // readers of the log can resolve the agent's message IDs.
  RegisterAgentEventSourceOnce();
  kx::HEVENTSOURCE hSource = nullptr;
  if (kx::RegisterEventLogSource(kEventSource, &hSource) != ERROR_SUCCESS) {
    LogErrorText("Internal", "CKxAgentLog::__LogEvent() : RegisterEventSource() error!!");
    return;
  }
  DWORD dwEventID = kEventIdInformation;
  if (wType == EVENTLOG_ERROR_TYPE) {
    dwEventID = kEventIdError;
  } else if (wType == EVENTLOG_WARNING_TYPE) {
    dwEventID = kEventIdWarning;
  }
  const char* strings[1] = {lpMessage};
  DWORD dwResult = kx::ReportEventLogEntry(hSource, wType, 0, dwEventID, 1, strings);
  if (dwResult != ERROR_SUCCESS) {
    LogWarning("Internal", "CKxAgentLog::__LogEvent() : ReportEvent() error!! GetLastError()=%ld",
               static_cast<long>(dwResult));
  }
  kx::DeregisterEventLogSource(hSource);
}

void CKxAgentLog::LogEventWarning(const char* lpFormat, ...) {
  char text[1024] = "";
  va_list args;
  va_start(args, lpFormat);
  if (lpFormat != nullptr) std::vsnprintf(text, sizeof(text), lpFormat, args);
  va_end(args);
  __LogEvent(EVENTLOG_WARNING_TYPE, text);
}

void CKxAgentLog::OnLogFileLimit(CLogFile* pFile, int nReason) {
  if (pFile == nullptr || nReason != kLimitReasonMaxSize) return;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  LogEventWarning(LimitNoticeFormat().c_str(), pFile->GetPath(), pFile->GetMaxSize() / 1024,
                  pFile->GetLevelName());
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}
