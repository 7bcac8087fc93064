// The event logs' record store, emulated in the system state directory:
//
//   <root>/eventlog/<Log>.lock        flock: shared for readers, exclusive for writers
//   <root>/eventlog/<Log>.idx         64-byte header, then one 16-byte entry per record
//   <root>/eventlog/<Log>.<gen>.dat   the records, EVENTLOGRECORD layout, back to back
//
// Entry i of the index belongs to record (base + i), so a record is found with
// one read of the index and one of the data file. A record is committed by its
// index entry, written after its data; everything under the exclusive lock, so
// concurrent writers cannot interleave and readers never see half a record. A
// writer killed part-way leaves at most data bytes no entry points to, which
// the next writer's record follows. Clearing and compaction build a new
// generation of both files and rename the index into place, so a crash leaves
// the old log or the new one, never a mix.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "emulation/emulation.h"
#include "emulation/event_log_store.h"
#include "platform/event_log_record.h"
#include "emulation/system_root.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/posix_error.h"
#include "platform/sync.h"

namespace kx {
namespace emulation {

std::string EventLogDir() { return GetSystemRoot() + "/eventlog"; }

DWORD LastError() { return ErrnoToWinError(errno); }

void CloseFd(int* pnFd) {
  if (*pnFd >= 0) close(*pnFd);
  *pnFd = -1;
}

namespace {

const char kIndexMagic[8] = {'K', 'X', 'E', 'V', 'L', 'O', 'G', '1'};
const off_t kHeaderSize = 64;
const off_t kEntrySize = 16;
// Compaction starts once this many dropped records sit before the oldest one
// and they outnumber the live ones, so each record is copied O(1) times.
const DWORD kCompactThreshold = 4096;

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

// Moves all cbSize bytes at offset with pread or pwrite, going on after an
// interruption or a short transfer; false on an error or at the end of the file.
template <class TByte, class TTransfer>
bool TransferAt(int nFd, TByte* p, size_t cbSize, off_t offset, TTransfer pfnTransfer) {
  while (cbSize > 0) {
    ssize_t n = pfnTransfer(nFd, p, cbSize, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    cbSize -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool ReadAt(int nFd, void* lpBuffer, size_t cbSize, off_t offset) {
  return TransferAt(nFd, static_cast<char*>(lpBuffer), cbSize, offset, pread);
}

bool WriteAt(int nFd, const void* lpData, size_t cbSize, off_t offset) {
  return TransferAt(nFd, static_cast<const char*>(lpData), cbSize, offset, pwrite);
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

}  // namespace

// ---------------------------------------------------------------------------
// Logs

struct CEmulatedEventLog : CEventLogData {
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

  ~CEmulatedEventLog() override {
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
        entry.dwLength > kMaxEventRecordSize + 64) {
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

CEmulatedEventLog* AsLog(HEVENTLOG hLog) { return static_cast<CEmulatedEventLog*>(hLog); }

DWORD CEventLogEmulation::OpenLog(const char* lpCanonicalLogName, HEVENTLOG* phLog) {
  CEmulatedEventLog* pLog = new CEmulatedEventLog();
  pLog->strName = lpCanonicalLogName;
  *phLog = pLog;
  return ERROR_SUCCESS;
}

namespace {

// Runs `action` with the log's state current and a shared lock held. A log
// whose files do not exist yet is passed as empty (null state).
template <class Action>
DWORD WithLogRead(HEVENTLOG hEventLog, Action action) {
  CEmulatedEventLog* hLog = AsLog(hEventLog);
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
DWORD WithLogWrite(HEVENTLOG hEventLog, Action action) {
  CEmulatedEventLog* hLog = AsLog(hEventLog);
  std::lock_guard<std::mutex> guard(hLog->mutex);
  DWORD dwError = hLog->OpenLock(true);
  if (dwError != ERROR_SUCCESS) return dwError;
  CFileLock lock(hLog->nLockFd, LOCK_EX);
  dwError = hLog->Refresh(true);
  if (dwError != ERROR_SUCCESS) return dwError;
  return action(hLog);
}

}  // namespace

DWORD CEventLogEmulation::GetRecordCount(HEVENTLOG hLog, DWORD* pdwCount) {
  return WithLogRead(hLog, [&](CEmulatedEventLog* pLog) {
    *pdwCount = pLog != nullptr ? pLog->Count() : 0;
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
}

DWORD CEventLogEmulation::GetOldestRecord(HEVENTLOG hLog, DWORD* pdwOldestRecord) {
  return WithLogRead(hLog, [&](CEmulatedEventLog* pLog) {
    *pdwOldestRecord = pLog != nullptr ? pLog->header.dwOldestRecord : 1;
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
}

DWORD CEventLogEmulation::ReadRecord(HEVENTLOG hLog, DWORD dwRecordNumber, void* lpBuffer, DWORD nBufferSize,
                                     DWORD* pdwBytesRead, DWORD* pdwBytesNeeded) {
  return WithLogRead(hLog, [&](CEmulatedEventLog* pLog) -> DWORD {
    if (pLog == nullptr || dwRecordNumber < pLog->header.dwOldestRecord ||
        dwRecordNumber >= pLog->NextRecord()) {
      return ERROR_INVALID_PARAMETER;
    }
    std::string strRecord;
    DWORD dwError = pLog->ReadRecord(dwRecordNumber, &strRecord);
    if (dwError != ERROR_SUCCESS) return dwError;
    DWORD dwLength = static_cast<DWORD>(strRecord.size());
    EVENTLOGRECORD header;
    std::memcpy(&header, strRecord.data(), std::min<size_t>(sizeof(header), strRecord.size()));
    if (!ParseEventLogRecord(strRecord.data(), dwLength, nullptr) || header.RecordNumber != dwRecordNumber) {
      return ERROR_EVENTLOG_FILE_CORRUPT;
    }
    return CopyEventLogRecord(strRecord, lpBuffer, nBufferSize, pdwBytesRead, pdwBytesNeeded);
  });
}

DWORD CEventLogEmulation::ClearLog(HEVENTLOG hLog) {
  return WithLogWrite(hLog, [](CEmulatedEventLog* pLog) {
    IndexHeader newHeader = pLog->header;
    newHeader.dwGeneration = pLog->header.dwGeneration + 1;
    newHeader.dwBaseRecord = 1;
    newHeader.dwOldestRecord = 1;
    return pLog->WriteGeneration(newHeader, {});
  });
}

DWORD CEventLogEmulation::SetMaxRecords(HEVENTLOG hLog, DWORD dwMaxRecords) {
  return WithLogWrite(hLog, [&](CEmulatedEventLog* pLog) {
    pLog->header.dwMaxRecords = dwMaxRecords;
    if (!WriteAt(pLog->nIndexFd, &pLog->header, sizeof(pLog->header), 0)) return LastError();
    return pLog->ApplyMaximum();
  });
}

DWORD CEventLogEmulation::GetMaxRecords(HEVENTLOG hLog, DWORD* pdwMaxRecords) {
  return WithLogRead(hLog, [&](CEmulatedEventLog* pLog) {
    *pdwMaxRecords = pLog != nullptr ? pLog->header.dwMaxRecords : 0;
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
}

DWORD AppendRecord(HEVENTLOG hLog, std::string* pstrRecord) {
  if (hLog == nullptr) return ERROR_INVALID_HANDLE;
  return AsLog(hLog)->Append(pstrRecord);
}

CEventLogBackend& GetEventLogEmulation() {
  static CEventLogEmulation emulation;
  return emulation;
}

}  // namespace emulation
}  // namespace kx
