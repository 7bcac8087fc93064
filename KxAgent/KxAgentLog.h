// The agent's log: four level files (error, warning, information, debug) and
// the few messages the agent writes to the system event log.
#pragma once

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>

#include "platform/append_file.h"
#include "platform/kx_types.h"
#include "platform/sync.h"

class CKxAgentLogSetting;
class CKxAgentLog;

#if defined(__GNUC__)
#define KX_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KX_PRINTF_FORMAT(fmt, args)
#endif

// One level's log file, opened for appending at construction. Entries are
// dropped when the file could not be opened or has reached its size limit.
// Any thread may write; a lock per file covers the size check, the write and
// the close at the limit.
class CLogFile {
 public:
  // Opens (creating when missing, mode 0640) `lpPath` for appending; a link or
  // anything but a plain file there is not opened. On failure the file stays
  // closed and every entry is dropped. No maximum size, no listener.
  CLogFile(const char* lpPath, const char* lpLevelName, BOOL bLimit);
  ~CLogFile();
  CLogFile(const CLogFile&) = delete;
  CLogFile& operator=(const CLogFile&) = delete;

  // The size in bytes at which the file stops taking entries; -1 for no limit.
  void SetMaxSize(long lMaxSize);
  long GetMaxSize() const;
  // Told through OnLogFileLimit when the file reaches its maximum size; may be null.
  void SetListener(CKxAgentLog* pListener);
  // "ERROR", "WARN", "INFO" or "DEBUG".
  const char* GetLevelName() const;
  const char* GetPath() const;
  // Why the file could not be opened; ERROR_SUCCESS when it was.
  DWORD GetOpenError() const;
  // TRUE while the file takes entries (open and not yet at its limit).
  BOOL IsOpen();
  // Appends "yyyy-mm-dd hh:mm:ss LEVEL [source] text" with CR, LF and TAB removed
  // and CR LF added. When the file reaches its maximum size with this entry (or
  // is found there), it is closed and the listener told once, after the lock is released.
  void Write(const char* lpSource, const char* lpText);

  // Test hook: the clock that stamps entries; null restores the local time.
  typedef void (*TimeSource)(kx::SYSTEMTIME* lpTime);
  static void SetTimeSourceForTest(TimeSource pfnTimeSource);

 private:
  // Closes the file when it has reached its maximum size; TRUE when it did.
  // Called with m_mutex held.
  BOOL CloseAtLimit();

  kx::CAppendFile m_file;
  DWORD m_dwOpenError;
  long m_lMaxSize;
  BOOL m_bLimit;
  std::string m_strLevelName;
  std::string m_strPath;
  CKxAgentLog* m_pListener;
  std::mutex m_mutex;
};

// The process-wide agent log. Created once from the configuration's log
// setting and kept until the process ends. The entry points are static: they
// reach the one instance and do nothing while there is none.
class CKxAgentLog {
 public:
  // Opens the four level files named by `pSetting` (all four, whatever the
  // enabled flags say) and reads the flags. A file of an enabled level that
  // cannot be opened is reported once, on standard error and as an event-log
  // warning; the other levels go on. Prefer GetInstance; constructing
  // directly is for tests and subclasses, which install themselves with
  // ReplaceInstanceForTest.
  explicit CKxAgentLog(CKxAgentLogSetting* pSetting);
  virtual ~CKxAgentLog();
  CKxAgentLog(const CKxAgentLog&) = delete;
  CKxAgentLog& operator=(const CKxAgentLog&) = delete;

  // The process-wide log, created from `pSetting` on the first call. Null when
  // none exists and `pSetting` is null. Any thread.
  static CKxAgentLog* GetInstance(CKxAgentLogSetting* pSetting);
  // The process-wide log, or null when none was created yet.
  static CKxAgentLog* GetInstance();
  // Test hook: makes `pLog` (may be null) the process-wide log and returns the
  // previous one, which the caller then owns. Not for use while other threads log.
  static CKxAgentLog* ReplaceInstanceForTest(CKxAgentLog* pLog);

  // Level entry points: when the log exists, logging is enabled and the level
  // is enabled, the printf-style text is written to the level's file under
  // `lpSource` (a facility word such as "logon" or "Class::Operation()").
  static void LogError(const char* lpSource, const char* lpFormat, ...) KX_PRINTF_FORMAT(2, 3);
  static void LogWarning(const char* lpSource, const char* lpFormat, ...) KX_PRINTF_FORMAT(2, 3);
  static void LogInfo(const char* lpSource, const char* lpFormat, ...) KX_PRINTF_FORMAT(2, 3);
  static void LogDebug(const char* lpSource, const char* lpFormat, ...) KX_PRINTF_FORMAT(2, 3);
  // As LogError and LogDebug, with a finished text that is not formatted.
  static void LogErrorText(const char* lpSource, const char* lpText);
  static void LogDebugText(const char* lpSource, const char* lpText);

  // One entry in the system event log under the source "KxAgent": `wType` is an
  // EVENTLOG_*_TYPE and `lpMessage` the whole message. Failures go to the level
  // files under "Internal". Works (without its debug entry) before the log exists.
  static void __LogEvent(WORD wType, const char* lpMessage);
  // Formats the text (cut at 1023 bytes) and writes it as an event-log warning.
  static void LogEventWarning(const char* lpFormat, ...) KX_PRINTF_FORMAT(1, 2);

  // The system configuration file could not be read and the defaults are in
  // force: `lpProblem` (which file, why) goes to the error level (source
  // "initialize"), to standard error and to the event log as an error, since
  // with the default setting the level files are usually off. Any thread.
  static void ReportUnreadableConfig(const char* lpProblem);

  // Called once when `pFile` stops taking entries. Reason 1 (the file reached its
  // maximum size) writes the event-log warning that names the file, its limit in
  // KB and its level; other reasons do nothing. Called on the writing thread.
  virtual void OnLogFileLimit(CLogFile* pFile, int nReason);

 private:
  enum Level { kError, kWarning, kInfo, kDebug };
  static void WriteEntry(Level level, const char* lpSource, const char* lpText);
  static void FormatEntry(Level level, const char* lpSource, const char* lpFormat, va_list args);
  CLogFile* GetFile(Level level) const;
  BOOL IsLevelEnabled(Level level) const;
  static void ReportOpenFailure(const CLogFile& file);
  // Standard error gets strConsoleText (for whoever started the program), the
  // event log strEventText: said where the level files may not be.
  static void ReportOutsideTheFiles(WORD wType, const std::string& strConsoleText, const std::string& strEventText);

  CLogFile* m_pErrorFile;
  CLogFile* m_pWarningFile;
  CLogFile* m_pInfoFile;
  CLogFile* m_pDebugFile;
  BOOL m_bLogEnabled;
  BOOL m_bErrorEnabled;
  BOOL m_bWarningEnabled;
  BOOL m_bInfoEnabled;
  BOOL m_bDebugEnabled;

  static std::atomic<CKxAgentLog*> s_pInstance;
};
