// Registration records, emulated in the system state directory: one file per
// key in <root>/registration holding name=value lines, replaced atomically and
// changed under the store lock of that directory.
#include "platform/registration.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "emulation/emulation.h"
#include "emulation/key_value_store.h"
#include "emulation/system_root.h"
#include "platform/replace_file.h"

namespace kx {
namespace emulation {
namespace {

const DWORD kErrorFileNotFound = 2;

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

// Serialises read-modify-write of registration files between processes. A
// lock that cannot be had does not stop the change: the file is still replaced whole.
class CRegistrationLock {
 public:
  CRegistrationLock() : m_strDirectory(GetSystemRoot() + "/registration") {
    if (EnsureDirectory(m_strDirectory) == 0) m_pLock.reset(new CStoreLock(m_strDirectory));
  }

 private:
  std::string m_strDirectory;
  std::unique_ptr<CStoreLock> m_pLock;
};

class CRegistrationEmulation : public CRegistrationBackend {
 public:
  DWORD GetValue(const char* lpKey, const char* lpName, std::string* pstrValue) override;
  BOOL IsKey(const char* lpKey) override;
  DWORD SetValue(const char* lpKey, const char* lpName, const char* lpValue) override;
  DWORD DeleteValue(const char* lpKey, const char* lpName) override;
  DWORD DeleteKey(const char* lpKey) override;
};

}  // namespace

DWORD CRegistrationEmulation::GetValue(const char* lpKey, const char* lpName, std::string* pstrValue) {
  ValueMap values;
  if (!ReadValues(KeyPath(lpKey), &values)) return kErrorFileNotFound;
  ValueMap::const_iterator it = values.find(lpName);
  if (it == values.end()) return kErrorFileNotFound;
  *pstrValue = it->second;
  return 0;
}

BOOL CRegistrationEmulation::IsKey(const char* lpKey) {
  return access(KeyPath(lpKey).c_str(), F_OK) == 0 ? TRUE : FALSE;
}

DWORD CRegistrationEmulation::SetValue(const char* lpKey, const char* lpName, const char* lpValue) {
  CRegistrationLock lock;
  std::string strPath = KeyPath(lpKey);
  ValueMap values;
  ReadValues(strPath, &values);
  values[lpName] = lpValue;
  return WriteValues(strPath, values);
}

DWORD CRegistrationEmulation::DeleteValue(const char* lpKey, const char* lpName) {
  CRegistrationLock lock;
  std::string strPath = KeyPath(lpKey);
  ValueMap values;
  if (!ReadValues(strPath, &values) || values.erase(lpName) == 0) return 0;
  return WriteValues(strPath, values);
}

DWORD CRegistrationEmulation::DeleteKey(const char* lpKey) {
  CRegistrationLock lock;
  if (unlink(KeyPath(lpKey).c_str()) != 0 && errno != ENOENT) return 5;
  return 0;
}

CRegistrationBackend& GetRegistrationEmulation() {
  static CRegistrationEmulation emulation;
  return emulation;
}

}  // namespace emulation
}  // namespace kx
