// The parts of the event-log facility that do not depend on the operating
// system: log names, message formatting, catalogue parsing, variable expansion,
// the record layout.

#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/event_log_catalogue.h"
#include "platform/event_log_record.h"
#include "platform/text_compare.h"
#include "platform/text_encoding.h"

namespace kx {

namespace {

const char* const kLogNames[] = {"Application", "Security", "System"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWithNoCase(const std::string& strLine, const char* lpPrefix) {
  return CompareNoCase(strLine.c_str(), lpPrefix, std::strlen(lpPrefix)) == 0;
}

}  // namespace

bool ParseEventIdText(const std::string& strText, DWORD* pdwValue) {
  std::string text = strText;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  size_t nStart = 0;
  while (nStart < text.size() && (text[nStart] == ' ' || text[nStart] == '\t')) ++nStart;
  text = text.substr(nStart);
  if (text.empty()) return false;
  int nBase = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    nBase = 16;
    text = text.substr(2);
  }
  unsigned long long ullValue = 0;
  for (char c : text) {
    int nDigit;
    if (IsDigit(c)) {
      nDigit = c - '0';
    } else if (nBase == 16 && c >= 'a' && c <= 'f') {
      nDigit = c - 'a' + 10;
    } else if (nBase == 16 && c >= 'A' && c <= 'F') {
      nDigit = c - 'A' + 10;
    } else {
      return false;
    }
    if (nDigit >= nBase) return false;
    ullValue = ullValue * nBase + nDigit;
    if (ullValue > 0xFFFFFFFFull) return false;
  }
  *pdwValue = static_cast<DWORD>(ullValue);
  return true;
}

BOOL ParseEventLogRecord(const void* lpRecord, DWORD cbRecord, EVENTLOGRECORD_TEXTS* pTexts) {
  if (lpRecord == nullptr || cbRecord < sizeof(EVENTLOGRECORD) + 4) return FALSE;
  const BYTE* lpBytes = static_cast<const BYTE*>(lpRecord);
  EVENTLOGRECORD header;
  std::memcpy(&header, lpBytes, sizeof(header));
  DWORD dwTrailer;
  std::memcpy(&dwTrailer, lpBytes + cbRecord - 4, sizeof(dwTrailer));
  if (header.Length != cbRecord || dwTrailer != cbRecord || header.Reserved != kEventLogRecordMagic) return FALSE;
  DWORD dwEnd = cbRecord - 4;
  if (header.StringOffset < sizeof(EVENTLOGRECORD) || header.StringOffset > header.DataOffset ||
      header.DataOffset > dwEnd || header.DataLength > dwEnd - header.DataOffset) {
    return FALSE;
  }
  // Each text must end before the next part begins: a missing NUL would let a
  // reader run past the part (or the record).
  const char* lpText = reinterpret_cast<const char*>(lpBytes);
  auto TakeText = [&](DWORD* pdwPos, DWORD dwLimit) -> const char* {
    const void* lpNul = std::memchr(lpText + *pdwPos, '\0', dwLimit - *pdwPos);
    if (lpNul == nullptr) return nullptr;
    const char* lpStart = lpText + *pdwPos;
    *pdwPos = static_cast<DWORD>(static_cast<const char*>(lpNul) - lpText) + 1;
    return lpStart;
  };
  EVENTLOGRECORD_TEXTS texts;
  DWORD dwPos = sizeof(EVENTLOGRECORD);
  texts.lpSourceName = TakeText(&dwPos, header.StringOffset);
  texts.lpComputerName = texts.lpSourceName != nullptr ? TakeText(&dwPos, header.StringOffset) : nullptr;
  if (texts.lpComputerName == nullptr) return FALSE;
  dwPos = header.StringOffset;
  for (WORD i = 0; i < header.NumStrings; ++i) {
    const char* lpString = TakeText(&dwPos, header.DataOffset);
    if (lpString == nullptr) return FALSE;
    texts.vecStrings.push_back(lpString);
  }
  if (pTexts != nullptr) *pTexts = std::move(texts);
  return TRUE;
}

BOOL IsValidEventSourceName(const char* lpSourceName) {
  if (lpSourceName == nullptr || lpSourceName[0] == '\0') return FALSE;
  if (std::strcmp(lpSourceName, ".") == 0 || std::strcmp(lpSourceName, "..") == 0) return FALSE;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(lpSourceName); *p != '\0'; ++p) {
    // Only a real trail byte belongs to the lead byte; it may be 0x5C and is
    // no separator then.
    if (IsCp932LeadByte(*p) && IsCp932TrailByte(p[1])) {
      ++p;
      continue;
    }
    // A control character would end up in file names, registry keys and the
    // lines that show them.
    if (*p == '/' || *p == '\\' || *p < 0x20 || *p == 0x7F) return FALSE;
  }
  return TRUE;
}

const char* GetCanonicalEventLogName(const char* lpLogName) {
  if (lpLogName == nullptr) return nullptr;
  for (const char* lpName : kLogNames) {
    if (CompareNoCase(lpName, lpLogName) == 0) return lpName;
  }
  return nullptr;
}

std::string FormatMessageText(const std::string& strTemplate, const char* const* lpArguments,
                              DWORD dwArgumentCount) {
  std::string out;
  out.reserve(strTemplate.size() + 64);
  const size_t nSize = strTemplate.size();
  for (size_t i = 0; i < nSize; ++i) {
    char c = strTemplate[i];
    if (c != '%' || i + 1 >= nSize) {
      out += c;
      continue;
    }
    char next = strTemplate[i + 1];
    if (next == '0') return out;
    if (IsDigit(next)) {
      size_t nEnd = i + 1;
      DWORD dwIndex = 0;
      while (nEnd < nSize && nEnd < i + 3 && IsDigit(strTemplate[nEnd])) {
        dwIndex = dwIndex * 10 + static_cast<DWORD>(strTemplate[nEnd] - '0');
        ++nEnd;
      }
      // An optional !format! belongs to the insert.
      if (nEnd < nSize && strTemplate[nEnd] == '!') {
        size_t nClose = strTemplate.find('!', nEnd + 1);
        if (nClose != std::string::npos) nEnd = nClose + 1;
      }
      if (dwIndex >= 1 && dwIndex <= dwArgumentCount && lpArguments != nullptr) {
        const char* lpArgument = lpArguments[dwIndex - 1];
        if (lpArgument != nullptr) out += lpArgument;
      } else {
        // Never read past the strings given: the insert stays as written.
        out.append(strTemplate, i, nEnd - i);
      }
      i = nEnd - 1;
      continue;
    }
    switch (next) {
      case 'n':
        out += "\r\n";
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'b':
        out += ' ';
        break;
      default:
        // %%, %., %!, "% " and any other character: the character itself.
        out += next;
        break;
    }
    ++i;
  }
  return out;
}

DWORD ParseMessageCatalogue(const std::string& strText, std::map<DWORD, std::string>* pMessages) {
  pMessages->clear();
  bool bUtf8 = false;
  bool bInMessage = false;
  DWORD dwCurrentId = 0;
  std::string strCurrent;
  size_t nPos = 0;
  // A UTF-8 byte order mark is taken as the Encoding=UTF-8 line.
  if (strText.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    bUtf8 = true;
    nPos = 3;
  }
  while (nPos <= strText.size()) {
    size_t nEnd = strText.find('\n', nPos);
    if (nEnd == std::string::npos) {
      if (nPos == strText.size()) break;
      nEnd = strText.size();
    }
    std::string strLine = strText.substr(nPos, nEnd - nPos);
    nPos = nEnd + 1;
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    if (bInMessage) {
      if (strLine == ".") {
        (*pMessages)[dwCurrentId] = bUtf8 ? Utf8ToCp932(strCurrent) : strCurrent;
        bInMessage = false;
      } else {
        strCurrent += strLine;
        strCurrent += "\r\n";
      }
      continue;
    }
    if (strLine.empty() || strLine[0] == ';') continue;
    if (StartsWithNoCase(strLine, "Encoding=")) {
      std::string strName = strLine.substr(9);
      if (CompareNoCase(strName.c_str(), "UTF-8") == 0) {
        bUtf8 = true;
      } else if (CompareNoCase(strName.c_str(), "CP932") == 0) {
        bUtf8 = false;
      } else {
        return ERROR_INVALID_DATA;
      }
      continue;
    }
    if (StartsWithNoCase(strLine, "MessageId=")) {
      if (!ParseEventIdText(strLine.substr(10), &dwCurrentId)) return ERROR_INVALID_DATA;
      strCurrent.clear();
      bInMessage = true;
      continue;
    }
    return ERROR_INVALID_DATA;
  }
  // A message the file ends inside is kept: the text up to the end is all it has.
  if (bInMessage) (*pMessages)[dwCurrentId] = bUtf8 ? Utf8ToCp932(strCurrent) : strCurrent;
  return ERROR_SUCCESS;
}

std::string ExpandEnvironmentText(const char* lpText) {
  std::string out;
  if (lpText == nullptr) return out;
  const char* p = lpText;
  while (*p != '\0') {
    if (*p == '%') {
      const char* lpClose = std::strchr(p + 1, '%');
      if (lpClose != nullptr && lpClose > p + 1) {
        std::string strName(p + 1, lpClose - p - 1);
        const char* lpValue = std::getenv(strName.c_str());
        // The environment speaks UTF-8; the expanded text is code page 932.
        if (lpValue != nullptr) {
          out += Utf8ToCp932(lpValue);
        } else {
          out.append(p, lpClose - p + 1);
        }
        p = lpClose + 1;
        continue;
      }
    }
    out += *p++;
  }
  return out;
}

DWORD BuildEventLogRecord(const EVENT_RECORD_FIELDS& fields, std::string* pstrRecord) {
  std::string strRecord(sizeof(EVENTLOGRECORD), '\0');
  strRecord.append(fields.strSourceName.c_str(), fields.strSourceName.size() + 1);
  strRecord.append(fields.strComputerName.c_str(), fields.strComputerName.size() + 1);
  while (strRecord.size() % 4 != 0) strRecord += '\0';
  DWORD dwStringOffset = static_cast<DWORD>(strRecord.size());
  if (fields.strings.size() > 0xFFFF) return ERROR_INVALID_PARAMETER;
  for (const char* lpString : fields.strings) {
    if (lpString == nullptr) lpString = "";
    size_t cbString = std::strlen(lpString);
    if (strRecord.size() + cbString > kMaxEventRecordSize) return ERROR_INVALID_PARAMETER;
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
  header.RecordNumber = fields.dwRecordNumber;
  header.TimeGenerated = fields.dwTimeGenerated;
  header.TimeWritten = fields.dwTimeWritten;
  header.EventID = fields.dwEventID;
  header.EventType = fields.wEventType;
  header.NumStrings = static_cast<WORD>(fields.strings.size());
  header.EventCategory = fields.wEventCategory;
  header.StringOffset = dwStringOffset;
  header.UserSidOffset = dwStringOffset;
  header.DataOffset = dwDataOffset;
  std::memcpy(&strRecord[0], &header, sizeof(header));
  pstrRecord->swap(strRecord);
  return ERROR_SUCCESS;
}

DWORD CopyEventLogRecord(const std::string& strRecord, void* lpBuffer, DWORD nBufferSize,
                         DWORD* pdwBytesRead, DWORD* pdwBytesNeeded) {
  if (pdwBytesRead != nullptr) *pdwBytesRead = 0;
  if (pdwBytesNeeded != nullptr) *pdwBytesNeeded = 0;
  DWORD dwLength = static_cast<DWORD>(strRecord.size());
  if (nBufferSize < dwLength) {
    if (pdwBytesNeeded != nullptr) *pdwBytesNeeded = dwLength;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  if (lpBuffer == nullptr) return ERROR_INVALID_PARAMETER;
  std::memcpy(lpBuffer, strRecord.data(), dwLength);
  if (pdwBytesRead != nullptr) *pdwBytesRead = dwLength;
  return ERROR_SUCCESS;
}

}  // namespace kx
