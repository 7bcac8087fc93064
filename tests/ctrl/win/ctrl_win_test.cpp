// The Win32 configuration tool in this process, driven from a second thread
// with window messages as a user's clicks would send them: the behaviour
// table shared with the Qt tests, the one-instance check and, when the Wine
// stage installed the agent as a service (KX_CTRL_AGENT_BASE), the service group.
#include <gtest/gtest.h>

#include "KxAgentCtrl/win/WinCtrl.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "CtrlBehaviourTable.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/CtrlTexts.h"
#include "KxAgentCtrl/win/resource.h"
#include "platform/text_encoding.h"

namespace {

const int kWaitMs = 20000;
const int kMessageBoxTextId = 0xFFFF;

// Waits until fnDone holds or the deadline passes; the result of the last look.
bool WaitFor(const std::function<bool()>& fnDone, int nMilliseconds = kWaitMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
  while (!fnDone()) {
    if (std::chrono::steady_clock::now() > deadline) return fnDone();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string WindowText(HWND hWnd) {
  char szText[2048] = {};
  ::GetWindowTextA(hWnd, szText, sizeof(szText));
  return szText;
}

// "title|text" of a message box, in UTF-8 with LF line ends.
std::string Describe(HWND hBox) {
  std::string strText = WindowText(hBox) + "|" + WindowText(::GetDlgItem(hBox, kMessageBoxTextId));
  std::string strShown;
  for (size_t i = 0; i < strText.size(); ++i) {
    if (strText[i] == '\r' && i + 1 < strText.size() && strText[i + 1] == '\n') continue;
    strShown += strText[i];
  }
  return kx::Cp932ToUtf8(strShown);
}

int ButtonOf(KxAnswer nAnswer) {
  switch (nAnswer) {
    case KX_ANSWER_CANCEL: return IDCANCEL;
    case KX_ANSWER_YES: return IDYES;
    case KX_ANSWER_NO: return IDNO;
    default: return IDOK;
  }
}

std::string TempBaseDir() {
  char szDir[MAX_PATH] = {};
  ::GetTempPathA(sizeof(szDir), szDir);
  static int s_nCount = 0;
  std::string strBase = std::string(szDir) + "kxctrl" + std::to_string(::GetCurrentProcessId()) + "_" +
                        std::to_string(++s_nCount) + "\\";
  std::error_code error;
  std::filesystem::remove_all(strBase, error);  // Wine hands out process IDs again
  std::filesystem::create_directories(strBase + "config");
  return strBase;
}

// Runs the tool (KxWinCtrlMain) on a thread of its own, as the program's main
// thread would, and drives its windows from the test's thread. Actions go as
// sent-notify messages (ordered with the sent messages that follow, and not
// waiting for a modal box the action may open); a sent WM_NULL then returns
// once the action's handler is done or waits in a box.
class CWinDriver : public CKxCtrlDriver {
 public:
  ~CWinDriver() override { Finish(); }

  void Start(const std::string& strBaseDir, const std::vector<CKxExpectedBox>& boxes) override {
    m_strBaseDir = strBaseDir;
    m_thread = std::thread([this] {
      ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      m_dwThreadId = ::GetCurrentThreadId();
      CKxWinCtrlHooks hooks = KxWinDefaultHooks();
      hooks.fnChooseFile = [this](HWND, const std::string&) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_strNextFile;
      };
      hooks.fnOpen = [](HWND, const std::string&) { return INT_PTR(42); };
      m_nExitCode = KxWinCtrlMain({"KxAgentCtrl.exe"}, m_strBaseDir, hooks);
      ::CoUninitialize();
      m_bEnded = true;
    });
    WaitFor([this] { return m_dwThreadId != 0; });
    AnswerBoxes(boxes);
    WaitFor([this] { return (m_hSheet = FindSheet()) != nullptr || m_bEnded; });
  }

  void Do(const CKxStep& step) override {
    ASSERT_NE(nullptr, m_hSheet) << "no sheet";
    switch (step.nKind) {
      case KX_STEP_OPEN_PAGE:
        ::SendNotifyMessageA(m_hSheet, PSM_SETCURSEL, static_cast<WPARAM>(step.nValue), 0);
        ::PostMessageA(m_hSheet, WM_NULL, 0, 0);
        break;
      case KX_STEP_SET_TIMEOUT:
        ::SendMessageA(::GetDlgItem(Page(0), IDC_TIMEOUT), WM_SETTEXT, 0,
                       reinterpret_cast<LPARAM>(step.strText.c_str()));
        break;
      case KX_STEP_CHOOSE_ACCOUNT:
        SelectRow(::GetDlgItem(Page(2), IDC_ACCOUNTS), step.nValue);
        Click(Page(2), IDC_CHOOSE);
        break;
      case KX_STEP_UNCHECK_COMMAND: {
        HWND hCommands = ::GetDlgItem(Page(2), IDC_COMMANDS);
        LVFINDINFOA find = {};
        find.flags = LVFI_PARAM;
        find.lParam = step.nValue;
        int nRow = static_cast<int>(::SendMessageA(hCommands, LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                                   reinterpret_cast<LPARAM>(&find)));
        ASSERT_GE(nRow, 0) << "no command " << step.nValue;
        ListView_SetCheckState(hCommands, nRow, FALSE);
        break;
      }
      case KX_STEP_INSTALL_SAMPLE: {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_strNextFile = std::string(KX_EXAMPLE_PLUGIN_DIR "/") +
                        (step.nValue == KX_SAMPLE_DLL ? "kxsysinfo.dll" : "echo.js");
        std::replace(m_strNextFile.begin(), m_strNextFile.end(), '/', '\\');
        m_strNextFile = ToWindowsPath(m_strNextFile);
      }
        Click(Page(1), IDC_INSTALL);
        break;
      case KX_STEP_UNINSTALL_ROW:
        SelectRow(::GetDlgItem(Page(1), IDC_PLUGINS), step.nValue);
        Click(Page(1), IDC_UNINSTALL);
        break;
      case KX_STEP_PRESS_OK: Click(m_hSheet, IDOK); break;
      case KX_STEP_PRESS_CANCEL: Click(m_hSheet, IDCANCEL); break;
      case KX_STEP_EXPECT_OPEN: break;
    }
    Settle();
    AnswerBoxes(step.boxes);
    if ((step.nKind == KX_STEP_PRESS_OK || step.nKind == KX_STEP_PRESS_CANCEL) && step.boxes.empty()) {
      // A sheet that closes does so once its button's message is handled.
      WaitFor([this] { return !::IsWindow(m_hSheet) || FindBox() != nullptr; }, 2000);
    }
  }

  bool IsSheetOpen() override {
    Settle();
    return m_hSheet != nullptr && ::IsWindow(m_hSheet) && ::IsWindowVisible(m_hSheet);
  }

  std::vector<std::string> TakeSeenBoxes() override {
    std::vector<std::string> seen;
    seen.swap(m_seen);
    return seen;
  }

  void Finish() override {
    if (!m_thread.joinable()) return;
    if (IsSheetOpen()) Click(m_hSheet, IDCANCEL);
    // Boxes nobody expected are recorded and closed, so the run ends.
    while (!WaitFor([this] { return m_bEnded.load(); }, 1000)) {
      if (HWND hBox = FindBox()) {
        m_seen.push_back("unexpected: " + Describe(hBox));
        ::PostMessageA(hBox, WM_COMMAND, IDCANCEL, 0);
      }
    }
    m_thread.join();
  }

  // The page's window once it exists (the page is shown first when needed).
  HWND Page(int nIndex) {
    HWND hPage = reinterpret_cast<HWND>(::SendMessageA(m_hSheet, PSM_INDEXTOHWND, static_cast<WPARAM>(nIndex), 0));
    return hPage;
  }
  HWND GetSheet() const { return m_hSheet; }
  int GetExitCode() const { return m_nExitCode; }

  // Clicks a button of a page or of the sheet. A modal loop notices that its
  // dialog ended only when its next posted message arrives: one follows.
  void Click(HWND hParent, int nId) {
    ::SendNotifyMessageA(hParent, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED),
                         reinterpret_cast<LPARAM>(::GetDlgItem(hParent, nId)));
    ::PostMessageA(hParent, WM_NULL, 0, 0);
  }

  // Waits for each box in turn, records it and presses the button.
  void AnswerBoxes(const std::vector<CKxExpectedBox>& boxes) {
    for (const CKxExpectedBox& box : boxes) {
      HWND hBox = nullptr;
      if (!WaitFor([&] { return (hBox = FindBox()) != nullptr; })) {
        m_seen.push_back("(no box within the time)");
        return;
      }
      m_seen.push_back(Describe(hBox));
      int nButton = ButtonOf(box.nAnswer);
      ::PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(nButton, BN_CLICKED),
                     reinterpret_cast<LPARAM>(::GetDlgItem(hBox, nButton)));
      ::PostMessageA(hBox, WM_NULL, 0, 0);
      WaitFor([hBox] { return !::IsWindow(hBox); });
      Settle();
    }
  }

  // A message box of the tool's thread.
  HWND FindBox() {
    HWND hFound = nullptr;
    ::EnumThreadWindows(
        m_dwThreadId,
        [](HWND hWnd, LPARAM lParam) -> BOOL {
          char szClass[32] = {};
          ::GetClassNameA(hWnd, szClass, sizeof(szClass));
          if (std::string(szClass) == "#32770" && ::IsWindowVisible(hWnd) &&
              ::GetDlgItem(hWnd, kMessageBoxTextId) != nullptr) {
            *reinterpret_cast<HWND*>(lParam) = hWnd;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&hFound));
    return hFound;
  }

 private:
  static std::string ToWindowsPath(const std::string& strUnixLike) {
    // The build's directories are the host's; Wine shows the host's root as Z:.
    return strUnixLike.size() > 1 && strUnixLike[0] == '\\' ? "Z:" + strUnixLike : strUnixLike;
  }

  HWND FindSheet() {
    HWND hFound = nullptr;
    struct CSearch {
      std::string strCaption;
      HWND* phFound;
    } search{KxText(KX_TEXT_SHEET_CAPTION), &hFound};
    ::EnumThreadWindows(
        m_dwThreadId,
        [](HWND hWnd, LPARAM lParam) -> BOOL {
          CSearch* pSearch = reinterpret_cast<CSearch*>(lParam);
          if (::IsWindowVisible(hWnd) && WindowText(hWnd) == pSearch->strCaption) {
            *pSearch->phFound = hWnd;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return hFound;
  }

  void SelectRow(HWND hList, int nRow) {
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    ::SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&item));
  }

  // Returns once the tool's thread has handled what was sent before (or
  // waits in a modal box).
  void Settle() {
    if (m_hSheet != nullptr && ::IsWindow(m_hSheet)) {
      DWORD_PTR dwResult = 0;
      ::SendMessageTimeoutA(m_hSheet, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &dwResult);
    }
  }

  std::string m_strBaseDir;
  std::thread m_thread;
  std::atomic<DWORD> m_dwThreadId{0};
  std::atomic<bool> m_bEnded{false};
  std::atomic<int> m_nExitCode{-1};
  HWND m_hSheet = nullptr;
  std::mutex m_mutex;
  std::string m_strNextFile;
  std::vector<std::string> m_seen;
};

// The settings page queries the agent's service when it opens: unless the
// agent is installed, a stopped stand-in keeps it from reporting a failure.
class CtrlWinTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CKxAgentConfigManager::Initialize();
    SC_HANDLE hManager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE hService = ::CreateServiceA(hManager, "KxAgent", "KxAgent", SERVICE_ALL_ACCESS,
                                          SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                          "C:\\windows\\system32\\notepad.exe", nullptr, nullptr, nullptr, nullptr,
                                          nullptr);
    s_bStandIn = hService != nullptr;
    if (hService != nullptr) ::CloseServiceHandle(hService);
    ::CloseServiceHandle(hManager);
  }
  static void TearDownTestSuite() {
    if (s_bStandIn) {
      SC_HANDLE hManager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
      SC_HANDLE hService = ::OpenServiceA(hManager, "KxAgent", SERVICE_ALL_ACCESS);
      ::DeleteService(hService);
      ::CloseServiceHandle(hService);
      ::CloseServiceHandle(hManager);
      s_bStandIn = false;
    }
    CKxAgentConfigManager::Terminate();
  }
  static bool s_bStandIn;
};

bool CtrlWinTest::s_bStandIn = false;

class CtrlWinBehaviourTest : public CtrlWinTest, public ::testing::WithParamInterface<CKxBehaviourCase> {};

TEST_P(CtrlWinBehaviourTest, ActsAsTheTableSays) {
  CWinDriver driver;
  std::vector<std::string> problems = KxRunBehaviourCase(GetParam(), &driver, TempBaseDir());
  std::string strProblems;
  for (const std::string& strProblem : problems) strProblems += strProblem + "\n";
  EXPECT_TRUE(problems.empty()) << strProblems;
}

INSTANTIATE_TEST_SUITE_P(Table, CtrlWinBehaviourTest, ::testing::ValuesIn(KxCtrlBehaviourTable()),
                         [](const ::testing::TestParamInfo<CKxBehaviourCase>& info) {
                           std::string strName;
                           for (char c : info.param.strName) strName += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return strName;
                         });

// A second start while the tool runs shows its message and changes nothing.
TEST_F(CtrlWinTest, SecondInstanceIsRefused) {
  HANDLE hFirst = ::CreateMutexA(nullptr, TRUE, "KxAgentCtrlMutex");
  ASSERT_NE(nullptr, hFirst);
  std::string strBase = TempBaseDir();
  CWinDriver driver;
  driver.Start(strBase, {{"KxAgentCtrl|Kestrix Agent for Windows 設定ツールはすでに起動されています。", KX_ANSWER_OK}});
  driver.Finish();
  ::CloseHandle(hFirst);
  EXPECT_EQ(std::vector<std::string>{"KxAgentCtrl|Kestrix Agent for Windows 設定ツールはすでに起動されています。"},
            driver.TakeSeenBoxes());
  EXPECT_EQ(1, driver.GetExitCode());
  EXPECT_FALSE(std::filesystem::exists(strBase + "config\\sysconfig.xml"));
}

// The service group against the agent installed as a service in this Wine
// prefix by the Wine stage, which names its installation directory.
TEST_F(CtrlWinTest, ServiceGroupStartsAndStopsTheInstalledAgent) {
  const char* lpBase = std::getenv("KX_CTRL_AGENT_BASE");
  if (lpBase == nullptr) GTEST_SKIP() << "KX_CTRL_AGENT_BASE names the installed agent's directory";
  CWinDriver driver;
  driver.Start(lpBase, {});
  HWND hPage = driver.Page(0);
  auto fnStatus = [&] { return kx::Cp932ToUtf8(WindowText(::GetDlgItem(hPage, IDC_STATUS))); };
  ASSERT_TRUE(WaitFor([&] { return fnStatus() == "※サービスは「停止中」です。"; })) << fnStatus();
  EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(hPage, IDC_START)));
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(hPage, IDC_STOP)));

  driver.Click(hPage, IDC_START);
  // The window keeps answering while the service starts.
  EXPECT_TRUE(WaitFor([&] { return fnStatus() != "※サービスは「停止中」です。"; })) << fnStatus();
  ASSERT_TRUE(WaitFor([&] { return fnStatus() == "※サービスは「動作中」です。"; }, 40000)) << fnStatus();
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(hPage, IDC_START)));
  EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(hPage, IDC_STOP)));

  driver.Click(hPage, IDC_STOP);
  ASSERT_TRUE(WaitFor([&] { return fnStatus() == "※サービスは「停止中」です。"; }, 40000)) << fnStatus();
  EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(hPage, IDC_START)));
  driver.Do(CKxStep{KX_STEP_PRESS_CANCEL, 0, "", {}});
  driver.Finish();
  EXPECT_EQ(std::vector<std::string>{}, driver.TakeSeenBoxes());
}

// Saves the sheet as it is on screen as a 24-bit BMP file.
bool SaveWindowPicture(HWND hWnd, const std::string& strPath) {
  // The client area: without a window manager nobody draws the caption.
  RECT rect = {};
  ::GetClientRect(hWnd, &rect);
  ::MapWindowPoints(hWnd, nullptr, reinterpret_cast<POINT*>(&rect), 2);
  int nWidth = rect.right - rect.left;
  int nHeight = rect.bottom - rect.top;
  HDC hScreen = ::GetDC(nullptr);
  HDC hMemory = ::CreateCompatibleDC(hScreen);
  HBITMAP hBitmap = ::CreateCompatibleBitmap(hScreen, nWidth, nHeight);
  HGDIOBJ hOld = ::SelectObject(hMemory, hBitmap);
  ::BitBlt(hMemory, 0, 0, nWidth, nHeight, hScreen, rect.left, rect.top, SRCCOPY);
  ::SelectObject(hMemory, hOld);
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = nWidth;
  info.biHeight = nHeight;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  DWORD cbRow = (static_cast<DWORD>(nWidth) * 3 + 3) & ~3u;
  std::string strPixels(cbRow * static_cast<DWORD>(nHeight), '\0');
  bool bRead = ::GetDIBits(hMemory, hBitmap, 0, static_cast<UINT>(nHeight), &strPixels[0],
                           reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) != 0;
  ::DeleteObject(hBitmap);
  ::DeleteDC(hMemory);
  ::ReleaseDC(nullptr, hScreen);
  if (!bRead) return false;
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof(header) + sizeof(info);
  header.bfSize = header.bfOffBits + static_cast<DWORD>(strPixels.size());
  std::FILE* pFile = std::fopen(strPath.c_str(), "wb");
  if (pFile == nullptr) return false;
  bool bWritten = std::fwrite(&header, sizeof(header), 1, pFile) == 1 && std::fwrite(&info, sizeof(info), 1, pFile) == 1 &&
                  std::fwrite(strPixels.data(), 1, strPixels.size(), pFile) == strPixels.size();
  return std::fclose(pFile) == 0 && bWritten;
}

// Pictures of the five pages on a sample configuration, for a person to look
// at: written when KX_CTRL_SCREENSHOT_DIR names a folder (scripts/screenshots-windows.sh).
TEST_F(CtrlWinTest, PagesForScreenshots) {
  const char* lpOutput = std::getenv("KX_CTRL_SCREENSHOT_DIR");
  if (lpOutput == nullptr) GTEST_SKIP() << "KX_CTRL_SCREENSHOT_DIR names the folder for the pictures";
  std::string strBase = TempBaseDir();
  {
    CKxAgentConfigManager manager(strBase.c_str());
    manager.SetOutputEncoding("EUC-JP");
    manager.SetScriptPluginSupport(TRUE);
    CKxAgentLogSetting* pLog = manager.GetLogSetting();
    pLog->SetLogEnabled(TRUE);
    pLog->SetErrorLogEnabled(TRUE);
    pLog->SetWarningLogEnabled(TRUE);
    pLog->SetLogFileLimit(TRUE);
    pLog->SetLogFileDir("C:\\Program Files\\Kestrix\\Agent\\log");
    CKxAgentLogonAccount* pAdmin = manager.AddLogonAccount("administrator", nullptr, TRUE, FALSE);
    for (int nID = 0; nID < 17; ++nID) pAdmin->AddAllowCommandID(nID);
    manager.AddLogonAccount("operator", "corp", TRUE, TRUE)->AddAllowCommandID(1);
    manager.AddLogonAccount("guest", nullptr, FALSE, FALSE);
    std::filesystem::create_directories(strBase + "plugins");
    std::string strSamples = KX_EXAMPLE_PLUGIN_DIR "/";
    std::replace(strSamples.begin(), strSamples.end(), '/', '\\');
    for (const char* lpName : {"kxsysinfo.dll", "echo.js"}) {
      std::filesystem::copy_file("Z:" + strSamples + lpName, strBase + "plugins\\" + lpName);
    }
    manager.AddPlugin("kxsysinfo.dll", 4);
    manager.AddPlugin("echo.js", 3);
    ASSERT_TRUE(manager.SaveSystemConfig());
  }
  CWinDriver driver;
  driver.Start(strBase, {});
  ASSERT_NE(nullptr, driver.GetSheet());
  const char* const names[] = {"1-settings", "2-plugins", "3-access", "4-log", "5-version"};
  for (int i = 0; i < 5; ++i) {
    driver.Do(CKxStep{KX_STEP_OPEN_PAGE, i, "", {}});
    if (i == 0) {
      // The service query answers (or reports) once the page is up.
      HWND hStatus = ::GetDlgItem(driver.Page(0), IDC_STATUS);
      WaitFor([&] { return WindowText(hStatus) != KxText(KX_TEXT_SERVICE_INITIAL) || driver.FindBox() != nullptr; });
      if (HWND hBox = driver.FindBox()) ::PostMessageA(hBox, WM_COMMAND, IDOK, 0);
    }
    if (i == 2) driver.Do(CKxStep{KX_STEP_CHOOSE_ACCOUNT, 1, "", {}});
    ::RedrawWindow(driver.GetSheet(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the X server draws what Wine sent
    EXPECT_TRUE(SaveWindowPicture(driver.GetSheet(), std::string(lpOutput) + "\\" + names[i] + ".bmp")) << names[i];
  }
  driver.Do(CKxStep{KX_STEP_PRESS_CANCEL, 0, "", {}});
  driver.Finish();
}

}  // namespace
