// The child console on this system: the account's shell on a pseudo-terminal.
#include <gtest/gtest.h>

#include <string>

#include "platform/child_console.h"
#include "platform/error_codes.h"

namespace {

// Reads until the console closes; small reads so that characters get split.
std::string ReadToEnd(kx::CChildConsole& console, DWORD dwChunk) {
  std::string strOutput;
  char buffer[64];
  for (int nPass = 0; nPass < 2000; ++nPass) {
    DWORD dwRead = 0;
    DWORD dwResult = console.Read(buffer, dwChunk, &dwRead, 50);
    strOutput.append(buffer, dwRead);
    if (dwResult != ERROR_SUCCESS) break;
    if (console.WaitForEnd(0) == WAIT_OBJECT_0) console.Kill();
  }
  return strOutput;
}

TEST(ChildConsoleTest, Utf8OutputArrivesAsCodePage932EvenWhenReadsSplitCharacters) {
  std::unique_ptr<kx::CChildConsole> pConsole = kx::CreateChildConsole();
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), pConsole->Start());
  EXPECT_NE(0u, pConsole->GetProcessId());
  // U+3042 (E3 81 82) is 82 A0 in code page 932; 7-byte reads cut most of them.
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            pConsole->WriteLine("exec printf '<\\343\\201\\202%.0s' 1 2 3 4 5 6 7 8 9 10"));
  std::string strOutput = ReadToEnd(*pConsole, 7);
  std::string strExpected;
  for (int i = 0; i < 10; ++i) strExpected += "<\x82\xA0";
  EXPECT_NE(std::string::npos, strOutput.find(strExpected)) << strOutput;
  EXPECT_EQ(std::string::npos, strOutput.find('?')) << strOutput;
}

TEST(ChildConsoleTest, EndingTwiceAndInterruptingAnEndedChildAreHarmless) {
  std::unique_ptr<kx::CChildConsole> pConsole = kx::CreateChildConsole();
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), pConsole->WaitForEnd(0));  // never started
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), pConsole->Start());
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), pConsole->WaitForEnd(0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), pConsole->AskToEnd());
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), pConsole->WaitForEnd(5000));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), pConsole->Kill());
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), pConsole->Kill());
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), pConsole->AskToEnd());
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), pConsole->Interrupt());
  ReadToEnd(*pConsole, 64);
  DWORD dwRead = 0;
  char c;
  EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), pConsole->Read(&c, 1, &dwRead, 0));
}

}  // namespace
