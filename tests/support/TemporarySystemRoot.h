// CTemporarySystemRoot: points KX_SYSTEM_ROOT at a fresh temporary directory
// for one test, and puts back the previous value and removes the directory after it.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <string>
#include <vector>

class CTemporarySystemRoot {
 public:
  CTemporarySystemRoot() = default;
  CTemporarySystemRoot(const CTemporarySystemRoot&) = delete;
  CTemporarySystemRoot& operator=(const CTemporarySystemRoot&) = delete;
  ~CTemporarySystemRoot() { Leave(); }

  // Creates the directory from a mkdtemp template ending in XXXXXX and sets
  // KX_SYSTEM_ROOT to it. false when the directory cannot be made.
  bool Enter(const char* lpTemplate) {
    const char* lpOld = std::getenv("KX_SYSTEM_ROOT");
    m_bHadRoot = lpOld != nullptr;
    if (m_bHadRoot) m_strOldRoot = lpOld;
    std::vector<char> path(lpTemplate, lpTemplate + std::string(lpTemplate).size() + 1);
    if (mkdtemp(path.data()) == nullptr) return false;
    m_strRoot = path.data();
    setenv("KX_SYSTEM_ROOT", m_strRoot.c_str(), 1);
    return true;
  }

  // Restores the previous KX_SYSTEM_ROOT and removes the directory.
  void Leave() {
    if (m_strRoot.empty()) return;
    if (m_bHadRoot) {
      setenv("KX_SYSTEM_ROOT", m_strOldRoot.c_str(), 1);
    } else {
      unsetenv("KX_SYSTEM_ROOT");
    }
    if (std::system(("rm -rf '" + m_strRoot + "'").c_str()) != 0) {
      // A temporary directory left behind is harmless.
    }
    m_strRoot.clear();
  }

  const std::string& GetPath() const { return m_strRoot; }

 private:
  std::string m_strRoot;
  std::string m_strOldRoot;
  bool m_bHadRoot = false;
};
