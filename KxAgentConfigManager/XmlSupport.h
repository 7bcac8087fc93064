// Helpers shared by the readers and the writer of the configuration files:
// element names, text conversion between the model's code page 932 and the XML
// library's UTF-16, the value rules of the file formats, the parse error report
// and whole-file reading and replacing. Internal to this library.
#pragma once

#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>

#include <cstddef>
#include <string>

#include "platform/kx_types.h"

namespace kx {
namespace config {

// Text in the library's own character type. XMLCh holds UTF-16 code units; it
// is char16_t or wchar_t depending on how the library was built.
typedef std::basic_string<XMLCh> XmlString;

// A name in the library's character type, made from a UTF-16 literal at compile
// time: it needs no conversion at run time and outlives the library's termination.
template <std::size_t N>
struct CXmlName {
  constexpr CXmlName(const char16_t (&szText)[N]) : m_szText() {
    for (std::size_t i = 0; i < N; ++i) m_szText[i] = static_cast<XMLCh>(szText[i]);
  }
  constexpr operator const XMLCh*() const { return m_szText; }

  XMLCh m_szText[N];
};

// Every element and attribute name of sysconfig.xml and command.xml.
namespace name {
constexpr CXmlName kSystemConfig(u"system-config");
constexpr CXmlName kSystem(u"system");
constexpr CXmlName kMaxComPort(u"maxcomport");
constexpr CXmlName kComPort(u"comport");
constexpr CXmlName kPort(u"port");
constexpr CXmlName kSpeed(u"speed");
constexpr CXmlName kOutputEncoding(u"output-encoding");
constexpr CXmlName kLogonTimeout(u"logon-timeout");
constexpr CXmlName kEventLogNotification(u"eventlog-notification");
constexpr CXmlName kExecutionImproperCommand(u"execution-improper-command");
constexpr CXmlName kCpuMonitoring(u"cpu-monitoring");
constexpr CXmlName kScriptPluginSupport(u"script-plugin-support");
constexpr CXmlName kLogSetting(u"log-setting");
constexpr CXmlName kLogDir(u"logdir");
constexpr CXmlName kLogFileLimit(u"logfile-limit");
constexpr CXmlName kLogFileMaxSize(u"logfilemaxsize");
constexpr CXmlName kLogging(u"logging");
constexpr CXmlName kLog(u"log");
constexpr CXmlName kSeverity(u"severity");
constexpr CXmlName kPluginEntry(u"plugin-entry");
constexpr CXmlName kPlugin(u"plugin");
constexpr CXmlName kPluginId(u"plugin-id");
constexpr CXmlName kLibrary(u"library");
constexpr CXmlName kType(u"type");
constexpr CXmlName kLogonAccount(u"logon-account");
constexpr CXmlName kAccount(u"account");
constexpr CXmlName kId(u"id");
constexpr CXmlName kLogon(u"logon");
constexpr CXmlName kDomain(u"domain");
constexpr CXmlName kAccountName(u"account-name");
constexpr CXmlName kDomainName(u"domain-name");
constexpr CXmlName kAllowCommands(u"allow-commands");
constexpr CXmlName kCommand(u"command");
constexpr CXmlName kCommandSet(u"commandset");
constexpr CXmlName kCommandLineDef(u"command-line-def");
constexpr CXmlName kPluginCommandId(u"plugin-command-id");
}  // namespace name

// Code page 932 -> UTF-16 for writing. Invalid bytes become U+FFFD; control
// characters that XML 1.0 cannot carry become '?'.
XmlString ModelToXml(const std::string& strCp932);
// UTF-16 -> code page 932. Null reads as ""; unmappable characters become '?'.
std::string XmlToModel(const XMLCh* lpText);
// UTF-16 -> UTF-8, for messages on standard output and for file system paths.
std::string XmlToUtf8(const XMLCh* lpText);

// number(): an unsigned 32-bit decimal read like a base-10 strtoul of a 32-bit
// unsigned long: leading white space, optional sign, digits up to the first
// non-digit; no digits gives 0, overflow gives 0xFFFFFFFF.
DWORD ReadNumber(const std::string& strText);
// integer() / long(): the signed 32-bit counterpart; overflow saturates.
int ReadInteger(const std::string& strText);

// True when the node is an element with exactly that name.
bool IsElementNamed(const xercesc::DOMNode* pNode, const XMLCh* lpName);
// The first direct child element named lpName, or null.
xercesc::DOMElement* FirstChildElement(const xercesc::DOMNode* pParent, const XMLCh* lpName);
// The value of the element's first text child in code page 932; "" when the
// element is null or has no text child.
std::string ElementText(const xercesc::DOMElement* pElement);
// Reads an attribute into *pValue (code page 932); false, *pValue untouched,
// when the attribute is missing.
bool ReadAttribute(const xercesc::DOMElement* pElement, const XMLCh* lpName, std::string* pValue);

// Prints the report of one parse problem to standard output (unless told not
// to), keeps the first one as one line of text, and answers "stop".
class CConfigErrorHandler : public xercesc::DOMErrorHandler {
 public:
  explicit CConfigErrorHandler(bool bPrint = true) : m_bPrint(bPrint) {}
  bool handleError(const xercesc::DOMError& domError) override;
  bool IsErrorSeen() const { return m_bErrorSeen; }
  // "<file>: line L, column C: <message>" (code page 932) of the first problem.
  const std::string& GetFirstProblem() const { return m_strFirstProblem; }

 private:
  bool m_bPrint;
  bool m_bErrorSeen = false;
  std::string m_strFirstProblem;
};

// Parses one configuration file. The document belongs to the reader and lives
// until the reader is destroyed; construct and destroy between Initialize and
// Terminate. Hostile input cannot reach other files (no external entities) nor
// expand entities without bound.
class CConfigFileReader {
 public:
  // bPrint: whether problems are printed to standard output as they are found.
  explicit CConfigFileReader(bool bPrint = true);
  ~CConfigFileReader();
  CConfigFileReader(const CConfigFileReader&) = delete;
  CConfigFileReader& operator=(const CConfigFileReader&) = delete;

  // The document element of the file at strPath (code page 932), or null when
  // the file cannot be read or reported any problem; the problem has then been
  // printed. May throw the XML library's exceptions; see RunGuardedLoad.
  xercesc::DOMElement* Parse(const std::string& strPath);
  // After Parse returned null: ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED (not a
  // readable plain file) or ERROR_INVALID_DATA (the library reported a
  // problem), and the problem as one line naming the file (code page 932).
  DWORD GetProblemCode() const { return m_dwProblem; }
  const std::string& GetProblem() const { return m_strProblem; }

 private:
  xercesc::DOMLSParser* m_pParser = nullptr;
  bool m_bPrint;
  DWORD m_dwProblem = 0;
  std::string m_strProblem;
  xercesc::SecurityManager m_securityManager;
  CConfigErrorHandler m_errorHandler;
};

// Print an exception that ended a load, in the forms the readers report them.
void PrintLoadException(const xercesc::XMLException& e);
void PrintLoadException(const xercesc::DOMException& e);
void PrintUnexpectedLoadException();

// Runs a loading step, printing any exception it raises; returns normally in
// every case.
template <typename F>
void RunGuardedLoad(F fnLoad) {
  try {
    fnLoad();
  } catch (const xercesc::XMLException& e) {
    PrintLoadException(e);
  } catch (const xercesc::DOMException& e) {
    PrintLoadException(e);
  } catch (...) {
    PrintUnexpectedLoadException();
  }
}

// Replaces the file at strPath (code page 932) with the given bytes: they go
// to a temporary file in the same directory, which is renamed over the old file
// only once it is complete. FALSE, old file untouched, on any failure.
BOOL ReplaceFileContents(const std::string& strPath, const std::string& strBytes);

}  // namespace config
}  // namespace kx
