// What the configuration tool does, written once for both front-ends: each
// case is a stored configuration, the steps a user takes in the sheet with the
// message boxes each step brings up (and the button pressed on each), and
// what the file holds afterwards. A front-end test runs every case through
// its own driver (Qt widgets, or Win32 window messages).
#pragma once

#include <functional>
#include <string>
#include <vector>

class CKxAgentConfigManager;

enum KxAnswer { KX_ANSWER_OK, KX_ANSWER_CANCEL, KX_ANSWER_YES, KX_ANSWER_NO };

// A message box: the start of "title|text" (UTF-8, line ends as LF) and the
// button pressed.
struct CKxExpectedBox {
  std::string strStart;
  KxAnswer nAnswer;
};

enum KxStepKind {
  KX_STEP_OPEN_PAGE,       // nValue: page index (0 settings ... 4 version)
  KX_STEP_SET_TIMEOUT,     // strText: the time-out field's new text
  KX_STEP_CHOOSE_ACCOUNT,  // nValue: account row
  KX_STEP_UNCHECK_COMMAND, // nValue: command ID on the access page
  KX_STEP_INSTALL_SAMPLE,  // nValue: KxSample
  KX_STEP_UNINSTALL_ROW,   // nValue: plug-in row
  KX_STEP_PRESS_OK,
  KX_STEP_PRESS_CANCEL,
  KX_STEP_EXPECT_OPEN,     // the sheet is still open
};

enum KxSample { KX_SAMPLE_DLL, KX_SAMPLE_JSCRIPT };

struct CKxStep {
  KxStepKind nKind;
  int nValue;
  std::string strText;
  std::vector<CKxExpectedBox> boxes;
};

struct CKxBehaviourCase {
  std::string strName;
  // Fills the stored configuration; null writes a truncated file instead.
  std::function<void(CKxAgentConfigManager&)> fnSetUp;
  std::vector<CKxExpectedBox> startBoxes;  // shown before the sheet opens
  std::vector<CKxStep> steps;
  bool bFileUnchanged;
  // What is wrong with the saved configuration ("" when nothing is); gets the
  // configuration as read back and the installation directory.
  std::function<std::string(CKxAgentConfigManager&, const std::string&)> fnCheck;
};

// A front-end under test.
class CKxCtrlDriver {
 public:
  virtual ~CKxCtrlDriver() = default;
  // Starts the tool on the installation at strBaseDir (ending in a separator)
  // and answers the boxes shown before the sheet.
  virtual void Start(const std::string& strBaseDir, const std::vector<CKxExpectedBox>& boxes) = 0;
  // Takes one step and answers its boxes in order.
  virtual void Do(const CKxStep& step) = 0;
  virtual bool IsSheetOpen() = 0;
  // The boxes seen since the last call, "title|text" in UTF-8 with LF line ends.
  virtual std::vector<std::string> TakeSeenBoxes() = 0;
  // Ends the run (cancelling a sheet that is still open).
  virtual void Finish() = 0;
};

std::vector<CKxBehaviourCase> KxCtrlBehaviourTable();

// Runs one case in the empty installation directory strBaseDir (holding an
// empty config/). Returns what went wrong, one line each; empty when the
// front-end behaved.
std::vector<std::string> KxRunBehaviourCase(const CKxBehaviourCase& behaviour, CKxCtrlDriver* pDriver,
                                            const std::string& strBaseDir);
