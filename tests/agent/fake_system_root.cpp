// Every agent unit test runs against a system state directory of its own, so
// nothing a test writes (event-log records, service states) reaches the machine's.
#include <gtest/gtest.h>

#include "tests/support/TemporarySystemRoot.h"

namespace {

class CAgentTestsSystemRoot : public ::testing::Environment {
 public:
  void SetUp() override { m_root.Enter("/tmp/kx-agent-tests-XXXXXX"); }
  void TearDown() override { m_root.Leave(); }

 private:
  CTemporarySystemRoot m_root;
};

::testing::Environment* const g_pSystemRoot = ::testing::AddGlobalTestEnvironment(new CAgentTestsSystemRoot);

}  // namespace
