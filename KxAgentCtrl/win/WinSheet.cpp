#include "KxAgentCtrl/win/WinCtrl.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <memory>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/AclPageLogic.h"
#include "KxAgentCtrl/ConfigPageLogic.h"
#include "KxAgentCtrl/CtrlText.h"
#include "KxAgentCtrl/LogPageLogic.h"
#include "KxAgentCtrl/PluginReader.h"
#include "KxAgentCtrl/PluginPageLogic.h"
#include "KxAgentCtrl/ServiceControl.h"
#include "KxAgentCtrl/VersionInfo.h"
#include "KxAgentCtrl/win/resource.h"

namespace {

class CKxWinSheet;

// ---- Small helpers over the controls ---------------------------------------

void SetItemText(HWND hDlg, int nId, const std::string& strText) { ::SetDlgItemTextA(hDlg, nId, strText.c_str()); }
void SetItemText(HWND hDlg, int nId, KxTextId nText) { SetItemText(hDlg, nId, KxText(nText)); }

std::string GetItemText(HWND hDlg, int nId) {
  HWND hItem = ::GetDlgItem(hDlg, nId);
  int nLength = ::GetWindowTextLengthA(hItem);
  std::string strText(static_cast<size_t>(nLength) + 1, '\0');
  int nCopied = ::GetWindowTextA(hItem, &strText[0], nLength + 1);
  strText.resize(static_cast<size_t>(std::max(nCopied, 0)));
  return strText;
}

bool IsChecked(HWND hDlg, int nId) { return ::IsDlgButtonChecked(hDlg, nId) == BST_CHECKED; }
void SetChecked(HWND hDlg, int nId, bool bChecked) { ::CheckDlgButton(hDlg, nId, bChecked ? BST_CHECKED : BST_UNCHECKED); }
void EnableItem(HWND hDlg, int nId, bool bEnabled) { ::EnableWindow(::GetDlgItem(hDlg, nId), bEnabled ? TRUE : FALSE); }

int ShowMessage(HWND hOwner, const CKxCtrlMessage& message, UINT uButtons = MB_OK) {
  return KxWinShowMessage(hOwner, message, uButtons);
}

bool Ask(HWND hOwner, const std::string& strText, const std::string& strTitle, UINT uButtons) {
  CKxCtrlMessage question;
  question.Set(strText, strTitle, KX_ICON_QUESTION);
  int nAnswer = ShowMessage(hOwner, question, uButtons);
  return nAnswer == IDOK || nAnswer == IDYES;
}

void FillCombo(HWND hDlg, int nId, const std::vector<std::string>& items, int nSelected) {
  HWND hCombo = ::GetDlgItem(hDlg, nId);
  ::SendMessageA(hCombo, CB_RESETCONTENT, 0, 0);
  for (const std::string& strItem : items) ::SendMessageA(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(strItem.c_str()));
  ::SendMessageA(hCombo, CB_SETCURSEL, static_cast<WPARAM>(nSelected), 0);
}

int GetComboSelection(HWND hDlg, int nId) {
  return static_cast<int>(::SendDlgItemMessageA(hDlg, nId, CB_GETCURSEL, 0, 0));
}

void AddColumn(HWND hList, int nColumn, KxTextId nText, int nWidth, int nFormat = LVCFMT_LEFT) {
  LVCOLUMNA column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.fmt = nFormat;
  column.cx = nWidth;
  column.pszText = const_cast<char*>(KxText(nText).c_str());
  ::SendMessageA(hList, LVM_INSERTCOLUMNA, static_cast<WPARAM>(nColumn), reinterpret_cast<LPARAM>(&column));
}

int AddRow(HWND hList, const std::vector<std::string>& columns, LPARAM lParam) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = static_cast<int>(::SendMessageA(hList, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = const_cast<char*>(columns[0].c_str());
  item.lParam = lParam;
  int nRow = static_cast<int>(::SendMessageA(hList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  for (size_t i = 1; i < columns.size(); ++i) {
    LVITEMA sub = {};
    sub.iSubItem = static_cast<int>(i);
    sub.pszText = const_cast<char*>(columns[i].c_str());
    ::SendMessageA(hList, LVM_SETITEMTEXTA, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&sub));
  }
  return nRow;
}

void SetCellText(HWND hList, int nRow, int nColumn, const std::string& strText) {
  LVITEMA sub = {};
  sub.iSubItem = nColumn;
  sub.pszText = const_cast<char*>(strText.c_str());
  ::SendMessageA(hList, LVM_SETITEMTEXTA, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&sub));
}

std::string GetCellText(HWND hList, int nRow, int nColumn) {
  char szText[512] = {};
  LVITEMA sub = {};
  sub.iSubItem = nColumn;
  sub.pszText = szText;
  sub.cchTextMax = sizeof(szText);
  ::SendMessageA(hList, LVM_GETITEMTEXTA, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&sub));
  return szText;
}

LPARAM GetRowParam(HWND hList, int nRow) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = nRow;
  ::SendMessageA(hList, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  return item.lParam;
}

int GetRowCount(HWND hList) { return static_cast<int>(::SendMessageA(hList, LVM_GETITEMCOUNT, 0, 0)); }

std::vector<int> GetSelectedRows(HWND hList) {
  std::vector<int> rows;
  int nRow = -1;
  while ((nRow = static_cast<int>(::SendMessageA(hList, LVM_GETNEXTITEM, static_cast<WPARAM>(nRow), LVNI_SELECTED))) >= 0) {
    rows.push_back(nRow);
  }
  return rows;
}

void SetRowChecked(HWND hList, int nRow, bool bChecked) { ListView_SetCheckState(hList, nRow, bChecked ? TRUE : FALSE); }

// The check box of a row changed (not its creation, which moves the state
// image from none to unchecked).
bool IsCheckChange(const NMLISTVIEW* pChange, bool* pbChecked) {
  if ((pChange->uChanged & LVIF_STATE) == 0) return false;
  UINT uOld = (pChange->uOldState & LVIS_STATEIMAGEMASK) >> 12;
  UINT uNew = (pChange->uNewState & LVIS_STATEIMAGEMASK) >> 12;
  if (uOld == 0 || uNew == 0 || uOld == uNew) return false;
  *pbChecked = uNew == 2;
  return true;
}

// ---- Pages -------------------------------------------------------------------

// A page of the sheet: created when first shown; only a created page stores
// anything at OK.
class CKxWinPage {
 public:
  CKxWinPage(CKxWinSheet* pSheet, int nIndex, int nTemplate, KxTextId nTitle)
      : m_pSheet(pSheet), m_nIndex(nIndex), m_nTemplate(nTemplate), m_nTitle(nTitle) {}
  virtual ~CKxWinPage() = default;

  HPROPSHEETPAGE Create();
  bool IsCreated() const { return m_hWnd != nullptr; }
  HWND GetHwnd() const { return m_hWnd; }
  int GetIndex() const { return m_nIndex; }

  static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT uMessage, WPARAM wParam, LPARAM lParam);

 protected:
  virtual void OnInit() {}
  virtual void OnCommand(int /*nId*/, int /*nCode*/) {}
  virtual void OnNotify(NMHDR* /*pHeader*/) {}
  // Moves the control values into the model; FALSE (message shown) keeps the
  // sheet open on this page.
  virtual bool OnApply() { return true; }
  // Shows why a field's value was refused and puts the user back in it.
  bool RefuseField(const CKxCtrlMessage& message, int nField);

  CKxWinSheet* m_pSheet;
  HWND m_hWnd = nullptr;

 private:
  int m_nIndex;
  int m_nTemplate;
  KxTextId m_nTitle;
};

class CKxWinAclPage;

class CKxWinSheet {
 public:
  CKxWinSheet(CKxCtrlConfigFile* pFile, CKxAgentCtrlPluginReader* pReader, const CKxWinCtrlHooks& hooks);

  INT_PTR Show();
  CKxCtrlConfigFile* GetFile() const { return m_pFile; }
  CKxAgentConfigManager* GetManager() const { return m_pFile->GetManager(); }
  CKxAgentCtrlPluginReader* GetReader() const { return m_pReader; }
  const CKxWinCtrlHooks& GetHooks() const { return m_hooks; }
  CKxWinAclPage* GetAclPage() const { return m_pAclPage; }
  // The last created page applies last: it saves the model for the sheet.
  bool IsLastCreatedPage(const CKxWinPage* pPage) const;
  // At OK after every created page stored its values: saves a modified model.
  bool SaveAtOK(HWND hPage);
  HWND GetSheetWindow(HWND hPage) const { return ::GetParent(hPage); }

 private:
  static int CALLBACK SheetCallback(HWND hSheet, UINT uMessage, LPARAM lParam);

  CKxCtrlConfigFile* m_pFile;
  CKxAgentCtrlPluginReader* m_pReader;
  CKxWinCtrlHooks m_hooks;
  std::vector<std::unique_ptr<CKxWinPage>> m_pages;
  CKxWinAclPage* m_pAclPage = nullptr;
};

HPROPSHEETPAGE CKxWinPage::Create() {
  PROPSHEETPAGEA page = {};
  page.dwSize = sizeof(page);
  page.dwFlags = PSP_USETITLE;
  page.hInstance = ::GetModuleHandleA(nullptr);
  page.pszTemplate = MAKEINTRESOURCEA(m_nTemplate);
  page.pszTitle = KxText(m_nTitle).c_str();
  page.pfnDlgProc = DialogProc;
  page.lParam = reinterpret_cast<LPARAM>(this);
  return ::CreatePropertySheetPageA(&page);
}

bool CKxWinPage::RefuseField(const CKxCtrlMessage& message, int nField) {
  ShowMessage(m_hWnd, message);
  HWND hField = ::GetDlgItem(m_hWnd, nField);
  ::SetFocus(hField);
  ::SendMessageA(hField, EM_SETSEL, 0, -1);
  return false;
}

INT_PTR CALLBACK CKxWinPage::DialogProc(HWND hDlg, UINT uMessage, WPARAM wParam, LPARAM lParam) {
  CKxWinPage* pPage = reinterpret_cast<CKxWinPage*>(::GetWindowLongPtrA(hDlg, DWLP_USER));
  switch (uMessage) {
    case WM_INITDIALOG: {
      pPage = reinterpret_cast<CKxWinPage*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
      ::SetWindowLongPtrA(hDlg, DWLP_USER, reinterpret_cast<LONG_PTR>(pPage));
      pPage->m_hWnd = hDlg;
      pPage->OnInit();
      return TRUE;
    }
    case WM_COMMAND:
      if (pPage != nullptr) pPage->OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_NOTIFY: {
      if (pPage == nullptr) return FALSE;
      NMHDR* pHeader = reinterpret_cast<NMHDR*>(lParam);
      if (pHeader->code == PSN_APPLY) {
        LONG_PTR nResult = PSNRET_NOERROR;
        if (!pPage->OnApply()) {
          nResult = PSNRET_INVALID;
        } else if (pPage->m_pSheet->IsLastCreatedPage(pPage) && !pPage->m_pSheet->SaveAtOK(hDlg)) {
          nResult = PSNRET_INVALID_NOCHANGEPAGE;
        }
        ::SetWindowLongPtrA(hDlg, DWLP_MSGRESULT, nResult);
        return TRUE;
      }
      if (pHeader->code == PSN_KILLACTIVE) {
        ::SetWindowLongPtrA(hDlg, DWLP_MSGRESULT, FALSE);
        return TRUE;
      }
      pPage->OnNotify(pHeader);
      return FALSE;
    }
    default:
      return FALSE;
  }
}

// Settings page with the service group.
class CKxWinConfigPage : public CKxWinPage {
 public:
  CKxWinConfigPage(CKxWinSheet* pSheet, int nIndex)
      : CKxWinPage(pSheet, nIndex, IDD_CONFIG_PAGE, KX_TEXT_PAGE_CONFIG),
        m_logic(pSheet->GetManager()),
        m_service(PaintWhileWaiting, this) {}

 protected:
  void OnInit() override {
    SetItemText(m_hWnd, IDC_GROUP_SERIAL, KX_TEXT_GROUP_SERIAL);
    SetItemText(m_hWnd, IDC_LABEL_PORT, KX_TEXT_LABEL_PORT);
    SetItemText(m_hWnd, IDC_LABEL_SPEED, KX_TEXT_LABEL_SPEED);
    SetItemText(m_hWnd, IDC_GROUP_SHELL, KX_TEXT_GROUP_SHELL);
    SetItemText(m_hWnd, IDC_LABEL_ENCODING, KX_TEXT_LABEL_ENCODING);
    SetItemText(m_hWnd, IDC_LABEL_TIMEOUT, KX_TEXT_LABEL_TIMEOUT);
    SetItemText(m_hWnd, IDC_LABEL_SECONDS, KX_TEXT_LABEL_SECONDS);
    SetItemText(m_hWnd, IDC_EVENTLOG, KX_TEXT_CHECK_EVENTLOG);
    SetItemText(m_hWnd, IDC_CPU, KX_TEXT_CHECK_CPU);
    SetItemText(m_hWnd, IDC_HIDE_IMPROPER, KX_TEXT_CHECK_HIDE_IMPROPER);
    SetItemText(m_hWnd, IDC_GROUP_SERVICE, KX_TEXT_GROUP_SERVICE);
    SetItemText(m_hWnd, IDC_START, KX_TEXT_BUTTON_START);
    SetItemText(m_hWnd, IDC_STOP, KX_TEXT_BUTTON_STOP);
    SetItemText(m_hWnd, IDC_STATUS, CKxAgentServiceControl::GetInitialStatus());
    ::SendDlgItemMessageA(m_hWnd, IDC_TIMEOUT, EM_LIMITTEXT, CKxAgentConfigPageLogic::KX_TIMEOUT_FIELD_LENGTH, 0);

    CKxConfigPageValues values = m_logic.Load();
    FillCombo(m_hWnd, IDC_PORT, m_logic.GetPortItems(), values.nPortIndex);
    FillCombo(m_hWnd, IDC_SPEED, CKxAgentConfigPageLogic::GetSpeedItems(), values.nSpeedIndex);
    FillCombo(m_hWnd, IDC_ENCODING, CKxAgentConfigPageLogic::GetEncodingItems(), values.nEncodingIndex);
    SetItemText(m_hWnd, IDC_TIMEOUT, values.strTimeout);
    SetChecked(m_hWnd, IDC_EVENTLOG, values.bEventLogNotification);
    SetChecked(m_hWnd, IDC_CPU, values.bCPUMonitoring);
    SetChecked(m_hWnd, IDC_HIDE_IMPROPER, values.bHiddenImproperCommand);
    // The first query may show a message: after the page is on screen.
    ::PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(kQueryService, 0), 0);
  }

  void OnCommand(int nId, int nCode) override {
    if (nId == kQueryService) {
      ShowService(m_service.Query());
    } else if (nId == IDC_START && nCode == BN_CLICKED) {
      OnStart();
    } else if (nId == IDC_STOP && nCode == BN_CLICKED) {
      RunServiceAction(false);
    }
  }

  bool OnApply() override {
    CKxCtrlMessage message;
    return m_logic.Store(GetValues(), &message) || RefuseField(message, IDC_TIMEOUT);
  }

 private:
  enum { kQueryService = 0x7F01 };

  // The service wait's pause: the sheet is disabled meanwhile, so it takes no
  // input, but it goes on painting.
  static void PaintWhileWaiting(DWORD dwMilliseconds, void* pContext) {
    (void)pContext;
    DWORD dwStart = ::GetTickCount();
    for (;;) {
      DWORD dwElapsed = ::GetTickCount() - dwStart;
      if (dwElapsed >= dwMilliseconds) break;
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, dwMilliseconds - dwElapsed, QS_ALLINPUT);
      MSG msg;
      while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
    }
    ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
  }

  CKxConfigPageValues GetValues() const {
    CKxConfigPageValues values;
    values.nPortIndex = GetComboSelection(m_hWnd, IDC_PORT);
    values.nSpeedIndex = GetComboSelection(m_hWnd, IDC_SPEED);
    values.nEncodingIndex = GetComboSelection(m_hWnd, IDC_ENCODING);
    values.strTimeout = GetItemText(m_hWnd, IDC_TIMEOUT);
    values.bEventLogNotification = IsChecked(m_hWnd, IDC_EVENTLOG);
    values.bCPUMonitoring = IsChecked(m_hWnd, IDC_CPU);
    values.bHiddenImproperCommand = IsChecked(m_hWnd, IDC_HIDE_IMPROPER);
    return values;
  }

  void ShowService(const CKxServiceView& view) {
    for (const CKxCtrlMessage& message : view.messages) ShowMessage(m_hWnd, message);
    EnableItem(m_hWnd, IDC_START, view.bStartEnabled);
    EnableItem(m_hWnd, IDC_STOP, view.bStopEnabled);
    SetItemText(m_hWnd, IDC_STATUS, view.strStatus);
  }

  void OnStart() {
    CKxCtrlMessage message;
    CKxAgentConfigPageLogic::StartCheck nCheck = m_logic.PrepareServiceStart(
        GetValues(), m_pSheet->GetFile(),
        [this](const CKxCtrlMessage& question) {
          return Ask(m_hWnd, question.strText, question.strTitle, MB_OKCANCEL);
        },
        &message);
    if (nCheck == CKxAgentConfigPageLogic::KX_START_FIELD_REFUSED) {
      RefuseField(message, IDC_TIMEOUT);
      return;
    }
    if (nCheck != CKxAgentConfigPageLogic::KX_START_GO) {
      if (!message.IsEmpty()) ShowMessage(m_hWnd, message);
      return;
    }
    RunServiceAction(true);
  }

  void RunServiceAction(bool bStart) {
    ShowService(bStart ? CKxAgentServiceControl::Starting() : CKxAgentServiceControl::Stopping());
    HWND hSheet = ::GetParent(m_hWnd);
    ::EnableWindow(hSheet, FALSE);
    HCURSOR hOld = ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
    CKxServiceView view = bStart ? m_service.Start() : m_service.Stop();
    ::SetCursor(hOld);
    ::EnableWindow(hSheet, TRUE);
    ShowService(view);
  }

  CKxAgentConfigPageLogic m_logic;
  CKxAgentServiceControl m_service;
};

// Access page with the add-account dialog.
class CKxWinAclPage : public CKxWinPage {
 public:
  CKxWinAclPage(CKxWinSheet* pSheet, int nIndex)
      : CKxWinPage(pSheet, nIndex, IDD_ACL_PAGE, KX_TEXT_PAGE_ACL), m_logic(pSheet->GetManager(), pSheet->GetReader()) {}

  // Rebuilds the command list after a plug-in change; nothing before the page
  // has been shown.
  void RebuildCommandList() {
    if (!IsCreated()) return;
    HWND hCommands = ::GetDlgItem(m_hWnd, IDC_COMMANDS);
    m_bSettingChecks = true;
    ::SendMessageA(hCommands, LVM_DELETEALLITEMS, 0, 0);
    for (const CKxCommandRow& row : m_logic.BuildCommandRows()) {
      int nRow = AddRow(hCommands, {row.strDefinition, row.strTypeName, CKxAgentAclPageLogic::GetCheckText(false)},
                        row.nCommandID);
      SetRowChecked(hCommands, nRow, false);
    }
    m_bSettingChecks = false;
    ShowChosenAccount(false);
  }

 protected:
  void OnInit() override {
    SetItemText(m_hWnd, IDC_GROUP_ACCOUNTS, KX_TEXT_GROUP_ACCOUNTS);
    SetItemText(m_hWnd, IDC_CHOOSE, KX_TEXT_BUTTON_CHOOSE);
    SetItemText(m_hWnd, IDC_ADD, KX_TEXT_BUTTON_ADD);
    SetItemText(m_hWnd, IDC_DELETE, KX_TEXT_BUTTON_DELETE);
    SetItemText(m_hWnd, IDC_CHECK_ALL, KX_TEXT_BUTTON_CHECK_ALL);
    SetItemText(m_hWnd, IDC_UNCHECK_ALL, KX_TEXT_BUTTON_UNCHECK_ALL);
    SetItemText(m_hWnd, IDC_SHELL_NOTE, KX_TEXT_SHELL_GRANT_NOTE);
    DWORD dwStyle = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT;
    HWND hAccounts = ::GetDlgItem(m_hWnd, IDC_ACCOUNTS);
    ::SendMessageA(hAccounts, LVM_SETEXTENDEDLISTVIEWSTYLE, dwStyle, dwStyle);
    AddColumn(hAccounts, 0, KX_TEXT_COLUMN_ACCOUNT, 150);
    AddColumn(hAccounts, 1, KX_TEXT_COLUMN_DOMAIN, 200);
    AddColumn(hAccounts, 2, KX_TEXT_COLUMN_LOGON, 70, LVCFMT_CENTER);
    HWND hCommands = ::GetDlgItem(m_hWnd, IDC_COMMANDS);
    ::SendMessageA(hCommands, LVM_SETEXTENDEDLISTVIEWSTYLE, dwStyle, dwStyle);
    AddColumn(hCommands, 0, KX_TEXT_COLUMN_COMMAND, 280);
    AddColumn(hCommands, 1, KX_TEXT_COLUMN_TYPE, 80);
    AddColumn(hCommands, 2, KX_TEXT_COLUMN_RUN, 50, LVCFMT_CENTER);

    m_bSettingChecks = true;
    for (const CKxAccountRow& row : m_logic.GetAccountRows()) AddAccountRow(row);
    m_bSettingChecks = false;
    RebuildCommandList();
  }

  void OnCommand(int nId, int nCode) override {
    if (nCode != BN_CLICKED) return;
    switch (nId) {
      case IDC_CHOOSE: ChooseAccount(); break;
      case IDC_ADD: OnAdd(); break;
      case IDC_DELETE: OnDelete(); break;
      case IDC_CHECK_ALL: SetAllCommands(true); break;
      case IDC_UNCHECK_ALL: SetAllCommands(false); break;
      default: break;
    }
  }

  void OnNotify(NMHDR* pHeader) override {
    if (pHeader->idFrom == IDC_ACCOUNTS && pHeader->code == NM_DBLCLK) {
      ChooseAccount();
      return;
    }
    if (pHeader->code != LVN_ITEMCHANGED) return;
    const NMLISTVIEW* pChange = reinterpret_cast<const NMLISTVIEW*>(pHeader);
    bool bChecked = false;
    if (pChange->iItem < 0 || !IsCheckChange(pChange, &bChecked)) return;
    HWND hList = pHeader->hwndFrom;
    SetCellText(hList, pChange->iItem, 2, CKxAgentAclPageLogic::GetCheckText(bChecked));
    if (m_bSettingChecks) return;
    int nID = static_cast<int>(pChange->lParam);
    if (pHeader->idFrom == IDC_ACCOUNTS) m_logic.SetLogonAllowed(nID, bChecked);
    if (pHeader->idFrom == IDC_COMMANDS) m_logic.SetCommandAllowed(nID, bChecked);
  }

 private:
  static INT_PTR CALLBACK AddDialogProc(HWND hDlg, UINT uMessage, WPARAM wParam, LPARAM lParam);

  int AddAccountRow(const CKxAccountRow& row) {
    HWND hAccounts = ::GetDlgItem(m_hWnd, IDC_ACCOUNTS);
    bool bOld = m_bSettingChecks;
    m_bSettingChecks = true;
    int nRow = AddRow(hAccounts,
                      {row.strAccountName, row.strDomain, CKxAgentAclPageLogic::GetCheckText(row.bLogonAllowed)},
                      row.nAccountID);
    SetRowChecked(hAccounts, nRow, row.bLogonAllowed);
    m_bSettingChecks = bOld;
    return nRow;
  }

  void ShowChosenAccount(bool bChosen) {
    if (!bChosen) m_logic.ClearChosenAccount();
    SetItemText(m_hWnd, IDC_GROUP_COMMANDS, m_logic.GetCommandGroupTitle());
    HWND hCommands = ::GetDlgItem(m_hWnd, IDC_COMMANDS);
    m_bSettingChecks = true;
    for (int i = 0; i < GetRowCount(hCommands); ++i) {
      SetRowChecked(hCommands, i, m_logic.IsCommandAllowed(static_cast<int>(GetRowParam(hCommands, i))));
    }
    m_bSettingChecks = false;
    for (int nId : {IDC_GROUP_COMMANDS, IDC_COMMANDS, IDC_CHECK_ALL, IDC_UNCHECK_ALL}) EnableItem(m_hWnd, nId, bChosen);
  }

  void ChooseAccount() {
    HWND hAccounts = ::GetDlgItem(m_hWnd, IDC_ACCOUNTS);
    std::vector<int> selected = GetSelectedRows(hAccounts);
    if (selected.empty()) {
      ShowChosenAccount(false);
      return;
    }
    bool bChosen = m_logic.ChooseAccount(static_cast<int>(GetRowParam(hAccounts, selected.front()))) != nullptr;
    ShowChosenAccount(bChosen);
  }

  void OnAdd() {
    CAddInput input;
    if (::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ADD_ACCOUNT), m_hWnd, AddDialogProc,
                          reinterpret_cast<LPARAM>(&input)) != IDOK) {
      return;
    }
    CKxCtrlMessage message;
    CKxAccountRow row;
    if (m_logic.AddAccount(input.strAccount, input.bDomain, input.strDomain, &row, &message) < 0) {
      ShowMessage(m_hWnd, message);
      return;
    }
    HWND hAccounts = ::GetDlgItem(m_hWnd, IDC_ACCOUNTS);
    int nRow = AddAccountRow(row);
    ListView_SetItemState(hAccounts, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(hAccounts, nRow, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ChooseAccount();
  }

  void OnDelete() {
    HWND hAccounts = ::GetDlgItem(m_hWnd, IDC_ACCOUNTS);
    std::vector<int> selected = GetSelectedRows(hAccounts);
    if (selected.empty()) return;
    std::vector<std::string> names;
    std::vector<int> ids;
    for (int nRow : selected) {
      names.push_back(GetCellText(hAccounts, nRow, 0));
      ids.push_back(static_cast<int>(GetRowParam(hAccounts, nRow)));
    }
    if (!Ask(m_hWnd, CKxAgentAclPageLogic::GetDeleteQuestion(names), CKxAgentAclPageLogic::GetDeleteTitle(),
             MB_OKCANCEL)) {
      return;
    }
    m_logic.RemoveAccounts(ids);
    ShowChosenAccount(false);
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
      ::SendMessageA(hAccounts, LVM_DELETEITEM, static_cast<WPARAM>(*it), 0);
    }
  }

  void SetAllCommands(bool bChecked) {
    HWND hCommands = ::GetDlgItem(m_hWnd, IDC_COMMANDS);
    for (int i = 0; i < GetRowCount(hCommands); ++i) SetRowChecked(hCommands, i, bChecked);
  }

  struct CAddInput {
    std::string strAccount;
    std::string strDomain;
    bool bDomain = false;
  };

  CKxAgentAclPageLogic m_logic;
  // Set while the page itself sets check marks, so only the user's changes reach the model.
  bool m_bSettingChecks = false;
};

INT_PTR CALLBACK CKxWinAclPage::AddDialogProc(HWND hDlg, UINT uMessage, WPARAM wParam, LPARAM lParam) {
  CAddInput* pInput = reinterpret_cast<CAddInput*>(::GetWindowLongPtrA(hDlg, DWLP_USER));
  auto fnUseDomain = [hDlg](bool bChecked) {
    EnableItem(hDlg, IDC_DOMAIN_PROMPT, bChecked);
    EnableItem(hDlg, IDC_DOMAIN, bChecked);
    if (!bChecked) SetItemText(hDlg, IDC_DOMAIN, std::string());
  };
  switch (uMessage) {
    case WM_INITDIALOG:
      ::SetWindowLongPtrA(hDlg, DWLP_USER, lParam);
      ::SetWindowTextA(hDlg, KxText(KX_TEXT_ADD_TITLE).c_str());
      SetItemText(hDlg, IDC_ACCOUNT_PROMPT, KX_TEXT_ADD_ACCOUNT_PROMPT);
      SetItemText(hDlg, IDC_USE_DOMAIN, KX_TEXT_ADD_USE_DOMAIN);
      SetItemText(hDlg, IDC_DOMAIN_PROMPT, KX_TEXT_ADD_DOMAIN_PROMPT);
      SetItemText(hDlg, IDOK, KX_TEXT_OK);
      SetItemText(hDlg, IDCANCEL, KX_TEXT_CANCEL);
      ::SendDlgItemMessageA(hDlg, IDC_ACCOUNT, EM_LIMITTEXT, CKxAgentAclPageLogic::KX_MAX_NAME_LENGTH, 0);
      ::SendDlgItemMessageA(hDlg, IDC_DOMAIN, EM_LIMITTEXT, CKxAgentAclPageLogic::KX_MAX_NAME_LENGTH, 0);
      fnUseDomain(false);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_USE_DOMAIN:
          fnUseDomain(IsChecked(hDlg, IDC_USE_DOMAIN));
          return TRUE;
        case IDOK: {
          std::string strAccount = GetItemText(hDlg, IDC_ACCOUNT);
          std::string strDomain = GetItemText(hDlg, IDC_DOMAIN);
          bool bDomain = IsChecked(hDlg, IDC_USE_DOMAIN);
          CKxCtrlMessage message;
          bool bAccepted = CKxAgentAclPageLogic::CheckAccountInput(&strAccount, bDomain, &strDomain, &message);
          SetItemText(hDlg, IDC_ACCOUNT, strAccount);
          SetItemText(hDlg, IDC_DOMAIN, strDomain);
          if (!bAccepted) {
            ShowMessage(hDlg, message);
            return TRUE;
          }
          pInput->strAccount = strAccount;
          pInput->strDomain = strDomain;
          pInput->bDomain = bDomain;
          ::EndDialog(hDlg, IDOK);
          return TRUE;
        }
        case IDCANCEL:
          ::EndDialog(hDlg, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

// Log page.
class CKxWinLogPage : public CKxWinPage {
 public:
  CKxWinLogPage(CKxWinSheet* pSheet, int nIndex)
      : CKxWinPage(pSheet, nIndex, IDD_LOG_PAGE, KX_TEXT_PAGE_LOG), m_logic(pSheet->GetManager()) {}

 protected:
  void OnInit() override {
    const std::pair<int, KxTextId> texts[] = {
        {IDC_GROUP_LOG, KX_TEXT_GROUP_LOG},
        {IDC_LOG, KX_TEXT_CHECK_LOG},
        {IDC_GROUP_LEVELS, KX_TEXT_GROUP_LEVELS},
        {IDC_ERROR, KX_TEXT_CHECK_ERROR},
        {IDC_ERROR_TEXT, KX_TEXT_ERROR_DESCRIPTION},
        {IDC_WARNING, KX_TEXT_CHECK_WARNING},
        {IDC_WARNING_TEXT, KX_TEXT_WARNING_DESCRIPTION},
        {IDC_INFO, KX_TEXT_CHECK_INFO},
        {IDC_INFO_TEXT, KX_TEXT_INFO_DESCRIPTION},
        {IDC_DEBUG, KX_TEXT_CHECK_DEBUG},
        {IDC_DEBUG_TEXT, KX_TEXT_DEBUG_DESCRIPTION},
        {IDC_GROUP_FILES, KX_TEXT_GROUP_LOG_FILES},
        {IDC_LABEL_DIRECTORY, KX_TEXT_LABEL_LOG_DIRECTORY},
        {IDC_OPEN_DIRECTORY, KX_TEXT_BUTTON_OPEN_DIRECTORY},
        {IDC_CHANGE_DIRECTORY, KX_TEXT_BUTTON_CHANGE_DIRECTORY},
        {IDC_LIMIT, KX_TEXT_CHECK_LOG_LIMIT},
        {IDC_LABEL_SIZE, KX_TEXT_LABEL_MAX_SIZE},
        {IDC_LABEL_MB, KX_TEXT_LABEL_MB},
        {IDC_SIZE_NOTE, KX_TEXT_SIZE_RANGE_NOTE},
        {IDC_WARNING_NOTE, KX_TEXT_SIZE_WARNING_NOTE},
    };
    for (const auto& text : texts) SetItemText(m_hWnd, text.first, text.second);
    ::SendDlgItemMessageA(m_hWnd, IDC_MAX_SIZE, EM_LIMITTEXT, CKxAgentLogPageLogic::KX_SIZE_FIELD_LENGTH, 0);
    CKxLogPageValues values = m_logic.Load();
    m_bFilling = true;
    SetChecked(m_hWnd, IDC_LOG, values.bLogEnabled);
    SetChecked(m_hWnd, IDC_ERROR, values.bErrorLog);
    SetChecked(m_hWnd, IDC_WARNING, values.bWarningLog);
    SetChecked(m_hWnd, IDC_INFO, values.bInfoLog);
    SetChecked(m_hWnd, IDC_DEBUG, values.bDebugLog);
    SetChecked(m_hWnd, IDC_LIMIT, values.bLimit);
    SetItemText(m_hWnd, IDC_DIRECTORY, values.strDirectory);
    SetItemText(m_hWnd, IDC_MAX_SIZE, values.strMaxSize);
    m_bFilling = false;
    UpdateEnabling();
  }

  void OnCommand(int nId, int nCode) override {
    static const std::pair<int, CKxAgentLogPageLogic::Switch> switches[] = {
        {IDC_LOG, CKxAgentLogPageLogic::KX_LOG},         {IDC_ERROR, CKxAgentLogPageLogic::KX_ERROR},
        {IDC_WARNING, CKxAgentLogPageLogic::KX_WARNING}, {IDC_INFO, CKxAgentLogPageLogic::KX_INFO},
        {IDC_DEBUG, CKxAgentLogPageLogic::KX_DEBUG},     {IDC_LIMIT, CKxAgentLogPageLogic::KX_LIMIT},
    };
    if (m_bFilling) return;
    for (const auto& entry : switches) {
      if (entry.first == nId && nCode == BN_CLICKED) {
        m_logic.SetSwitch(entry.second, IsChecked(m_hWnd, nId));
        UpdateEnabling();
        return;
      }
    }
    if (nId == IDC_MAX_SIZE && nCode == EN_CHANGE) {
      m_logic.OnSizeTyped(GetItemText(m_hWnd, IDC_MAX_SIZE));
    } else if (nId == IDC_CHANGE_DIRECTORY && nCode == BN_CLICKED) {
      OnChange();
    } else if (nId == IDC_OPEN_DIRECTORY && nCode == BN_CLICKED) {
      m_pSheet->GetHooks().fnOpen(m_hWnd, GetItemText(m_hWnd, IDC_DIRECTORY));
    }
  }

  bool OnApply() override {
    CKxCtrlMessage message;
    return m_logic.Store(GetValues(), &message) || RefuseField(message, IDC_MAX_SIZE);
  }

 private:
  CKxLogPageValues GetValues() const {
    CKxLogPageValues values;
    values.bLogEnabled = IsChecked(m_hWnd, IDC_LOG);
    values.bErrorLog = IsChecked(m_hWnd, IDC_ERROR);
    values.bWarningLog = IsChecked(m_hWnd, IDC_WARNING);
    values.bInfoLog = IsChecked(m_hWnd, IDC_INFO);
    values.bDebugLog = IsChecked(m_hWnd, IDC_DEBUG);
    values.bLimit = IsChecked(m_hWnd, IDC_LIMIT);
    values.strDirectory = GetItemText(m_hWnd, IDC_DIRECTORY);
    values.strMaxSize = GetItemText(m_hWnd, IDC_MAX_SIZE);
    return values;
  }

  void UpdateEnabling() {
    CKxLogPageEnabling enabling = CKxAgentLogPageLogic::GetEnabling(GetValues());
    for (int nId : {IDC_ERROR, IDC_WARNING, IDC_INFO, IDC_DEBUG}) EnableItem(m_hWnd, nId, enabling.bLevels);
    EnableItem(m_hWnd, IDC_ERROR_TEXT, enabling.bErrorText);
    EnableItem(m_hWnd, IDC_WARNING_TEXT, enabling.bWarningText);
    EnableItem(m_hWnd, IDC_INFO_TEXT, enabling.bInfoText);
    EnableItem(m_hWnd, IDC_DEBUG_TEXT, enabling.bDebugText);
    for (int nId : {IDC_LABEL_DIRECTORY, IDC_DIRECTORY, IDC_OPEN_DIRECTORY, IDC_CHANGE_DIRECTORY}) {
      EnableItem(m_hWnd, nId, enabling.bDirectory);
    }
    EnableItem(m_hWnd, IDC_LIMIT, enabling.bLimit);
    for (int nId : {IDC_LABEL_SIZE, IDC_MAX_SIZE, IDC_LABEL_MB, IDC_SIZE_NOTE, IDC_WARNING_NOTE}) {
      EnableItem(m_hWnd, nId, enabling.bSize);
    }
  }

  void OnChange() {
    std::string strCurrent = GetItemText(m_hWnd, IDC_DIRECTORY);
    std::string strChosen =
        m_pSheet->GetHooks().fnChooseFolder(m_hWnd, CKxAgentLogPageLogic::GetBrowseTitle(), strCurrent);
    CKxCtrlMessage message;
    if (!m_logic.ChangeDirectory(strCurrent, strChosen, &message)) return;
    SetItemText(m_hWnd, IDC_DIRECTORY, strChosen);
    ShowMessage(m_hWnd, message);
  }

  CKxAgentLogPageLogic m_logic;
  bool m_bFilling = false;
};

// Plug-in page.
class CKxWinPluginPage : public CKxWinPage {
 public:
  CKxWinPluginPage(CKxWinSheet* pSheet, int nIndex)
      : CKxWinPage(pSheet, nIndex, IDD_PLUGIN_PAGE, KX_TEXT_PAGE_PLUGIN),
        m_logic(pSheet->GetFile(), pSheet->GetReader()) {}

 protected:
  void OnInit() override {
    SetItemText(m_hWnd, IDC_GROUP_INSTALLED, KX_TEXT_GROUP_INSTALLED);
    SetItemText(m_hWnd, IDC_INSTALL, KX_TEXT_BUTTON_INSTALL);
    SetItemText(m_hWnd, IDC_UNINSTALL, KX_TEXT_BUTTON_UNINSTALL);
    SetItemText(m_hWnd, IDC_GROUP_PLUGIN_COMMANDS, KX_TEXT_GROUP_PLUGIN_COMMANDS);
    SetItemText(m_hWnd, IDC_GROUP_PLUGIN_INFO, KX_TEXT_GROUP_PLUGIN_INFO);
    SetItemText(m_hWnd, IDC_GROUP_OPTION, KX_TEXT_GROUP_OPTION);
    SetItemText(m_hWnd, IDC_SCRIPTS, KX_TEXT_CHECK_SCRIPTS);
    HWND hPlugins = ::GetDlgItem(m_hWnd, IDC_PLUGINS);
    DWORD dwStyle = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_INFOTIP;
    ::SendMessageA(hPlugins, LVM_SETEXTENDEDLISTVIEWSTYLE, dwStyle, dwStyle);
    AddColumn(hPlugins, 0, KX_TEXT_COLUMN_PLUGIN_NAME, 200);
    AddColumn(hPlugins, 1, KX_TEXT_COLUMN_TYPE, 80);
    AddColumn(hPlugins, 2, KX_TEXT_COLUMN_VERSION, 80);
    AddColumn(hPlugins, 3, KX_TEXT_COLUMN_COMMAND_COUNT, 80, LVCFMT_RIGHT);
    m_bSettingOption = true;
    SetChecked(m_hWnd, IDC_SCRIPTS, m_pSheet->GetManager()->IsScriptPluginSupport() != FALSE);
    m_bSettingOption = false;
    for (const CKxPluginRow& row : m_logic.BuildRows(&m_failures)) AddPluginRow(row);
    ShowPlugin(0);
    // Load failures are told once the page is on screen.
    if (!m_failures.empty()) ::PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(kShowFailures, 0), 0);
  }

  void OnCommand(int nId, int nCode) override {
    if (nId == kShowFailures) {
      std::vector<CKxCtrlMessage> failures;
      failures.swap(m_failures);
      for (const CKxCtrlMessage& message : failures) ShowMessage(m_hWnd, message);
      return;
    }
    if (nCode != BN_CLICKED) return;
    if (nId == IDC_INSTALL) OnInstall();
    if (nId == IDC_UNINSTALL) OnUninstall();
    if (nId == IDC_SCRIPTS && !m_bSettingOption) OnScriptOption(IsChecked(m_hWnd, IDC_SCRIPTS));
  }

  void OnNotify(NMHDR* pHeader) override {
    if (pHeader->idFrom != IDC_PLUGINS) return;
    if (pHeader->code == LVN_ITEMCHANGED) {
      const NMLISTVIEW* pChange = reinterpret_cast<const NMLISTVIEW*>(pHeader);
      if (pChange->iItem >= 0 && (pChange->uChanged & LVIF_STATE) && (pChange->uNewState & LVIS_SELECTED) &&
          !(pChange->uOldState & LVIS_SELECTED)) {
        ShowPlugin(static_cast<int>(pChange->lParam));
      }
    } else if (pHeader->code == LVN_GETINFOTIPA) {
      NMLVGETINFOTIPA* pTip = reinterpret_cast<NMLVGETINFOTIPA*>(pHeader);
      std::string strTip = TooltipOf(pTip->iItem);
      if (pTip->cchTextMax > 0) ::lstrcpynA(pTip->pszText, strTip.c_str(), pTip->cchTextMax);
    } else if (pHeader->code == LVN_GETINFOTIPW) {
      NMLVGETINFOTIPW* pTip = reinterpret_cast<NMLVGETINFOTIPW*>(pHeader);
      std::string strTip = TooltipOf(pTip->iItem);
      if (pTip->cchTextMax > 0) {
        int nLength = ::MultiByteToWideChar(CP_ACP, 0, strTip.c_str(), -1, pTip->pszText, pTip->cchTextMax);
        if (nLength == 0) pTip->pszText[0] = L'\0';
      }
    }
  }

  bool OnApply() override {
    m_logic.Store(IsChecked(m_hWnd, IDC_SCRIPTS));
    return true;
  }

 private:
  enum { kShowFailures = 0x7F02 };

  std::string TooltipOf(int nRow) const {
    if (nRow < 0) return std::string();
    auto it = m_tooltips.find(static_cast<int>(GetRowParam(::GetDlgItem(m_hWnd, IDC_PLUGINS), nRow)));
    return it == m_tooltips.end() ? std::string() : it->second;
  }

  void AddPluginRow(const CKxPluginRow& row) {
    AddRow(::GetDlgItem(m_hWnd, IDC_PLUGINS), {row.strName, row.strTypeName, row.strVersion, row.strCommandCount},
           row.nPluginID);
    m_tooltips[row.nPluginID] = row.strTooltip;
  }

  void DeletePluginRow(int nRow) {
    HWND hPlugins = ::GetDlgItem(m_hWnd, IDC_PLUGINS);
    m_tooltips.erase(static_cast<int>(GetRowParam(hPlugins, nRow)));
    ::SendMessageA(hPlugins, LVM_DELETEITEM, static_cast<WPARAM>(nRow), 0);
  }

  void ShowPlugin(int nPluginID) {
    std::vector<std::string> commands;
    std::string strInformation;
    if (!m_logic.Show(nPluginID, &commands, &strInformation)) return;
    HWND hCommands = ::GetDlgItem(m_hWnd, IDC_PLUGIN_COMMANDS);
    ::SendMessageA(hCommands, LB_RESETCONTENT, 0, 0);
    for (const std::string& strCommand : commands) {
      ::SendMessageA(hCommands, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(strCommand.c_str()));
    }
    SetItemText(m_hWnd, IDC_PLUGIN_INFO, strInformation);
  }

  void AfterChange(const CKxCtrlMessage& saveMessage) {
    if (CKxWinAclPage* pAclPage = m_pSheet->GetAclPage()) pAclPage->RebuildCommandList();
    if (!saveMessage.IsEmpty()) ShowMessage(m_hWnd, saveMessage);
  }

  void OnInstall() {
    CKxCtrlMessage message;
    if (!m_logic.CanInstall(&message)) {
      ShowMessage(m_hWnd, message);
      return;
    }
    // "Name (*.dll;*.js)\0*.dll;*.js\0\0"; shared objects are no Windows plug-ins.
    std::string strPatterns;
    for (const std::string& strPattern : m_logic.GetFilePatterns()) {
      if (strPattern == "*.so") continue;
      strPatterns += (strPatterns.empty() ? "" : ";") + strPattern;
    }
    std::string strFilter = m_logic.GetFileFilterName() + " (" + strPatterns + ")";
    strFilter += '\0';
    strFilter += strPatterns;
    strFilter += '\0';
    std::string strPath = m_pSheet->GetHooks().fnChooseFile(m_hWnd, strFilter);
    if (strPath.empty()) return;
    CKxPluginRow row;
    bool bSaveFailed = false;
    if (!m_logic.Install(strPath, &row, &message, &bSaveFailed)) {
      ShowMessage(m_hWnd, message);
      return;
    }
    if (row.nPluginID >= 0) AddPluginRow(row);
    AfterChange(bSaveFailed ? message : CKxCtrlMessage());
  }

  void OnUninstall() {
    HWND hPlugins = ::GetDlgItem(m_hWnd, IDC_PLUGINS);
    std::vector<int> selected = GetSelectedRows(hPlugins);
    if (selected.empty()) return;
    int nRow = selected.front();
    int nPluginID = static_cast<int>(GetRowParam(hPlugins, nRow));
    CKxPluginRow row;
    row.strName = GetCellText(hPlugins, nRow, 0);
    row.strTypeName = GetCellText(hPlugins, nRow, 1);
    CKxCtrlMessage message;
    std::string strQuestion;
    if (!m_logic.CheckUninstall(nPluginID, row, &message, &strQuestion)) {
      if (!message.IsEmpty()) ShowMessage(m_hWnd, message);
      return;
    }
    if (!Ask(m_hWnd, strQuestion, CKxAgentPluginPageLogic::GetUninstallTitle(), MB_YESNO)) return;
    bool bSaved = m_logic.Uninstall(nPluginID, &message);
    DeletePluginRow(nRow);
    AfterChange(bSaved ? CKxCtrlMessage() : message);
  }

  void OnScriptOption(bool bChecked) {
    if (bChecked) {
      HCURSOR hOld = ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
      m_logic.TurnScriptsOn();
      ::SetCursor(hOld);
      return;
    }
    if (!Ask(m_hWnd, CKxAgentPluginPageLogic::GetScriptOffQuestion(), CKxAgentPluginPageLogic::GetScriptOffTitle(),
             MB_YESNO)) {
      m_bSettingOption = true;
      SetChecked(m_hWnd, IDC_SCRIPTS, true);
      m_bSettingOption = false;
      return;
    }
    CKxCtrlMessage message;
    std::vector<int> removed = m_logic.TurnScriptsOff(&message);
    HWND hPlugins = ::GetDlgItem(m_hWnd, IDC_PLUGINS);
    for (int i = GetRowCount(hPlugins) - 1; i >= 0; --i) {
      int nID = static_cast<int>(GetRowParam(hPlugins, i));
      if (std::find(removed.begin(), removed.end(), nID) != removed.end()) DeletePluginRow(i);
    }
    AfterChange(message);
  }

  CKxAgentPluginPageLogic m_logic;
  std::map<int, std::string> m_tooltips;  // by plug-in ID
  std::vector<CKxCtrlMessage> m_failures;
  bool m_bSettingOption = false;
};

// Version page.
class CKxWinVersionPage : public CKxWinPage {
 public:
  CKxWinVersionPage(CKxWinSheet* pSheet, int nIndex)
      : CKxWinPage(pSheet, nIndex, IDD_VERSION_PAGE, KX_TEXT_PAGE_VERSION) {}

 protected:
  void OnInit() override {
    HICON hIcon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1));
    if (hIcon == nullptr) hIcon = ::LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
    ::SendDlgItemMessageA(m_hWnd, IDC_VERSION_ICON, STM_SETICON, reinterpret_cast<WPARAM>(hIcon), 0);
    SetItemText(m_hWnd, IDC_PRODUCT_NAME, KX_TEXT_PRODUCT_NAME);
    SetItemText(m_hWnd, IDC_VERSION, KxFormatText(KX_TEXT_VERSION, kKxCtrlVersion));
    SetItemText(m_hWnd, IDC_PRODUCT_NOTE, KX_TEXT_PRODUCT_NOTE);
    SetItemText(m_hWnd, IDC_WEB_PAGE, KX_TEXT_PRODUCT_URL);
    LOGFONTA font = {};
    HFONT hFont = reinterpret_cast<HFONT>(::SendDlgItemMessageA(m_hWnd, IDC_PRODUCT_NAME, WM_GETFONT, 0, 0));
    if (hFont != nullptr && ::GetObjectA(hFont, sizeof(font), &font) != 0) {
      font.lfWeight = FW_BOLD;
      m_hBold = ::CreateFontIndirectA(&font);
      ::SendDlgItemMessageA(m_hWnd, IDC_PRODUCT_NAME, WM_SETFONT, reinterpret_cast<WPARAM>(m_hBold), TRUE);
    }
  }

  void OnCommand(int nId, int nCode) override {
    if (nId != IDC_WEB_PAGE || nCode != BN_CLICKED) return;
    INT_PTR nResult = m_pSheet->GetHooks().fnOpen(m_hWnd, KxText(KX_TEXT_PRODUCT_URL));
    if (nResult <= 32) {
      CKxCtrlMessage message;
      message.Set(KxFormatText(KX_TEXT_BROWSER_FAILED, static_cast<long>(nResult)),
                  KxText(KX_TEXT_BROWSER_FAILED_TITLE), KX_ICON_ERROR);
      ShowMessage(m_hWnd, message);
    }
  }

 public:
  ~CKxWinVersionPage() override {
    if (m_hBold != nullptr) ::DeleteObject(m_hBold);
  }

 private:
  HFONT m_hBold = nullptr;
};

// ---- The sheet -----------------------------------------------------------------

CKxWinSheet::CKxWinSheet(CKxCtrlConfigFile* pFile, CKxAgentCtrlPluginReader* pReader, const CKxWinCtrlHooks& hooks)
    : m_pFile(pFile), m_pReader(pReader), m_hooks(hooks) {
  m_pages.push_back(std::make_unique<CKxWinConfigPage>(this, 0));
  m_pages.push_back(std::make_unique<CKxWinPluginPage>(this, 1));
  auto pAclPage = std::make_unique<CKxWinAclPage>(this, 2);
  m_pAclPage = pAclPage.get();
  m_pages.push_back(std::move(pAclPage));
  m_pages.push_back(std::make_unique<CKxWinLogPage>(this, 3));
  m_pages.push_back(std::make_unique<CKxWinVersionPage>(this, 4));
}

bool CKxWinSheet::IsLastCreatedPage(const CKxWinPage* pPage) const {
  for (size_t i = static_cast<size_t>(pPage->GetIndex()) + 1; i < m_pages.size(); ++i) {
    if (m_pages[i]->IsCreated()) return false;
  }
  return true;
}

bool CKxWinSheet::SaveAtOK(HWND hPage) {
  CKxCtrlMessage message;
  if (m_pFile->SaveAtOK(&message)) return true;
  if (!message.IsEmpty()) ShowMessage(hPage, message);
  return false;
}

int CALLBACK CKxWinSheet::SheetCallback(HWND hSheet, UINT uMessage, LPARAM /*lParam*/) {
  if (uMessage == PSCB_INITIALIZED) {
    // The sheet's own buttons in the tool's language, whatever the system's.
    SetItemText(hSheet, IDOK, KX_TEXT_OK);
    SetItemText(hSheet, IDCANCEL, KX_TEXT_CANCEL);
  }
  return 0;
}

INT_PTR CKxWinSheet::Show() {
  std::vector<HPROPSHEETPAGE> handles;
  for (const auto& pPage : m_pages) handles.push_back(pPage->Create());
  PROPSHEETHEADERA header = {};
  header.dwSize = sizeof(header);
  header.dwFlags = PSH_NOAPPLYNOW | PSH_USECALLBACK;
  header.hwndParent = nullptr;
  header.hInstance = ::GetModuleHandleA(nullptr);
  header.pszCaption = KxText(KX_TEXT_SHEET_CAPTION).c_str();
  header.nPages = static_cast<UINT>(handles.size());
  header.phpage = handles.data();
  header.pfnCallback = SheetCallback;
  m_pFile->SetAsker([](const CKxCtrlMessage& question) {
    return ShowMessage(::GetActiveWindow(), question, MB_YESNO) == IDYES;
  });
  INT_PTR nResult = ::PropertySheetA(&header);
  m_pFile->SetAsker(nullptr);
  return nResult > 0 ? IDOK : (nResult == 0 ? IDCANCEL : -1);
}

std::string ChooseFile(HWND hOwner, const std::string& strFilter) {
  char szPath[MAX_PATH] = {};
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = hOwner;
  dialog.lpstrFilter = strFilter.c_str();
  dialog.lpstrFile = szPath;
  dialog.nMaxFile = sizeof(szPath);
  dialog.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  return ::GetOpenFileNameA(&dialog) ? std::string(szPath) : std::string();
}

int CALLBACK BrowseCallback(HWND hBrowser, UINT uMessage, LPARAM /*lParam*/, LPARAM lpData) {
  if (uMessage == BFFM_INITIALIZED && lpData != 0) ::SendMessageA(hBrowser, BFFM_SETSELECTIONA, TRUE, lpData);
  return 0;
}

std::string ChooseFolder(HWND hOwner, const std::string& strTitle, const std::string& strStart) {
  BROWSEINFOA browse = {};
  browse.hwndOwner = hOwner;
  browse.lpszTitle = strTitle.c_str();
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  browse.lpfn = BrowseCallback;
  browse.lParam = reinterpret_cast<LPARAM>(strStart.c_str());
  LPITEMIDLIST pList = ::SHBrowseForFolderA(&browse);
  if (pList == nullptr) return std::string();
  char szPath[MAX_PATH] = {};
  bool bPath = ::SHGetPathFromIDListA(pList, szPath) != FALSE;
  ::CoTaskMemFree(pList);
  return bPath ? std::string(szPath) : std::string();
}

}  // namespace

CKxWinCtrlHooks KxWinDefaultHooks() {
  CKxWinCtrlHooks hooks;
  hooks.fnChooseFile = ChooseFile;
  hooks.fnChooseFolder = ChooseFolder;
  hooks.fnOpen = [](HWND hOwner, const std::string& strTarget) {
    return reinterpret_cast<INT_PTR>(::ShellExecuteA(hOwner, nullptr, strTarget.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  };
  return hooks;
}

INT_PTR KxWinShowSheet(CKxCtrlConfigFile* pFile, CKxAgentCtrlPluginReader* pReader, const CKxWinCtrlHooks& hooks) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  CKxWinSheet sheet(pFile, pReader, hooks);
  return sheet.Show();
}

int KxWinShowMessage(HWND hOwner, const CKxCtrlMessage& message, UINT uButtons) {
  UINT uIcon = MB_ICONERROR;
  switch (message.nIcon) {
    case KX_ICON_EXCLAMATION: uIcon = MB_ICONEXCLAMATION; break;
    case KX_ICON_QUESTION: uIcon = MB_ICONQUESTION; break;
    case KX_ICON_INFORMATION: uIcon = MB_ICONINFORMATION; break;
    default: break;
  }
  return ::MessageBoxA(hOwner, message.strText.c_str(), message.strTitle.c_str(), uButtons | uIcon);
}
