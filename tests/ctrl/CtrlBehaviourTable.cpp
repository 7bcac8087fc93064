#include "CtrlBehaviourTable.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "platform/native_path.h"

namespace {

const char kTruncated[] =
    "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<system-config>\r\n  <logon-accounts>\r\n"
    "    <account id=\"1\" logon=\"yes\" domain=\"no\">\r\n      <acc";

std::string ReadFile(const std::string& strPath) {
  std::ifstream file(kx::ToFileSystemPath(strPath), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string Ids(const CKxAgentLogonAccount* pAccount) {
  std::string strIds;
  for (int nID : *pAccount->GetAllowCommandIDList()) strIds += (strIds.empty() ? "" : ",") + std::to_string(nID);
  return strIds;
}

// "" when equal, else what differs.
template <class T>
std::string Expect(const char* lpWhat, const T& actual, const T& expected) {
  if (actual == expected) return std::string();
  std::ostringstream text;
  text << lpWhat << ": " << actual << " instead of " << expected << "; ";
  return text.str();
}

// A stored configuration whose encoding is an item of the list, so that
// opening the settings page and OK change nothing.
void Plain(CKxAgentConfigManager& manager) { manager.SetOutputEncoding("EUC-JP"); }

void Rich(CKxAgentConfigManager& manager) {
  Plain(manager);
  manager.SetComPort(2);
  manager.SetComSpeed(38400);
  manager.SetLogonTimeout(300);
  CKxAgentLogSetting* pLog = manager.GetLogSetting();
  pLog->SetLogEnabled(TRUE);
  pLog->SetWarningLogEnabled(TRUE);
  pLog->SetLogFileDir("logs");
  CKxAgentLogonAccount* pAccount = manager.AddLogonAccount("alice", "corp", TRUE, TRUE);
  pAccount->AddAllowCommandID(0);
  pAccount->AddAllowCommandID(7);
}

CKxStep Step(KxStepKind nKind, int nValue = 0, const std::string& strText = std::string(),
             std::vector<CKxExpectedBox> boxes = {}) {
  return CKxStep{nKind, nValue, strText, std::move(boxes)};
}

}  // namespace

std::vector<CKxBehaviourCase> KxCtrlBehaviourTable() {
  const std::string strRange = "KxAgentCtrl|Please enter an integer between 0 and 3600.";
  const std::string strReplace = "設定保存の確認|設定ファイル「";
  return {
      {"Cancel saves nothing", Rich, {}, {Step(KX_STEP_SET_TIMEOUT, 0, "45"), Step(KX_STEP_PRESS_CANCEL)}, true,
       nullptr},
      {"OK without a change does not rewrite the file", Rich, {}, {Step(KX_STEP_PRESS_OK)}, true, nullptr},
      {"a changed time-out is saved with everything else kept",
       Rich,
       {},
       {Step(KX_STEP_SET_TIMEOUT, 0, "45"), Step(KX_STEP_PRESS_OK)},
       false,
       [](CKxAgentConfigManager& saved, const std::string&) {
         CKxAgentLogonAccount* pAccount = saved.GetLogonAccount(1);
         return Expect("time-out", saved.GetLogonTimeout(), 45ul) + Expect("port", saved.GetComPort(), 2ul) +
                Expect("speed", saved.GetComSpeed(), 38400ul) +
                Expect("encoding", std::string(saved.GetOutputEncoding()), std::string("EUC-JP")) +
                Expect("log directory", std::string(saved.GetLogSetting()->GetLogFileDir()), std::string("logs")) +
                Expect("warning log", saved.GetLogSetting()->IsWarningLogEnabled(), TRUE) +
                (pAccount == nullptr ? std::string("account gone; ")
                                     : Expect("account", std::string(pAccount->GetDomainName()), std::string("corp")) +
                                           Expect("allowed IDs", Ids(pAccount), std::string("0,7")));
       }},
      {"an invalid number is refused with its message",
       Plain,
       {},
       {Step(KX_STEP_SET_TIMEOUT, 0, "3601"), Step(KX_STEP_PRESS_OK, 0, "", {{strRange, KX_ANSWER_OK}}),
        Step(KX_STEP_EXPECT_OPEN), Step(KX_STEP_SET_TIMEOUT, 0, "-1"),
        Step(KX_STEP_PRESS_OK, 0, "", {{strRange, KX_ANSWER_OK}}), Step(KX_STEP_SET_TIMEOUT, 0, "12a"),
        Step(KX_STEP_PRESS_OK, 0, "", {{"KxAgentCtrl|Please enter an integer.", KX_ANSWER_OK}}),
        Step(KX_STEP_EXPECT_OPEN), Step(KX_STEP_PRESS_CANCEL)},
       true,
       nullptr},
      {"unchecking a command removes its ID from the account",
       [](CKxAgentConfigManager& manager) {
         Plain(manager);
         CKxAgentLogonAccount* pAccount = manager.AddLogonAccount("alice", nullptr, TRUE, FALSE);
         pAccount->AddAllowCommandID(1);
         pAccount->AddAllowCommandID(5);
       },
       {},
       {Step(KX_STEP_OPEN_PAGE, 2), Step(KX_STEP_CHOOSE_ACCOUNT, 0), Step(KX_STEP_UNCHECK_COMMAND, 5),
        Step(KX_STEP_PRESS_OK)},
       false,
       [](CKxAgentConfigManager& saved, const std::string&) {
         CKxAgentLogonAccount* pAccount = saved.GetLogonAccount(1);
         return pAccount == nullptr ? std::string("account gone") : Expect("allowed IDs", Ids(pAccount), std::string("1"));
       }},
      {"installing and uninstalling the sample plug-ins",
       [](CKxAgentConfigManager& manager) {
         Plain(manager);
         manager.SetScriptPluginSupport(TRUE);
         manager.AddLogonAccount("alice", nullptr, TRUE, FALSE)->AddAllowCommandID(10000);
       },
       {},
       {Step(KX_STEP_OPEN_PAGE, 2), Step(KX_STEP_OPEN_PAGE, 1), Step(KX_STEP_INSTALL_SAMPLE, KX_SAMPLE_DLL),
        Step(KX_STEP_INSTALL_SAMPLE, KX_SAMPLE_JSCRIPT),
        Step(KX_STEP_UNINSTALL_ROW, 1, "",
             {{"プラグインのアンインストール|プラグイン「System information (kxsysinfo.", KX_ANSWER_YES}}),
        Step(KX_STEP_PRESS_CANCEL)},
       false,
       [](CKxAgentConfigManager& saved, const std::string& strBaseDir) {
         std::string strProblems = Expect("entries", saved.GetPluginList()->size(), size_t(2));
         CKxAgentPluginEntry* pScript = saved.GetPluginEntry(20000);
         strProblems += pScript == nullptr ? std::string("no entry 20000; ")
                                           : Expect("library", std::string(pScript->GetLibrary()), std::string("echo.js"));
         std::error_code error;
         std::string strPlugins = strBaseDir + "plugins" + kx::kPathSeparator;
         if (!std::filesystem::exists(kx::ToFileSystemPath(strPlugins + "echo.js"), error)) {
           strProblems += "echo.js not installed; ";
         }
         for (const char* lpName : {"kxsysinfo.dll", "kxsysinfo.so"}) {
           if (std::filesystem::exists(kx::ToFileSystemPath(strPlugins + lpName), error)) {
             strProblems += std::string(lpName) + " left behind; ";
           }
         }
         CKxAgentLogonAccount* pAccount = saved.GetLogonAccount(1);
         if (pAccount != nullptr) strProblems += Expect("allowed IDs", Ids(pAccount), std::string());
         return strProblems;
       }},
      {"a configuration that cannot be read is replaced only when the user agrees",
       nullptr,
       {{"設定読み込みエラー|設定ファイル「", KX_ANSWER_OK}},
       {Step(KX_STEP_SET_TIMEOUT, 0, "45"), Step(KX_STEP_PRESS_OK, 0, "", {{strReplace, KX_ANSWER_NO}}),
        Step(KX_STEP_EXPECT_OPEN), Step(KX_STEP_PRESS_OK, 0, "", {{strReplace, KX_ANSWER_YES}})},
       false,
       [](CKxAgentConfigManager& saved, const std::string& strBaseDir) {
         std::string strKept = ReadFile(strBaseDir + "config" + kx::kPathSeparator + "sysconfig.xml.bad");
         return Expect("time-out", saved.GetLogonTimeout(), 45ul) +
                Expect("kept file", strKept, std::string(kTruncated));
       }},
  };
}

std::vector<std::string> KxRunBehaviourCase(const CKxBehaviourCase& behaviour, CKxCtrlDriver* pDriver,
                                            const std::string& strBaseDir) {
  std::vector<std::string> problems;
  std::string strConfigPath = strBaseDir + "config" + kx::kPathSeparator + "sysconfig.xml";
  if (behaviour.fnSetUp) {
    CKxAgentConfigManager manager(strBaseDir.c_str());
    behaviour.fnSetUp(manager);
    if (!manager.SaveSystemConfig()) problems.push_back("the stored configuration could not be written");
  } else {
    std::ofstream(kx::ToFileSystemPath(strConfigPath), std::ios::binary) << kTruncated;
  }
  std::string strBefore = ReadFile(strConfigPath);

  std::vector<CKxExpectedBox> expected = behaviour.startBoxes;
  pDriver->Start(strBaseDir, behaviour.startBoxes);
  for (const CKxStep& step : behaviour.steps) {
    if (step.nKind == KX_STEP_EXPECT_OPEN) {
      if (!pDriver->IsSheetOpen()) problems.push_back("the sheet closed before this step");
      continue;
    }
    pDriver->Do(step);
    expected.insert(expected.end(), step.boxes.begin(), step.boxes.end());
  }
  bool bOpen = pDriver->IsSheetOpen();
  std::vector<std::string> seen = pDriver->TakeSeenBoxes();
  pDriver->Finish();
  if (bOpen) problems.push_back("the sheet is still open at the end");

  for (size_t i = 0; i < std::max(seen.size(), expected.size()); ++i) {
    std::string strSeen = i < seen.size() ? seen[i] : "(none)";
    std::string strExpected = i < expected.size() ? expected[i].strStart : "(none)";
    if (strSeen.compare(0, strExpected.size(), strExpected) != 0 || (i < seen.size()) != (i < expected.size())) {
      problems.push_back("box " + std::to_string(i + 1) + ": \"" + strSeen + "\" where \"" + strExpected +
                         "...\" was due");
    }
  }
  std::string strAfter = ReadFile(strConfigPath);
  if (behaviour.bFileUnchanged && strAfter != strBefore) problems.push_back("the file was rewritten");
  if (!behaviour.bFileUnchanged && strAfter == strBefore) problems.push_back("the file was not written");
  if (behaviour.fnCheck) {
    CKxAgentConfigManager saved(strBaseDir.c_str());
    saved.LoadConfig();
    std::string strProblem = behaviour.fnCheck(saved, strBaseDir);
    if (!strProblem.empty()) problems.push_back(strProblem);
  }
  return problems;
}
