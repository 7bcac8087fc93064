// The event logs emulated in the system state directory:
//
//   <root>/eventlog/<Log>.lock        flock: shared for readers, exclusive for writers
//   <root>/eventlog/<Log>.idx         64-byte header, then one 16-byte entry per record
//   <root>/eventlog/<Log>.<gen>.dat   the records, EVENTLOGRECORD layout, back to back
//   <root>/eventlog/sources/<Log>/<Source>   a source registration, Name=Value lines
//
// Entry i of the index belongs to record (base + i), so a record is found with
// one read of the index and one of the data file. A record is committed by its
// index entry, written after its data; everything under the exclusive lock, so
// concurrent writers cannot interleave and readers never see half a record.
// Clearing and compaction build a new generation of both files and rename the
// index into place, so a crash leaves the old log or the new one, never a mix.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/event_log_catalogue.h"
#include "platform/posix_error.h"
#include "platform/system_info.h"
#include "platform/system_root.h"
#include "platform/text_encoding.h"

namespace kx {

namespace {

const char kIndexMagic[8] = {'K', 'X', 'E', 'V', 'L', 'O', 'G', '1'};
const DWORD kRecordMagic = 0x654c664c;
const off_t kHeaderSize = 64;
const off_t kEntrySize = 16;
const DWORD kMaxRecordSize = 256 * 1024;
// Compaction starts once this many dropped records sit before the oldest one
// and they outnumber the live ones, so each record is copied O(1) times.
const DWORD kCompactThreshold = 4096;
const size_t kMaxCatalogueSize = 16 * 1024 * 1024;

struct IndexHeader {
  char szMagic[8];
  DWORD dwGeneration;
  DWORD dwBaseRecord;    // record number of entry 0
  DWORD dwOldestRecord;  // records before it were dropped
  DWORD dwMaxRecords;    // 0: no maximum
  DWORD dwReserved[10];
};
static_assert(sizeof(IndexHeader) == kHeaderSize, "index header size");

struct IndexEntry {
  std::uint64_t qwOffset;
  DWORD dwLength;
  DWORD dwRecordNumber;
};
static_assert(sizeof(IndexEntry) == kEntrySize, "index entry size");

std::string EventLogDir() { return GetSystemRoot() + "/eventlog"; }

DWORD LastError() { return ErrnoToWinError(errno); }

bool ReadAt(int nFd, void* lpBuffer, size_t cbSize, off_t offset) {
  char* p = static_cast<char*>(lpBuffer);
  while (cbSize > 0) {
    ssize_t n = pread(nFd, p, cbSize, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    cbSize -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool WriteAt(int nFd, const void* lpData, size_t cbSize, off_t offset) {
  const char* p = static_cast<const char*>(lpData);
  while (cbSize > 0) {
    ssize_t n = pwrite(nFd, p, cbSize, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    cbSize -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

void CloseFd(int* pnFd) {
  if (*pnFd >= 0) close(*pnFd);
  *pnFd = -1;
}

// Holds a flock for one operation.
class CFileLock {
 public:
  CFileLock(int nFd, int nOperation) : m_nFd(nFd) {
    while (flock(m_nFd, nOperation) != 0 && errno == EINTR) {
    }
  }
  ~CFileLock() { flock(m_nFd, LOCK_UN); }
  CFileLock(const CFileLock&) = delete;
  CFileLock& operator=(const CFileLock&) = delete;

 private:
  int m_nFd;
};

DWORD GetDword(const BYTE* p) {
  DWORD dw;
  std::memcpy(&dw, p, sizeof(dw));
  return dw;
}

// Checks that a record read back is whole and its texts stay inside it.
bool IsRecordSound(const BYTE* lpRecord, DWORD dwLength, DWORD dwRecordNumber) {
  if (dwLength < sizeof(EVENTLOGRECORD) + 4) return false;
  EVENTLOGRECORD header;
  std::memcpy(&header, lpRecord, sizeof(header));
  if (header.Length != dwLength || GetDword(lpRecord + dwLength - 4) != dwLength) return false;
  if (header.Reserved != kRecordMagic || header.RecordNumber != dwRecordNumber) return false;
  DWORD dwEnd = dwLength - 4;
  if (header.StringOffset < sizeof(EVENTLOGRECORD) || header.StringOffset > header.DataOffset ||
      header.DataOffset > dwEnd || header.DataLength > dwEnd - header.DataOffset) {
    return false;
  }
  // Source and computer name: two NUL-terminated texts before the strings.
  DWORD dwPos = sizeof(EVENTLOGRECORD);
  for (int i = 0; i < 2; ++i) {
    const void* lpNul = std::memchr(lpRecord + dwPos, '\0', header.StringOffset - dwPos);
    if (lpNul == nullptr) return false;
    dwPos = static_cast<DWORD>(static_cast<const BYTE*>(lpNul) - lpRecord) + 1;
  }
  dwPos = header.StringOffset;
  for (WORD i = 0; i < header.NumStrings; ++i) {
    const void* lpNul = std::memchr(lpRecord + dwPos, '\0', header.DataOffset - dwPos);
    if (lpNul == nullptr) return false;
    dwPos = static_cast<DWORD>(static_cast<const BYTE*>(lpNul) - lpRecord) + 1;
  }
  return true;
}

// A source name must be usable as one file name and as a registry key name.
// Like a registry key name it may hold control characters: whoever shows one
// masks them.
bool IsValidSourceName(const char* lpName) {
  if (lpName == nullptr || lpName[0] == '\0') return false;
  if (std::strcmp(lpName, ".") == 0 || std::strcmp(lpName, "..") == 0) return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(lpName); *p != '\0'; ++p) {
    bool bLead = (*p >= 0x81 && *p <= 0x9F) || (*p >= 0xE0 && *p <= 0xFC);
    // Only a real trail byte (0x40-0x7E, 0x80-0xFC) belongs to the lead byte;
    // it may be 0x5C and is no separator then. '/' or a control character is never one.
    bool bTrail = (p[1] >= 0x40 && p[1] <= 0x7E) || (p[1] >= 0x80 && p[1] <= 0xFC);
    if (bLead && bTrail) {
      ++p;
      continue;
    }
    if (*p == '/' || *p == '\\') return false;
  }
  return true;
}

const std::string& ComputerName() {
  static const std::string strName = Utf8ToCp932(QueryComputerName());
  return strName;
}

}  // namespace

// ---------------------------------------------------------------------------
// Logs

struct CEventLogData {
  std::string strName;
  std::mutex mutex;  // guards the descriptors below
  int nLockFd = -1;
  int nIndexFd = -1;
  int nDataFd = -1;
  bool bIndexWritable = false;
  ino_t indexInode = 0;
  dev_t indexDevice = 0;
  DWORD dwGeneration = 0;

  // State read by Refresh.
  IndexHeader header;
  DWORD dwEntries = 0;

  std::string Path(const std::string& strSuffix) const {
    return EventLogDir() + "/" + strName + strSuffix;
  }
  std::string DataPath(DWORD dwGen) const { return Path("." + std::to_string(dwGen) + ".dat"); }
  DWORD NextRecord() const { return header.dwBaseRecord + dwEntries; }
  DWORD Count() const {
    DWORD dwNext = NextRecord();
    return dwNext >= header.dwOldestRecord ? dwNext - header.dwOldestRecord : 0;
  }

  ~CEventLogData() {
    CloseFd(&nIndexFd);
    CloseFd(&nDataFd);
    CloseFd(&nLockFd);
  }

  // Opens the lock file. Readers do not create it: a log nobody wrote has none
  // and reads as empty (ERROR_FILE_NOT_FOUND).
  DWORD OpenLock(bool bCreate) {
    if (nLockFd >= 0) return ERROR_SUCCESS;
    std::string strPath = Path(".lock");
    if (bCreate) {
      DWORD dwError = EnsureDirectory(EventLogDir());
      if (dwError != ERROR_SUCCESS) return dwError;
      nLockFd = open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    } else {
      nLockFd = open(strPath.c_str(), O_RDWR | O_CLOEXEC);
      if (nLockFd < 0 && errno == EACCES) nLockFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    }
    return nLockFd >= 0 ? ERROR_SUCCESS : LastError();
  }

  // Writes a new generation holding `vecRecords` (each a whole record with its
  // number set) and renames its index into place. Called under the exclusive lock.
  DWORD WriteGeneration(const IndexHeader& newHeader, const std::vector<std::string>& vecRecords) {
    std::string strData = DataPath(newHeader.dwGeneration);
    int nData = open(strData.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (nData < 0) return LastError();
    std::string strIndex(reinterpret_cast<const char*>(&newHeader), sizeof(newHeader));
    std::string strBytes;
    std::uint64_t qwOffset = 0;
    DWORD dwNumber = newHeader.dwBaseRecord;
    for (const std::string& strRecord : vecRecords) {
      IndexEntry entry = {qwOffset, static_cast<DWORD>(strRecord.size()), dwNumber++};
      strIndex.append(reinterpret_cast<const char*>(&entry), sizeof(entry));
      strBytes += strRecord;
      qwOffset += strRecord.size();
    }
    bool bOk = WriteAt(nData, strBytes.data(), strBytes.size(), 0);
    close(nData);
    std::string strTemp = Path(".idx.tmp");
    int nIndex = bOk ? open(strTemp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
    if (nIndex >= 0) {
      bOk = WriteAt(nIndex, strIndex.data(), strIndex.size(), 0);
      close(nIndex);
    } else {
      bOk = false;
    }
    if (!bOk || rename(strTemp.c_str(), Path(".idx").c_str()) != 0) {
      DWORD dwError = LastError();
      unlink(strTemp.c_str());
      unlink(strData.c_str());
      return dwError != ERROR_SUCCESS ? dwError : ERROR_GEN_FAILURE;
    }
    if (dwGeneration != 0 && dwGeneration != newHeader.dwGeneration) {
      unlink(DataPath(dwGeneration).c_str());
    }
    return ERROR_SUCCESS;
  }

  // Brings the descriptors and the header up to date with the files, opening
  // the generation in place. With bWrite a missing log is created. Called under
  // the file lock.
  DWORD Refresh(bool bWrite) {
    struct stat info;
    std::string strIndex = Path(".idx");
    if (stat(strIndex.c_str(), &info) != 0) {
      if (errno != ENOENT) return LastError();
      if (!bWrite) return ERROR_FILE_NOT_FOUND;
      IndexHeader fresh;
      std::memset(&fresh, 0, sizeof(fresh));
      std::memcpy(fresh.szMagic, kIndexMagic, sizeof(kIndexMagic));
      fresh.dwGeneration = 1;
      fresh.dwBaseRecord = 1;
      fresh.dwOldestRecord = 1;
      DWORD dwError = WriteGeneration(fresh, {});
      if (dwError != ERROR_SUCCESS) return dwError;
      if (stat(strIndex.c_str(), &info) != 0) return LastError();
    }
    if (nIndexFd < 0 || info.st_ino != indexInode || info.st_dev != indexDevice ||
        (bWrite && !bIndexWritable)) {
      CloseFd(&nIndexFd);
      CloseFd(&nDataFd);
      nIndexFd = open(strIndex.c_str(), (bWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
      if (nIndexFd < 0) return LastError();
      bIndexWritable = bWrite;
      indexInode = info.st_ino;
      indexDevice = info.st_dev;
      dwGeneration = 0;
    }
    if (!ReadAt(nIndexFd, &header, sizeof(header), 0) ||
        std::memcmp(header.szMagic, kIndexMagic, sizeof(kIndexMagic)) != 0) {
      return ERROR_EVENTLOG_FILE_CORRUPT;
    }
    if (fstat(nIndexFd, &info) != 0) return LastError();
    dwEntries = static_cast<DWORD>((info.st_size - kHeaderSize) / kEntrySize);
    if (header.dwOldestRecord < header.dwBaseRecord) return ERROR_EVENTLOG_FILE_CORRUPT;
    if (nDataFd < 0 || dwGeneration != header.dwGeneration) {
      CloseFd(&nDataFd);
      nDataFd = open(DataPath(header.dwGeneration).c_str(), (bWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
      if (nDataFd < 0) return bWrite || errno != ENOENT ? LastError() : ERROR_EVENTLOG_FILE_CORRUPT;
      dwGeneration = header.dwGeneration;
    }
    return ERROR_SUCCESS;
  }

  // Reads record dwNumber (already checked to be in the log) into strRecord.
  DWORD ReadRecord(DWORD dwNumber, std::string* pstrRecord) {
    IndexEntry entry;
    off_t entryOffset = kHeaderSize + static_cast<off_t>(dwNumber - header.dwBaseRecord) * kEntrySize;
    if (!ReadAt(nIndexFd, &entry, sizeof(entry), entryOffset) || entry.dwRecordNumber != dwNumber ||
        entry.dwLength > kMaxRecordSize + 64) {
      return ERROR_EVENTLOG_FILE_CORRUPT;
    }
    pstrRecord->resize(entry.dwLength);
    if (!ReadAt(nDataFd, &(*pstrRecord)[0], entry.dwLength, static_cast<off_t>(entry.qwOffset))) {
      return ERROR_EVENTLOG_FILE_CORRUPT;
    }
    return ERROR_SUCCESS;
  }

  // Rewrites the log without its dropped records once they are worth the copy.
  DWORD CompactIfWorthIt() {
    DWORD dwDropped = header.dwOldestRecord - header.dwBaseRecord;
    if (dwDropped < kCompactThreshold || dwDropped < Count()) return ERROR_SUCCESS;
    std::vector<std::string> vecRecords;
    vecRecords.reserve(Count());
    for (DWORD dwNumber = header.dwOldestRecord; dwNumber != NextRecord(); ++dwNumber) {
      std::string strRecord;
      DWORD dwError = ReadRecord(dwNumber, &strRecord);
      if (dwError != ERROR_SUCCESS) return dwError;
      vecRecords.push_back(std::move(strRecord));
    }
    IndexHeader newHeader = header;
    newHeader.dwGeneration = header.dwGeneration + 1;
    newHeader.dwBaseRecord = header.dwOldestRecord;
    return WriteGeneration(newHeader, vecRecords);
  }

  // Drops the oldest records beyond the maximum; the header is rewritten in place.
  DWORD ApplyMaximum() {
    if (header.dwMaxRecords == 0 || Count() <= header.dwMaxRecords) return ERROR_SUCCESS;
    header.dwOldestRecord = NextRecord() - header.dwMaxRecords;
    if (!WriteAt(nIndexFd, &header, sizeof(header), 0)) return LastError();
    return CompactIfWorthIt();
  }

  // Appends one record (its number is filled in here).
  DWORD Append(std::string* pstrRecord) {
    std::lock_guard<std::mutex> guard(mutex);
    DWORD dwError = OpenLock(true);
    if (dwError != ERROR_SUCCESS) return dwError;
    CFileLock lock(nLockFd, LOCK_EX);
    dwError = Refresh(true);
    if (dwError != ERROR_SUCCESS) return dwError;
    DWORD dwNumber = NextRecord();
    if (dwNumber == 0) return ERROR_DISK_FULL;  // 2^32 - 1 records written since the last clear
    std::memcpy(&(*pstrRecord)[offsetof(EVENTLOGRECORD, RecordNumber)], &dwNumber, sizeof(dwNumber));
    struct stat info;
    if (fstat(nDataFd, &info) != 0) return LastError();
    if (!WriteAt(nDataFd, pstrRecord->data(), pstrRecord->size(), info.st_size)) {
      dwError = LastError();
      if (ftruncate(nDataFd, info.st_size) != 0) {
        // The stray bytes are never indexed, so they are harmless.
      }
      return dwError;
    }
    IndexEntry entry = {static_cast<std::uint64_t>(info.st_size),
                        static_cast<DWORD>(pstrRecord->size()), dwNumber};
    if (!WriteAt(nIndexFd, &entry, sizeof(entry), kHeaderSize + static_cast<off_t>(dwEntries) * kEntrySize)) {
      return LastError();
    }
    ++dwEntries;
    return ApplyMaximum();
  }
};

DWORD OpenEventLogByName(const char* lpLogName, HEVENTLOG* phLog) {
  if (phLog == nullptr) return ERROR_INVALID_PARAMETER;
  *phLog = nullptr;
  const char* lpName = GetCanonicalEventLogName(lpLogName);
  if (lpName == nullptr) return ERROR_FILE_NOT_FOUND;
  CEventLogData* pLog = new CEventLogData();
  pLog->strName = lpName;
  *phLog = pLog;
  return ERROR_SUCCESS;
}

void CloseEventLogHandle(HEVENTLOG hLog) { delete hLog; }

namespace {

// Runs `action` with the log's state current and a shared lock held. A log
// whose files do not exist yet is passed as empty (null state).
template <class Action>
DWORD WithLogRead(HEVENTLOG hLog, Action action) {
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::mutex> guard(hLog->mutex);
  DWORD dwError = hLog->OpenLock(false);
  if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND) return action(nullptr);
  if (dwError != ERROR_SUCCESS) return dwError;
  CFileLock lock(hLog->nLockFd, LOCK_SH);
  dwError = hLog->Refresh(false);
  if (dwError == ERROR_FILE_NOT_FOUND) return action(nullptr);
  if (dwError != ERROR_SUCCESS) return dwError;
  return action(hLog);
}

template <class Action>
DWORD WithLogWrite(HEVENTLOG hLog, Action action) {
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::mutex> guard(hLog->mutex);
  DWORD dwError = hLog->OpenLock(true);
  if (dwError != ERROR_SUCCESS) return dwError;
  CFileLock lock(hLog->nLockFd, LOCK_EX);
  dwError = hLog->Refresh(true);
  if (dwError != ERROR_SUCCESS) return dwError;
  return action(hLog);
}

}  // namespace

DWORD GetNumberOfEventLogRecords(HEVENTLOG hLog, DWORD* pdwCount) {
  if (pdwCount == nullptr) return ERROR_INVALID_PARAMETER;
  *pdwCount = 0;
  return WithLogRead(hLog, [&](CEventLogData* pLog) {
    *pdwCount = pLog != nullptr ? pLog->Count() : 0;
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
}

DWORD GetOldestEventLogRecord(HEVENTLOG hLog, DWORD* pdwOldestRecord) {
  if (pdwOldestRecord == nullptr) return ERROR_INVALID_PARAMETER;
  *pdwOldestRecord = 0;
  return WithLogRead(hLog, [&](CEventLogData* pLog) {
    *pdwOldestRecord = pLog != nullptr ? pLog->header.dwOldestRecord : 1;
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
}

DWORD ReadEventLogRecord(HEVENTLOG hLog, DWORD dwRecordNumber, void* lpBuffer, DWORD nBufferSize,
                         DWORD* pdwBytesRead, DWORD* pdwBytesNeeded) {
  if (pdwBytesRead != nullptr) *pdwBytesRead = 0;
  if (pdwBytesNeeded != nullptr) *pdwBytesNeeded = 0;
  if (lpBuffer == nullptr && nBufferSize != 0) return ERROR_INVALID_PARAMETER;
  return WithLogRead(hLog, [&](CEventLogData* pLog) -> DWORD {
    if (pLog == nullptr || dwRecordNumber < pLog->header.dwOldestRecord ||
        dwRecordNumber >= pLog->NextRecord()) {
      return ERROR_INVALID_PARAMETER;
    }
    std::string strRecord;
    DWORD dwError = pLog->ReadRecord(dwRecordNumber, &strRecord);
    if (dwError != ERROR_SUCCESS) return dwError;
    DWORD dwLength = static_cast<DWORD>(strRecord.size());
    if (!IsRecordSound(reinterpret_cast<const BYTE*>(strRecord.data()), dwLength, dwRecordNumber)) {
      return ERROR_EVENTLOG_FILE_CORRUPT;
    }
    if (nBufferSize < dwLength) {
      if (pdwBytesNeeded != nullptr) *pdwBytesNeeded = dwLength;
      return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(lpBuffer, strRecord.data(), dwLength);
    if (pdwBytesRead != nullptr) *pdwBytesRead = dwLength;
    return ERROR_SUCCESS;
  });
}

DWORD ClearEventLogRecords(HEVENTLOG hLog) {
  return WithLogWrite(hLog, [](CEventLogData* pLog) {
    IndexHeader newHeader = pLog->header;
    newHeader.dwGeneration = pLog->header.dwGeneration + 1;
    newHeader.dwBaseRecord = 1;
    newHeader.dwOldestRecord = 1;
    return pLog->WriteGeneration(newHeader, {});
  });
}

DWORD SetEventLogMaxRecords(HEVENTLOG hLog, DWORD dwMaxRecords) {
  return WithLogWrite(hLog, [&](CEventLogData* pLog) {
    pLog->header.dwMaxRecords = dwMaxRecords;
    if (!WriteAt(pLog->nIndexFd, &pLog->header, sizeof(pLog->header), 0)) return LastError();
    return pLog->ApplyMaximum();
  });
}

DWORD GetEventLogMaxRecords(HEVENTLOG hLog, DWORD* pdwMaxRecords) {
  if (pdwMaxRecords == nullptr) return ERROR_INVALID_PARAMETER;
  *pdwMaxRecords = 0;
  return WithLogRead(hLog, [&](CEventLogData* pLog) {
    *pdwMaxRecords = pLog != nullptr ? pLog->header.dwMaxRecords : 0;
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
}

void EventTimeToLocalTime(DWORD dwTime, SYSTEMTIME* lpTime) {
  if (lpTime == nullptr) return;
  time_t t = static_cast<time_t>(dwTime);
  struct tm local;
  std::memset(&local, 0, sizeof(local));
  localtime_r(&t, &local);
  lpTime->wYear = static_cast<WORD>(local.tm_year + 1900);
  lpTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
  lpTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  lpTime->wDay = static_cast<WORD>(local.tm_mday);
  lpTime->wHour = static_cast<WORD>(local.tm_hour);
  lpTime->wMinute = static_cast<WORD>(local.tm_min);
  lpTime->wSecond = static_cast<WORD>(local.tm_sec);
  lpTime->wMilliseconds = 0;
}

// ---------------------------------------------------------------------------
// Source registrations

namespace {

std::string SourcesDir(const char* lpLogName) {
  return EventLogDir() + "/sources/" + lpLogName;
}

// The file of a registration, found case-insensitively; empty when none.
std::string FindSourceFile(const char* lpLogName, const char* lpSourceName) {
  std::string strDir = SourcesDir(lpLogName);
  std::string strWanted = Cp932ToUtf8(lpSourceName);
  DIR* pDir = opendir(strDir.c_str());
  if (pDir == nullptr) return std::string();
  std::string strFound;
  while (struct dirent* pEntry = readdir(pDir)) {
    if (strcasecmp(pEntry->d_name, strWanted.c_str()) == 0) {
      strFound = strDir + "/" + pEntry->d_name;
      break;
    }
  }
  closedir(pDir);
  return strFound;
}

bool ReadWholeFile(const std::string& strPath, size_t cbLimit, std::string* pstrText, DWORD* pdwError) {
  int nFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (nFd < 0) {
    *pdwError = LastError();
    return false;
  }
  pstrText->clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = read(nFd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *pdwError = LastError();
      close(nFd);
      return false;
    }
    if (n == 0) break;
    pstrText->append(buffer, static_cast<size_t>(n));
    if (pstrText->size() > cbLimit) {
      close(nFd);
      *pdwError = ERROR_NOT_ENOUGH_MEMORY;
      return false;
    }
  }
  close(nFd);
  return true;
}

// Name=Value lines, in file order.
std::vector<std::pair<std::string, std::string>> ParseValues(const std::string& strText) {
  std::vector<std::pair<std::string, std::string>> values;
  size_t nPos = 0;
  while (nPos < strText.size()) {
    size_t nEnd = strText.find('\n', nPos);
    if (nEnd == std::string::npos) nEnd = strText.size();
    std::string strLine = strText.substr(nPos, nEnd - nPos);
    nPos = nEnd + 1;
    size_t nEqual = strLine.find('=');
    if (nEqual == std::string::npos || nEqual == 0) continue;
    values.emplace_back(strLine.substr(0, nEqual), strLine.substr(nEqual + 1));
  }
  return values;
}

}  // namespace

DWORD InstallEventSource(const char* lpLogName, const char* lpSourceName,
                         const char* lpEventMessageFile) {
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr) return ERROR_FILE_NOT_FOUND;
  if (!IsValidSourceName(lpSourceName)) return ERROR_INVALID_NAME;
  if (lpEventMessageFile != nullptr && std::strpbrk(lpEventMessageFile, "\r\n") != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  std::string strDir = SourcesDir(lpLog);
  DWORD dwError = EnsureDirectory(strDir);
  if (dwError != ERROR_SUCCESS) return dwError;
  std::string strPath = FindSourceFile(lpLog, lpSourceName);
  std::vector<std::pair<std::string, std::string>> values;
  if (strPath.empty()) {
    strPath = strDir + "/" + Cp932ToUtf8(lpSourceName);
  } else {
    std::string strText;
    if (ReadWholeFile(strPath, 65536, &strText, &dwError)) values = ParseValues(strText);
  }
  if (lpEventMessageFile != nullptr) {
    bool bSet = false;
    for (auto& value : values) {
      if (strcasecmp(value.first.c_str(), "EventMessageFile") == 0) {
        value.second = lpEventMessageFile;
        bSet = true;
      }
    }
    if (!bSet) values.emplace_back("EventMessageFile", lpEventMessageFile);
  }
  std::string strText;
  for (const auto& value : values) strText += value.first + "=" + value.second + "\n";
  std::string strTemp = strPath + ".tmp" + std::to_string(getpid());
  int nFd = open(strTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (nFd < 0) return LastError();
  bool bOk = WriteAt(nFd, strText.data(), strText.size(), 0);
  close(nFd);
  if (!bOk || rename(strTemp.c_str(), strPath.c_str()) != 0) {
    dwError = LastError();
    unlink(strTemp.c_str());
    return dwError != ERROR_SUCCESS ? dwError : ERROR_GEN_FAILURE;
  }
  return ERROR_SUCCESS;
}

DWORD FindEventSourceLog(const char* lpSourceName, std::string* pstrLogName) {
  if (pstrLogName != nullptr) pstrLogName->clear();
  if (!IsValidSourceName(lpSourceName)) return ERROR_FILE_NOT_FOUND;
  for (const char* lpLog : {"Application", "Security", "System"}) {
    if (!FindSourceFile(lpLog, lpSourceName).empty()) {
      if (pstrLogName != nullptr) *pstrLogName = lpLog;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

DWORD QueryEventSourceValue(const char* lpLogName, const char* lpSourceName,
                            const char* lpValueName, std::string* pstrValue) {
  if (pstrValue == nullptr || lpValueName == nullptr) return ERROR_INVALID_PARAMETER;
  pstrValue->clear();
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr || !IsValidSourceName(lpSourceName)) return ERROR_FILE_NOT_FOUND;
  std::string strPath = FindSourceFile(lpLog, lpSourceName);
  if (strPath.empty()) return ERROR_FILE_NOT_FOUND;
  std::string strText;
  DWORD dwError = ERROR_SUCCESS;
  if (!ReadWholeFile(strPath, 65536, &strText, &dwError)) return dwError;
  for (const auto& value : ParseValues(strText)) {
    if (strcasecmp(value.first.c_str(), lpValueName) == 0) {
      *pstrValue = value.second;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

// ---------------------------------------------------------------------------
// Writing

struct CEventSourceData {
  HEVENTLOG hLog = nullptr;
  std::string strSource;
  ~CEventSourceData() { CloseEventLogHandle(hLog); }
};

DWORD RegisterEventLogSource(const char* lpSourceName, HEVENTSOURCE* phSource) {
  if (phSource != nullptr) *phSource = nullptr;
  if (lpSourceName == nullptr || phSource == nullptr) return ERROR_INVALID_PARAMETER;
  if (!IsValidSourceName(lpSourceName)) return ERROR_INVALID_NAME;
  std::string strLog;
  if (FindEventSourceLog(lpSourceName, &strLog) != ERROR_SUCCESS) strLog = "Application";
  std::unique_ptr<CEventSourceData> pSource(new CEventSourceData());
  DWORD dwError = OpenEventLogByName(strLog.c_str(), &pSource->hLog);
  if (dwError != ERROR_SUCCESS) return dwError;
  pSource->strSource = lpSourceName;
  *phSource = pSource.release();
  return ERROR_SUCCESS;
}

DWORD ReportEventLogEntry(HEVENTSOURCE hSource, WORD wType, WORD wCategory, DWORD dwEventID,
                          WORD wNumStrings, const char** lpStrings) {
  if (hSource == nullptr) return ERROR_INVALID_HANDLE;
  if (wNumStrings > 0 && lpStrings == nullptr) return ERROR_INVALID_PARAMETER;
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
  header.Reserved = kRecordMagic;
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
  return hSource->hLog->Append(&strRecord);
}

void DeregisterEventLogSource(HEVENTSOURCE hSource) { delete hSource; }

// ---------------------------------------------------------------------------
// Message catalogues

struct CMessageModuleData {
  std::shared_ptr<const std::map<DWORD, std::string>> pMessages;
};

namespace {

// Parsed catalogues by path, reused while the file's size and modification
// time stay the same: a reader formatting many records loads each file once.
struct CachedCatalogue {
  off_t size;
  struct timespec mtime;
  std::shared_ptr<const std::map<DWORD, std::string>> pMessages;
};
std::mutex g_catalogueMutex;
std::map<std::string, CachedCatalogue> g_catalogues;

}  // namespace

DWORD LoadMessageModule(const char* lpPath, HMESSAGEMODULE* phModule) {
  if (phModule == nullptr) return ERROR_INVALID_PARAMETER;
  *phModule = nullptr;
  if (lpPath == nullptr || lpPath[0] == '\0') return ERROR_INVALID_PARAMETER;
  std::string strPath = Cp932ToUtf8(lpPath);
  struct stat info;
  if (stat(strPath.c_str(), &info) != 0) return LastError();
  if (!S_ISREG(info.st_mode)) return ERROR_ACCESS_DENIED;
  std::shared_ptr<const std::map<DWORD, std::string>> pMessages;
  {
    std::lock_guard<std::mutex> guard(g_catalogueMutex);
    auto it = g_catalogues.find(strPath);
    if (it != g_catalogues.end() && it->second.size == info.st_size &&
        it->second.mtime.tv_sec == info.st_mtim.tv_sec &&
        it->second.mtime.tv_nsec == info.st_mtim.tv_nsec) {
      pMessages = it->second.pMessages;
    }
  }
  if (!pMessages) {
    std::string strText;
    DWORD dwError = ERROR_SUCCESS;
    if (!ReadWholeFile(strPath, kMaxCatalogueSize, &strText, &dwError)) return dwError;
    auto pParsed = std::make_shared<std::map<DWORD, std::string>>();
    dwError = ParseMessageCatalogue(strText, pParsed.get());
    if (dwError != ERROR_SUCCESS) return dwError;
    pMessages = pParsed;
    std::lock_guard<std::mutex> guard(g_catalogueMutex);
    if (g_catalogues.size() > 64) g_catalogues.clear();
    g_catalogues[strPath] = CachedCatalogue{info.st_size, info.st_mtim, pMessages};
  }
  *phModule = new CMessageModuleData{pMessages};
  return ERROR_SUCCESS;
}

void FreeMessageModule(HMESSAGEMODULE hModule) { delete hModule; }

DWORD FormatModuleMessage(HMESSAGEMODULE hModule, DWORD dwMessageID, const char* const* lpArguments,
                          DWORD dwArgumentCount, std::string* pstrText) {
  if (hModule == nullptr) return ERROR_INVALID_HANDLE;
  if (pstrText == nullptr) return ERROR_INVALID_PARAMETER;
  pstrText->clear();
  auto it = hModule->pMessages->find(dwMessageID);
  if (it == hModule->pMessages->end()) return ERROR_MR_MID_NOT_FOUND;
  *pstrText = FormatMessageText(it->second, lpArguments, dwArgumentCount);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Change notification

struct CEventLogChangeWaiter::Impl {
  int nInotifyFd = -1;
  int nWakeFd = -1;
  std::vector<std::string> vecIndexNames;  // "<Log>.idx", bit i for entry i
  DWORD dwPendingMask = 0;

  ~Impl() {
    CloseFd(&nInotifyFd);
    CloseFd(&nWakeFd);
  }

  // Collects the changes the kernel has queued into dwPendingMask.
  void Drain() {
    alignas(struct inotify_event) char buffer[8192];
    for (;;) {
      ssize_t n = read(nInotifyFd, buffer, sizeof(buffer));
      if (n <= 0) return;
      for (ssize_t nPos = 0; nPos < n;) {
        const struct inotify_event* pEvent = reinterpret_cast<const struct inotify_event*>(buffer + nPos);
        if (pEvent->len > 0) {
          for (size_t i = 0; i < vecIndexNames.size(); ++i) {
            if (vecIndexNames[i] == pEvent->name) dwPendingMask |= 1u << i;
          }
        }
        nPos += static_cast<ssize_t>(sizeof(struct inotify_event) + pEvent->len);
      }
    }
  }
};

CEventLogChangeWaiter::CEventLogChangeWaiter() : m_pImpl(new Impl()) {
  m_pImpl->nWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CEventLogChangeWaiter::~CEventLogChangeWaiter() { delete m_pImpl; }

DWORD CEventLogChangeWaiter::AddLog(const char* lpLogName) {
  const char* lpLog = GetCanonicalEventLogName(lpLogName);
  if (lpLog == nullptr) return ERROR_FILE_NOT_FOUND;
  if (m_pImpl->vecIndexNames.size() >= 32) return ERROR_INVALID_PARAMETER;
  m_pImpl->vecIndexNames.push_back(std::string(lpLog) + ".idx");
  if (m_pImpl->nInotifyFd >= 0) return ERROR_SUCCESS;
  // One watch on the directory serves every log, and it sees an index renamed
  // into place (a clear) as well as records appended to it.
  std::string strDir = EventLogDir();
  DWORD dwError = EnsureDirectory(strDir);
  if (dwError != ERROR_SUCCESS) return dwError;
  int nFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (nFd < 0) return LastError();
  if (inotify_add_watch(nFd, strDir.c_str(), IN_MODIFY | IN_MOVED_TO | IN_CREATE) < 0) {
    dwError = LastError();
    close(nFd);
    return dwError;
  }
  m_pImpl->nInotifyFd = nFd;
  return ERROR_SUCCESS;
}

DWORD CEventLogChangeWaiter::Wait(DWORD dwMilliseconds, DWORD* pdwChangedMask) {
  if (pdwChangedMask != nullptr) *pdwChangedMask = 0;
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    if (m_pImpl->dwPendingMask != 0) {
      if (pdwChangedMask != nullptr) *pdwChangedMask = m_pImpl->dwPendingMask;
      m_pImpl->dwPendingMask = 0;
      return WAIT_OBJECT_0;
    }
    int nTimeout = -1;
    if (dwMilliseconds != INFINITE) {
      struct timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      long long llElapsed = (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
      // A time-out of 0 still looks once at what is queued.
      nTimeout = llElapsed >= dwMilliseconds ? 0 : static_cast<int>(dwMilliseconds - llElapsed);
    }
    struct pollfd fds[2] = {{m_pImpl->nWakeFd, POLLIN, 0}, {m_pImpl->nInotifyFd, POLLIN, 0}};
    int nReady = poll(fds, m_pImpl->nInotifyFd >= 0 ? 2 : 1, nTimeout);
    if (nReady < 0 && errno == EINTR) continue;
    if (nReady <= 0) return WAIT_TIMEOUT;
    if (fds[0].revents & POLLIN) {
      std::uint64_t qwCount = 0;
      if (read(m_pImpl->nWakeFd, &qwCount, sizeof(qwCount)) < 0) {
        // Another reader took it: the wake-up is delivered either way.
      }
      return WAIT_IO_COMPLETION;
    }
    if (fds[1].revents & POLLIN) m_pImpl->Drain();
  }
}

void CEventLogChangeWaiter::Wake() {
  std::uint64_t qwOne = 1;
  if (write(m_pImpl->nWakeFd, &qwOne, sizeof(qwOne)) < 0) {
    // The counter only overflows after 2^64 - 1 wake-ups.
  }
}

}  // namespace kx
