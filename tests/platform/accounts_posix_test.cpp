#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/accounts.h"
#include "platform/error_codes.h"

#if defined(__SANITIZE_ADDRESS__)
#define KX_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KX_UNDER_ASAN 1
#endif
#endif

namespace {

const char kPamWrapper[] = "/usr/lib/x86_64-linux-gnu/libpam_wrapper.so";
const char kPamMatrix[] = "/usr/lib/x86_64-linux-gnu/pam_wrapper/pam_matrix.so";
const char kChildMarker[] = "KX_PAM_CHILD";

struct LogonCase {
  const char* lpUser;
  const char* lpDomain;
  const char* lpPassword;
  DWORD dwExpected;
};

const LogonCase kLogonCases[] = {
    {"alice", "", "secret", ERROR_SUCCESS},
    {"alice", ".", "secret", ERROR_SUCCESS},  // "." is the local machine
    {"alice", "", "wrong", ERROR_LOGON_FAILURE},
    {"alice", "", "", ERROR_LOGON_FAILURE},
    {"nobody", "", "secret", ERROR_LOGON_FAILURE},
    {"carol", "CORP", "pw", ERROR_SUCCESS},  // reaches PAM as carol@CORP
    {"carol", "", "pw", ERROR_LOGON_FAILURE},
    {"alice", "CORP", "secret", ERROR_LOGON_FAILURE},
    {"", "", "secret", ERROR_LOGON_FAILURE},
};

// Runs inside the child that the test below starts under pam_wrapper; skipped
// in an ordinary run, where PAM would consult the real system.
TEST(PamChild, LogonResults) {
  if (std::getenv(kChildMarker) == nullptr) GTEST_SKIP() << "runs only under pam_wrapper";
  for (const LogonCase& c : kLogonCases) {
    kx::HLOGONTOKEN hToken = nullptr;
    DWORD dwResult = kx::LogonUserAccount(c.lpUser, c.lpDomain, c.lpPassword, &hToken);
    EXPECT_EQ(c.dwExpected, dwResult) << c.lpUser << "@" << c.lpDomain << " / " << c.lpPassword;
    if (c.dwExpected == ERROR_SUCCESS) {
      ASSERT_NE(nullptr, hToken);
      EXPECT_STREQ(c.lpUser, kx::GetLogonTokenUser(hToken));
    } else {
      EXPECT_EQ(nullptr, hToken);
    }
    kx::CloseLogonToken(hToken);
  }
}

TEST(LogonUserAccount, NullArgumentsAreInvalidParameters) {
  kx::HLOGONTOKEN hToken = nullptr;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            kx::LogonUserAccount(nullptr, "", "x", &hToken));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
            kx::LogonUserAccount("a", "", nullptr, &hToken));
  EXPECT_EQ(nullptr, hToken);
}

TEST(LogonUserAccount, VerifiesPasswordsThroughThePamService) {
  if (access(kPamWrapper, R_OK) != 0 || access(kPamMatrix, R_OK) != 0) {
    GTEST_SKIP() << "pam_wrapper is not installed";
  }
#ifdef KX_UNDER_ASAN
  // pam_wrapper loads libpam with RTLD_DEEPBIND, which the sanitizer runtime
  // refuses; the plain build runs this test.
  GTEST_SKIP() << "pam_wrapper cannot run under AddressSanitizer";
#endif
  char tmpl[] = "/tmp/kx-pam-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  const std::string dir = tmpl;
  const std::string passdb = dir + "/passdb";
  const std::string services = dir + "/services";
  const std::string output = dir + "/child.out";
  ASSERT_EQ(0, mkdir(services.c_str(), 0755));
  std::ofstream(passdb) << "alice:secret:kxagent\ncarol@CORP:pw:kxagent\n";
  std::ofstream(services + "/kxagent") << "auth required " << kPamMatrix << " passdb=" << passdb
                                       << "\naccount required " << kPamMatrix
                                       << " passdb=" << passdb << "\n";

  pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    setenv("LD_PRELOAD", kPamWrapper, 1);
    setenv("PAM_WRAPPER", "1", 1);
    setenv("PAM_WRAPPER_SERVICE_DIR", services.c_str(), 1);
    setenv(kChildMarker, "1", 1);
    execl("/proc/self/exe", "platform_tests", "--gtest_filter=PamChild.*", (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  std::stringstream text;
  text << std::ifstream(output).rdbuf();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text.str();
  EXPECT_NE(std::string::npos, text.str().find("[       OK ] PamChild.LogonResults")) << text.str();
  std::string cmd = "rm -rf " + dir;
  ASSERT_EQ(0, std::system(cmd.c_str()));
}

}  // namespace
