// Script engines: an engine for a scripting language created by name, script text
// parsed into it, and global script functions called with simple values. On
// Windows the system's Active Scripting engines ("JScript", "VBScript"); here
// "JScript" is an embedded ECMAScript engine and there is no "VBScript".
//
// Text on the product's side is code page 932; the engine's side uses its own
// strings. Each engine has a bounded heap, and each parse and call a run-time
// limit after which it fails like a script error, so a script can neither hang
// nor exhaust its host. An engine is used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/kx_types.h"

namespace kx {

// A value passed to a script function or returned by one.
class CScriptValue {
 public:
  enum {
    KX_VALUE_EMPTY = 0,      // no value (undefined / Empty)
    KX_VALUE_STRING = 1,     // m_strText
    KX_VALUE_NUMBER = 2,     // m_dNumber (results also carry the engine's text form)
    KX_VALUE_STRING_ARRAY = 3,  // m_vecItems, lower bound 0
    KX_VALUE_BOOLEAN = 4,    // results only: m_dNumber 0 or 1, and the engine's text form
    KX_VALUE_OTHER = 5,      // results only: null, an object or anything else
  };

  CScriptValue() : m_nType(KX_VALUE_EMPTY), m_dNumber(0) {}
  static CScriptValue MakeString(const char* lpText);
  static CScriptValue MakeNumber(double dNumber);
  static CScriptValue MakeStringArray(const std::vector<std::string>& vecItems);

  // The value as text (code page 932): strings as they are, numbers and truth values
  // as the engine writes them, no value as an empty text. FALSE for arrays and others.
  BOOL GetText(std::string* pstrText) const;
  // The value as a 16-bit signed integer: numbers rounded to the nearest, strings that
  // hold a number, truth values as -1 and 0, no value as 0. FALSE when the value is
  // out of range or not a number.
  BOOL GetShort(short* pnValue) const;

  int m_nType;
  std::string m_strText;
  double m_dNumber;
  std::vector<std::string> m_vecItems;
};

class CScriptEngine {
 public:
  enum {
    KX_HEAP_LIMIT_BYTES = 16 * 1024 * 1024,  // per engine
    KX_CALL_TIME_LIMIT_MS = 5000,            // per parse or call, by default
  };

  // Creates the engine of lpLanguage ("JScript" or "VBScript"). When this system
  // has no such engine the object exists but IsCreated() is FALSE and every later
  // call fails.
  explicit CScriptEngine(const char* lpLanguage);
  // Closes the engine and frees everything the scripts made.
  ~CScriptEngine();
  CScriptEngine(const CScriptEngine&) = delete;
  CScriptEngine& operator=(const CScriptEngine&) = delete;

  BOOL IsCreated() const;
  // Sets the run-time limit of each later parse and call, in milliseconds (0: none).
  void SetCallTimeLimit(DWORD dwMilliseconds);
  // Adds the script text (code page 932) to the engine and runs its top-level code.
  // FALSE on a syntax error, a script error, the time limit or a missing engine.
  BOOL ParseScript(const char* lpText);
  // Calls the global function lpName with the nCount values of pArguments (first
  // argument first) and stores its return value in *pResult (may be null). FALSE when
  // the function does not exist, the call raises an error or runs out of time, or an
  // argument cannot be passed.
  BOOL InvokeFunction(const char* lpName, const CScriptValue* pArguments, unsigned nCount,
                      CScriptValue* pResult);

 private:
  struct CImpl;
  std::unique_ptr<CImpl> m_pImpl;
};

}  // namespace kx
