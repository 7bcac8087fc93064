// What the page logic hands to a front-end besides values: the message record
// (texts in code page 932), the framework's integer check, and the one place
// the tool writes the configuration file.
#pragma once

#include <functional>
#include <string>

#include "KxAgentCtrl/CtrlTexts.h"

class CKxAgentConfigManager;

// The icon of a message box.
enum KxMessageIcon {
  KX_ICON_ERROR,
  KX_ICON_EXCLAMATION,
  KX_ICON_QUESTION,
  KX_ICON_INFORMATION,
};

// A message for the user: the front-end shows it in a message box; an empty
// text means there is nothing to show.
struct CKxCtrlMessage {
  std::string strText;
  std::string strTitle;
  int nIcon = KX_ICON_ERROR;

  bool IsEmpty() const { return strText.empty(); }
  void Set(const std::string& strNewText, const std::string& strNewTitle, int nNewIcon) {
    strText = strNewText;
    strTitle = strNewTitle;
    nIcon = nNewIcon;
  }
};

// The framework's integer field check: the text, blanks around it ignored, must
// be a decimal integer from nMin to nMax. TRUE with *pnValue set, else FALSE
// with the framework's message in *pMessage.
bool KxParseIntegerField(const std::string& strText, int nMin, int nMax, int* pnValue, CKxCtrlMessage* pMessage);

// The text without blanks (space, tab, CR, LF) at either end.
std::string KxTrim(const std::string& strText);
// The text with the ASCII letters in lower case; double-byte characters stay.
std::string KxToLower(const std::string& strText);

// The configuration file as the tool reads and writes it. A file that exists
// but cannot be read is never replaced unasked: the first save asks (through
// the front-end's question) and keeps the old file beside it as
// "<file>.bad" before writing.
class CKxCtrlConfigFile {
 public:
  // Asks a yes/no question; TRUE for yes.
  typedef std::function<bool(const CKxCtrlMessage&)> Asker;

  explicit CKxCtrlConfigFile(CKxAgentConfigManager* pManager) : m_pManager(pManager) {}

  CKxAgentConfigManager* GetManager() const { return m_pManager; }
  void SetAsker(Asker fnAsk) { m_fnAsk = std::move(fnAsk); }

  // Loads the configuration into the manager. FALSE when the file exists but
  // could not be read, with the message naming it and the reason in *pMessage;
  // a missing file is no problem (the defaults stand).
  bool Load(CKxCtrlMessage* pMessage);
  // TRUE while the file on disk is one the tool could not read.
  bool IsUnreadable() const { return m_bUnreadable; }
  // Where the unreadable file is kept when it is replaced.
  std::string GetKeptCopyPath() const;

  // Writes the configuration. For an unreadable file asks first; no (FALSE,
  // *pMessage empty) writes nothing. FALSE with the message when the old file
  // could not be kept or the file could not be written (the model stays
  // modified then).
  bool Save(CKxCtrlMessage* pMessage);
  // At the sheet's OK, once every shown page stored its values: saves a
  // modified model as Save does; TRUE without writing when nothing changed.
  bool SaveAtOK(CKxCtrlMessage* pMessage);

 private:
  CKxAgentConfigManager* m_pManager;
  Asker m_fnAsk;
  bool m_bUnreadable = false;
};
