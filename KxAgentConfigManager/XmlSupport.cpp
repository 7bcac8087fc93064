#include "KxAgentConfigManager/XmlSupport.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "platform/native_path.h"
#include "platform/replace_file.h"
#include "platform/text_encoding.h"

using namespace xercesc;

namespace kx {
namespace config {
namespace {

constexpr CXmlName kLoadSaveFeature(u"LS");

const char* SeverityText(DOMError::ErrorSeverity severity) {
  switch (severity) {
    case DOMError::DOM_SEVERITY_WARNING:
      return "Warning at file";
    case DOMError::DOM_SEVERITY_ERROR:
      return "Error at file";
    default:
      return "Fatal Error at file";
  }
}

void PrintParseProblem(const char* lpSeverity, const std::string& strUri, long long llLine,
                       long long llColumn, const std::string& strMessage) {
  std::printf("\n%s: %s\n  Line=%d, Column=%d\n  Message: %s\n", lpSeverity, strUri.c_str(),
              static_cast<int>(llLine), static_cast<int>(llColumn), strMessage.c_str());
  std::fflush(stdout);
}

void AppendUtf8(std::string& strOut, char32_t ch) {
  if (ch < 0x80) {
    strOut += static_cast<char>(ch);
  } else if (ch < 0x800) {
    strOut += static_cast<char>(0xC0 | (ch >> 6));
    strOut += static_cast<char>(0x80 | (ch & 0x3F));
  } else if (ch < 0x10000) {
    strOut += static_cast<char>(0xE0 | (ch >> 12));
    strOut += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    strOut += static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    strOut += static_cast<char>(0xF0 | (ch >> 18));
    strOut += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
    strOut += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    strOut += static_cast<char>(0x80 | (ch & 0x3F));
  }
}

// The UTF-8 text comes from the code page converter, so it is well formed;
// anything else still decodes to U+FFFD rather than failing.
XmlString Utf8ToUtf16(const std::string& strUtf8) {
  XmlString strOut;
  size_t i = 0;
  const size_t n = strUtf8.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(strUtf8[i]);
    char32_t ch = 0xFFFD;
    size_t nLen = 1;
    if (c < 0x80) {
      ch = c;
    } else if ((c & 0xE0) == 0xC0) {
      nLen = 2;
      ch = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      nLen = 3;
      ch = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      nLen = 4;
      ch = c & 0x07;
    }
    if (nLen > 1) {
      bool bValid = i + nLen <= n;
      for (size_t k = 1; bValid && k < nLen; ++k) {
        unsigned char cc = static_cast<unsigned char>(strUtf8[i + k]);
        if ((cc & 0xC0) != 0x80) bValid = false;
        ch = (ch << 6) | (cc & 0x3F);
      }
      if (!bValid || ch > 0x10FFFF) {
        ch = 0xFFFD;
        nLen = 1;
      }
    } else if (c >= 0x80) {
      ch = 0xFFFD;
    }
    i += nLen;
    if (ch >= 0x10000) {
      ch -= 0x10000;
      strOut += static_cast<XMLCh>(0xD800 + (ch >> 10));
      strOut += static_cast<XMLCh>(0xDC00 + (ch & 0x3FF));
    } else {
      strOut += static_cast<XMLCh>(ch);
    }
  }
  return strOut;
}

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Shared by both number readers: the sign and the magnitude, saturated just
// above the 32-bit range so that overflow stays visible.
void ParseDecimal(const std::string& strText, bool* pbNegative, std::uint64_t* pqwValue,
                  bool* pbOverflow) {
  size_t i = 0;
  while (i < strText.size() && IsCSpace(strText[i])) ++i;
  *pbNegative = false;
  if (i < strText.size() && (strText[i] == '+' || strText[i] == '-')) {
    *pbNegative = strText[i] == '-';
    ++i;
  }
  std::uint64_t qwValue = 0;
  bool bOverflow = false;
  for (; i < strText.size() && strText[i] >= '0' && strText[i] <= '9'; ++i) {
    qwValue = qwValue * 10 + static_cast<std::uint64_t>(strText[i] - '0');
    if (qwValue > 0xFFFFFFFFull) {
      bOverflow = true;
      qwValue = 0x100000000ull;
    }
  }
  *pqwValue = qwValue;
  *pbOverflow = bOverflow;
}

// ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, or ERROR_ACCESS_DENIED for anything
// else that is no readable plain file.
DWORD ReadWholeFile(const std::string& strPath, std::string* pBytes) {
  std::error_code ec;
  std::filesystem::path path = ToFileSystemPath(strPath);
  std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) return ERROR_FILE_NOT_FOUND;
  if (status.type() != std::filesystem::file_type::regular) return ERROR_ACCESS_DENIED;
  std::ifstream in(path, std::ios::binary);
  if (!in) return ERROR_ACCESS_DENIED;
  pBytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.bad() ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

}  // namespace

XmlString ModelToXml(const std::string& strCp932) {
  XmlString strText = Utf8ToUtf16(Cp932ToUtf8(strCp932));
  // XML 1.0 has no form at all for these; the serializer would refuse the
  // whole document, and with it every other setting.
  for (XMLCh& ch : strText) {
    if ((ch < 0x20 && ch != 0x09 && ch != 0x0A && ch != 0x0D) || ch == 0xFFFE || ch == 0xFFFF) ch = u'?';
  }
  return strText;
}

std::string XmlToUtf8(const XMLCh* lpText) {
  std::string strOut;
  if (!lpText) return strOut;
  for (size_t i = 0; lpText[i] != 0; ++i) {
    char32_t ch = lpText[i];
    if (ch >= 0xD800 && ch <= 0xDBFF && lpText[i + 1] >= 0xDC00 && lpText[i + 1] <= 0xDFFF) {
      ch = 0x10000 + ((ch - 0xD800) << 10) + (lpText[i + 1] - 0xDC00);
      ++i;
    } else if (ch >= 0xD800 && ch <= 0xDFFF) {
      ch = 0xFFFD;
    }
    AppendUtf8(strOut, ch);
  }
  return strOut;
}

std::string XmlToModel(const XMLCh* lpText) { return Utf8ToCp932(XmlToUtf8(lpText)); }

DWORD ReadNumber(const std::string& strText) {
  bool bNegative = false;
  bool bOverflow = false;
  std::uint64_t qwValue = 0;
  ParseDecimal(strText, &bNegative, &qwValue, &bOverflow);
  if (bOverflow) return 0xFFFFFFFFu;
  DWORD dwValue = static_cast<DWORD>(qwValue);
  return bNegative ? static_cast<DWORD>(0u - dwValue) : dwValue;
}

int ReadInteger(const std::string& strText) {
  bool bNegative = false;
  bool bOverflow = false;
  std::uint64_t qwValue = 0;
  ParseDecimal(strText, &bNegative, &qwValue, &bOverflow);
  if (bNegative) {
    if (bOverflow || qwValue > 0x80000000ull) return INT32_MIN;
    return static_cast<int>(-static_cast<std::int64_t>(qwValue));
  }
  if (bOverflow || qwValue > 0x7FFFFFFFull) return INT32_MAX;
  return static_cast<int>(qwValue);
}

bool IsElementNamed(const DOMNode* pNode, const XMLCh* lpName) {
  return pNode && pNode->getNodeType() == DOMNode::ELEMENT_NODE &&
         XMLString::compareString(pNode->getNodeName(), lpName) == 0;
}

DOMElement* FirstChildElement(const DOMNode* pParent, const XMLCh* lpName) {
  if (!pParent) return nullptr;
  for (DOMNode* pChild = pParent->getFirstChild(); pChild; pChild = pChild->getNextSibling()) {
    if (IsElementNamed(pChild, lpName)) return static_cast<DOMElement*>(pChild);
  }
  return nullptr;
}

std::string ElementText(const DOMElement* pElement) {
  if (!pElement) return std::string();
  for (DOMNode* pChild = pElement->getFirstChild(); pChild; pChild = pChild->getNextSibling()) {
    DOMNode::NodeType type = pChild->getNodeType();
    if (type == DOMNode::TEXT_NODE || type == DOMNode::CDATA_SECTION_NODE) {
      return XmlToModel(pChild->getNodeValue());
    }
  }
  return std::string();
}

bool ReadAttribute(const DOMElement* pElement, const XMLCh* lpName, std::string* pValue) {
  const DOMAttr* pAttr = pElement ? pElement->getAttributeNode(lpName) : nullptr;
  if (!pAttr) return false;
  *pValue = XmlToModel(pAttr->getValue());
  return true;
}

bool CConfigErrorHandler::handleError(const DOMError& domError) {
  const DOMLocator* pLocator = domError.getLocation();
  long long llLine = pLocator ? static_cast<long long>(pLocator->getLineNumber()) : 0;
  long long llColumn = pLocator ? static_cast<long long>(pLocator->getColumnNumber()) : 0;
  if (!m_bErrorSeen) {
    m_strFirstProblem = XmlToModel(pLocator ? pLocator->getURI() : nullptr) + ": line " + std::to_string(llLine) +
                        ", column " + std::to_string(llColumn) + ": " + XmlToModel(domError.getMessage());
  }
  m_bErrorSeen = true;
  if (m_bPrint) {
    PrintParseProblem(SeverityText(static_cast<DOMError::ErrorSeverity>(domError.getSeverity())),
                      XmlToUtf8(pLocator ? pLocator->getURI() : nullptr), llLine, llColumn,
                      XmlToUtf8(domError.getMessage()));
  }
  return false;
}

CConfigFileReader::CConfigFileReader(bool bPrint) : m_bPrint(bPrint), m_errorHandler(bPrint) {
  DOMImplementation* pImpl = DOMImplementationRegistry::getDOMImplementation(kLoadSaveFeature);
  m_pParser = pImpl->createLSParser(DOMImplementationLS::MODE_SYNCHRONOUS, nullptr);
  DOMConfiguration* pConfig = m_pParser->getDomConfig();
  pConfig->setParameter(XMLUni::fgDOMErrorHandler, &m_errorHandler);
  pConfig->setParameter(XMLUni::fgDOMValidate, false);
  pConfig->setParameter(XMLUni::fgDOMNamespaces, false);
  pConfig->setParameter(XMLUni::fgXercesLoadExternalDTD, false);
  pConfig->setParameter(XMLUni::fgXercesDisableDefaultEntityResolution, true);
  pConfig->setParameter(XMLUni::fgXercesSecurityManager, &m_securityManager);
}

CConfigFileReader::~CConfigFileReader() {
  if (m_pParser) m_pParser->release();
}

DOMElement* CConfigFileReader::Parse(const std::string& strPath) {
  std::string strBytes;
  std::string strPathUtf8 = Cp932ToUtf8(strPath);
  m_dwProblem = ReadWholeFile(strPath, &strBytes);
  if (m_dwProblem != ERROR_SUCCESS) {
    m_strProblem = strPath + ": " + FormatSystemMessage(m_dwProblem);
    // Same report the library gives for a document it cannot open itself.
    if (m_bPrint) {
      PrintParseProblem("Fatal Error at file", strPathUtf8, 0, 0,
                        "unable to open primary document entity '" + strPathUtf8 + "'");
    }
    return nullptr;
  }
  XmlString strSystemId = Utf8ToUtf16(strPathUtf8);
  MemBufInputSource source(reinterpret_cast<const XMLByte*>(strBytes.data()), strBytes.size(),
                           strSystemId.c_str(), false);
  Wrapper4InputSource input(&source, false);
  DOMDocument* pDocument = m_pParser->parse(&input);
  // After a reported problem the document is only the part before it; a half
  // configuration is worse than the one already in the model.
  if (!pDocument || m_errorHandler.IsErrorSeen()) {
    m_dwProblem = ERROR_INVALID_DATA;
    m_strProblem = m_errorHandler.IsErrorSeen() ? m_errorHandler.GetFirstProblem() : strPath + ": no document";
    return nullptr;
  }
  return pDocument->getDocumentElement();
}

void PrintLoadException(const XMLException& e) {
  std::printf("\nError during parsing: %s\n", XmlToUtf8(e.getMessage()).c_str());
  std::fflush(stdout);
}

void PrintLoadException(const DOMException& e) {
  std::printf("\nDOM Error during parsing. DOMException code is = %d.\n", static_cast<int>(e.code));
  std::fflush(stdout);
}

void PrintUnexpectedLoadException() {
  std::printf("\nUnexpected exception during parsing.\n");
  std::fflush(stdout);
}

BOOL ReplaceFileContents(const std::string& strPath, const std::string& strBytes) {
  return ReplaceFileDurably(ToNativePath(strPath).c_str(), strBytes) == 0 ? TRUE : FALSE;
}

}  // namespace config
}  // namespace kx
