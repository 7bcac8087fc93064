#include "platform/registration.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/replace_file.h"
#include "platform/system_root.h"

namespace kx {
namespace {

const DWORD kErrorFileNotFound = 2;
const DWORD kErrorInvalidParameter = 87;

typedef std::map<std::string, std::string> ValueMap;

// Keys map onto file names: the path separator becomes '#', so every key is
// one file directly in the registration directory and no key can climb out of it.
std::string KeyPath(const char* lpKey) {
  std::string strFile;
  for (const char* p = lpKey; *p; ++p) {
    char c = *p;
    strFile += (c == '/' || c == '\\') ? '#' : c;
  }
  if (strFile.empty() || strFile == "." || strFile == "..") strFile = "#" + strFile;
  return GetSystemRoot() + "/registration/" + strFile;
}

bool ReadValues(const std::string& strPath, ValueMap* pValues) {
  std::ifstream in(strPath, std::ios::binary);
  if (!in) return false;
  std::string strLine;
  while (std::getline(in, strLine)) {
    std::string::size_type nEqual = strLine.find('=');
    if (nEqual == std::string::npos) continue;
    (*pValues)[strLine.substr(0, nEqual)] = strLine.substr(nEqual + 1);
  }
  return true;
}

DWORD WriteValues(const std::string& strPath, const ValueMap& values) {
  std::ostringstream out;
  for (const auto& value : values) out << value.first << '=' << value.second << '\n';
  return ReplaceFileDurably(strPath.c_str(), out.str());
}

bool HasLineBreak(const char* lpText) { return std::strpbrk(lpText, "\r\n") != nullptr; }

// Serialises read-modify-write of registration files between processes.
class CRegistrationLock {
 public:
  CRegistrationLock() : m_fd(-1) {
    std::string strDir = GetSystemRoot() + "/registration";
    if (EnsureDirectory(strDir) != 0) return;
    m_fd = open((strDir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd >= 0) flock(m_fd, LOCK_EX);
  }
  ~CRegistrationLock() {
    if (m_fd >= 0) close(m_fd);
  }
  CRegistrationLock(const CRegistrationLock&) = delete;
  CRegistrationLock& operator=(const CRegistrationLock&) = delete;

 private:
  int m_fd;
};

}  // namespace

DWORD GetRegistrationValue(const char* lpKey, const char* lpName, std::string* pstrValue) {
  ValueMap values;
  if (!ReadValues(KeyPath(lpKey), &values)) return kErrorFileNotFound;
  ValueMap::const_iterator it = values.find(lpName);
  if (it == values.end()) return kErrorFileNotFound;
  *pstrValue = it->second;
  return 0;
}

BOOL IsRegistrationKey(const char* lpKey) {
  return access(KeyPath(lpKey).c_str(), F_OK) == 0 ? TRUE : FALSE;
}

DWORD SetRegistrationValue(const char* lpKey, const char* lpName, const char* lpValue) {
  if (HasLineBreak(lpName) || HasLineBreak(lpValue) || std::strchr(lpName, '=')) {
    return kErrorInvalidParameter;
  }
  CRegistrationLock lock;
  std::string strPath = KeyPath(lpKey);
  ValueMap values;
  ReadValues(strPath, &values);
  values[lpName] = lpValue;
  return WriteValues(strPath, values);
}

DWORD DeleteRegistrationValue(const char* lpKey, const char* lpName) {
  CRegistrationLock lock;
  std::string strPath = KeyPath(lpKey);
  ValueMap values;
  if (!ReadValues(strPath, &values) || values.erase(lpName) == 0) return 0;
  return WriteValues(strPath, values);
}

DWORD DeleteRegistrationKey(const char* lpKey) {
  CRegistrationLock lock;
  if (unlink(KeyPath(lpKey).c_str()) != 0 && errno != ENOENT) return 5;
  return 0;
}

}  // namespace kx
