// Every agent unit test runs against a system state directory of its own, so
// nothing a test writes (event-log records, service states) reaches the machine's.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdlib>
#include <string>

namespace {

class CTemporarySystemRoot : public ::testing::Environment {
 public:
  void SetUp() override {
    char szTemplate[] = "/tmp/kx-agent-tests-XXXXXX";
    if (mkdtemp(szTemplate) == nullptr) return;
    m_strRoot = szTemplate;
    setenv("KX_SYSTEM_ROOT", m_strRoot.c_str(), 1);
  }
  void TearDown() override {
    if (m_strRoot.empty()) return;
    std::string strCommand = "rm -rf '" + m_strRoot + "'";
    if (std::system(strCommand.c_str()) != 0) return;
  }

 private:
  std::string m_strRoot;
};

::testing::Environment* const g_pSystemRoot = ::testing::AddGlobalTestEnvironment(new CTemporarySystemRoot);

}  // namespace
