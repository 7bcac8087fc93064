#include "platform/windows_win.h"

#include "platform/text_encoding.h"

namespace kx {
namespace {

const UINT kCodePage932 = 932;

std::wstring ToWide(UINT uCodePage, const std::string& strText) {
  if (strText.empty()) return std::wstring();
  int nSize = ::MultiByteToWideChar(uCodePage, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0);
  if (nSize <= 0) return std::wstring();
  std::wstring strWide(static_cast<size_t>(nSize), L'\0');
  ::MultiByteToWideChar(uCodePage, 0, strText.data(), static_cast<int>(strText.size()), &strWide[0], nSize);
  return strWide;
}

// Characters without a mapping become '?' (the UTF-8 code page takes no default character).
std::string FromWide(UINT uCodePage, const std::wstring& strWide) {
  if (strWide.empty()) return std::string();
  const char* lpDefault = uCodePage == CP_UTF8 ? nullptr : "?";
  int nSize = ::WideCharToMultiByte(uCodePage, 0, strWide.data(), static_cast<int>(strWide.size()), nullptr, 0,
                                    lpDefault, nullptr);
  if (nSize <= 0) return std::string();
  std::string strText(static_cast<size_t>(nSize), '\0');
  ::WideCharToMultiByte(uCodePage, 0, strWide.data(), static_cast<int>(strWide.size()), &strText[0], nSize,
                        lpDefault, nullptr);
  return strText;
}

}  // namespace

std::string Utf8ToCp932(const std::string& utf8) {
  // Code page 932 maps no character beyond U+FFFF: a surrogate pair is one '?'.
  std::wstring strWide = ToWide(CP_UTF8, utf8);
  std::wstring strBmp;
  for (size_t i = 0; i < strWide.size(); ++i) {
    bool bPair = strWide[i] >= 0xD800 && strWide[i] <= 0xDBFF && i + 1 < strWide.size() &&
                 strWide[i + 1] >= 0xDC00 && strWide[i + 1] <= 0xDFFF;
    strBmp += bPair ? L'?' : strWide[i];
    if (bPair) ++i;
  }
  return FromWide(kCodePage932, strBmp);
}

std::string Cp932ToUtf8(const std::string& cp932) { return FromWide(CP_UTF8, ToWide(kCodePage932, cp932)); }

std::wstring AnsiToWide(const std::string& strText) { return ToWide(CP_ACP, strText); }

std::string WideToAnsi(const std::wstring& strText) { return FromWide(CP_ACP, strText); }

}  // namespace kx
