#include "platform/script_engine.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kx {

CScriptValue CScriptValue::MakeString(const char* lpText) {
  CScriptValue value;
  value.m_nType = KX_VALUE_STRING;
  value.m_strText = lpText != nullptr ? lpText : "";
  return value;
}

CScriptValue CScriptValue::MakeNumber(double dNumber) {
  CScriptValue value;
  value.m_nType = KX_VALUE_NUMBER;
  value.m_dNumber = dNumber;
  return value;
}

CScriptValue CScriptValue::MakeStringArray(const std::vector<std::string>& vecItems) {
  CScriptValue value;
  value.m_nType = KX_VALUE_STRING_ARRAY;
  value.m_vecItems = vecItems;
  return value;
}

BOOL CScriptValue::GetText(std::string* pstrText) const {
  std::string strText;
  switch (m_nType) {
    case KX_VALUE_EMPTY:
      break;
    case KX_VALUE_STRING:
    case KX_VALUE_BOOLEAN:
      strText = m_strText;
      break;
    case KX_VALUE_NUMBER:
      // A number built on this side has no engine text yet; write it as an integer
      // when it is one.
      if (!m_strText.empty()) {
        strText = m_strText;
      } else {
        char szNumber[64];
        if (std::floor(m_dNumber) == m_dNumber && std::fabs(m_dNumber) < 1e15) {
          std::snprintf(szNumber, sizeof(szNumber), "%.0f", m_dNumber);
        } else {
          std::snprintf(szNumber, sizeof(szNumber), "%.17g", m_dNumber);
        }
        strText = szNumber;
      }
      break;
    default:
      return FALSE;
  }
  if (pstrText != nullptr) *pstrText = strText;
  return TRUE;
}

BOOL CScriptValue::GetShort(short* pnValue) const {
  double dNumber = 0;
  switch (m_nType) {
    case KX_VALUE_EMPTY:
      break;
    case KX_VALUE_NUMBER:
      dNumber = m_dNumber;
      break;
    case KX_VALUE_BOOLEAN:
      dNumber = m_dNumber != 0 ? -1 : 0;
      break;
    case KX_VALUE_STRING: {
      const char* lpText = m_strText.c_str();
      char* lpEnd = nullptr;
      dNumber = std::strtod(lpText, &lpEnd);
      while (lpEnd != nullptr && (*lpEnd == ' ' || *lpEnd == '\t')) ++lpEnd;
      if (lpEnd == lpText || lpEnd == nullptr || *lpEnd != '\0') return FALSE;
      break;
    }
    default:
      return FALSE;
  }
  if (!std::isfinite(dNumber)) return FALSE;
  dNumber = std::nearbyint(dNumber);
  if (dNumber < -32768.0 || dNumber > 32767.0) return FALSE;
  if (pnValue != nullptr) *pnValue = static_cast<short>(dNumber);
  return TRUE;
}

}  // namespace kx
