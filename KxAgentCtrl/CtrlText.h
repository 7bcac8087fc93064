// Texts of the configuration tool: conversions between the configuration's
// code page 932 strings and Qt strings, the message record the page logic hands
// to the widgets, the framework's integer check and the checked save.
#pragma once

#include <QString>
#include <string>

class CKxAgentConfigManager;

// The icon of a message box.
enum KxMessageIcon {
  KX_ICON_ERROR,
  KX_ICON_EXCLAMATION,
  KX_ICON_QUESTION,
  KX_ICON_INFORMATION,
};

// A message for the user: the widgets show it in a message box; an empty text
// means there is nothing to show.
struct CKxCtrlMessage {
  QString strText;
  QString strTitle;
  int nIcon = KX_ICON_ERROR;

  bool IsEmpty() const { return strText.isEmpty(); }
  void Set(const QString& strNewText, const QString& strNewTitle, int nNewIcon) {
    strText = strNewText;
    strTitle = strNewTitle;
    nIcon = nNewIcon;
  }
};

// Code page 932 (null reads as "") -> Qt string.
QString KxToQt(const char* lpCp932);
// Qt string -> code page 932; characters without a mapping become '?'.
std::string KxToCp932(const QString& str);

// The title of the framework's own messages.
extern const char* const kKxFrameworkTitle;

// The framework's integer field check: the text, blanks around it ignored, must
// be a decimal integer from nMin to nMax. TRUE with *pnValue set, else FALSE
// with the framework's message in *pMessage.
bool KxParseIntegerField(const QString& strText, int nMin, int nMax, int* pnValue,
                         CKxCtrlMessage* pMessage);

// Writes sysconfig.xml. TRUE on success; FALSE with a message naming the file
// when it could not be written (the model stays modified then).
bool KxSaveSystemConfig(CKxAgentConfigManager* pManager, CKxCtrlMessage* pMessage);
