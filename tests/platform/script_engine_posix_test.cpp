// Script engines: values in and out, the missing engine, and the bounds on a
// script's time and memory.
#include <gtest/gtest.h>

#include <string>

#include "platform/script_engine.h"

namespace {

using kx::CScriptEngine;
using kx::CScriptValue;

// Calls "f" of lpScript with the arguments; the result as text, or "<failed>".
std::string CallText(const char* lpScript, const std::vector<CScriptValue>& vecArguments) {
  CScriptEngine engine("JScript");
  if (!engine.ParseScript(lpScript)) return "<parse failed>";
  CScriptValue result;
  std::string strText;
  if (!engine.InvokeFunction("f", vecArguments.data(), static_cast<unsigned>(vecArguments.size()),
                             &result) ||
      !result.GetText(&strText)) {
    return "<failed>";
  }
  return strText;
}

TEST(ScriptEngineTest, PassesValuesAndConvertsResultsToText) {
  struct {
    const char* lpScript;
    std::vector<CScriptValue> vecArguments;
    const char* lpExpected;
  } const kCases[] = {
      {"function f(a, b) { return typeof a + ':' + a + ',' + typeof b + ':' + b; }",
       {CScriptValue::MakeString("hi"), CScriptValue::MakeNumber(1)}, "string:hi,number:1"},
      {"function f(a, b) { return typeof a + ',' + typeof b; }", {CScriptValue(), CScriptValue()},
       "undefined,undefined"},
      {"function f(a) { return a.length + ':' + a.join('/'); }",
       {CScriptValue::MakeStringArray({"x", "", "z"})}, "3:x//z"},
      // Code page 932 on our side, characters on the engine's: two characters in, out again.
      {"function f(a) { return a.length + ':' + a; }", {CScriptValue::MakeString("\x8a\xc7\x97\x9d")},
       "2:\x8a\xc7\x97\x9d"},
      {"function f() { return 42; }", {}, "42"},
      {"function f() { return 1.5; }", {}, "1.5"},
      {"function f() { return true; }", {}, "true"},
      {"function f() { }", {}, ""},
      {"function f() { return null; }", {}, "<failed>"},
      {"function f() { return {}; }", {}, "<failed>"},
      {"function f() { throw new Error('x'); }", {}, "<failed>"},
      {"var f = 3;", {}, "<failed>"},
      {"function g() { return 1; }", {}, "<failed>"},
      {"function f( {", {}, "<parse failed>"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.lpExpected, CallText(c.lpScript, c.vecArguments)) << c.lpScript;
  }
}

TEST(ScriptEngineTest, ReadsResultsAsSixteenBitNumbers) {
  struct {
    CScriptValue value;
    BOOL bExpected;
    short nExpected;
  } const kCases[] = {
      {CScriptValue::MakeNumber(7), TRUE, 7},
      {CScriptValue::MakeNumber(-32768), TRUE, -32768},
      {CScriptValue::MakeNumber(32768), FALSE, 0},
      {CScriptValue::MakeNumber(2.5), TRUE, 2},
      {CScriptValue::MakeString(" 12 "), TRUE, 12},
      {CScriptValue::MakeString("12a"), FALSE, 0},
      {CScriptValue::MakeString(""), FALSE, 0},
      {CScriptValue(), TRUE, 0},
      {CScriptValue::MakeStringArray({"1"}), FALSE, 0},
  };
  for (const auto& c : kCases) {
    short nValue = 0;
    EXPECT_EQ(c.bExpected, c.value.GetShort(&nValue)) << c.value.m_dNumber << c.value.m_strText;
    if (c.bExpected) {
      EXPECT_EQ(c.nExpected, nValue);
    }
  }
}

TEST(ScriptEngineTest, ALanguageWithoutAnEngineFailsEveryCall) {
  for (const char* lpLanguage : {"Perl", ""}) {
    CScriptEngine engine(lpLanguage);
    EXPECT_FALSE(engine.IsCreated());
    EXPECT_FALSE(engine.ParseScript("function f() { return 1; }"));
    EXPECT_FALSE(engine.InvokeFunction("f", nullptr, 0, nullptr));
  }
}

TEST(ScriptEngineTest, EndlessLoopsAndRunawayMemoryFailTheCallAndLeaveTheEngineUsable) {
  CScriptEngine engine("JScript");
  engine.SetCallTimeLimit(200);
  ASSERT_TRUE(engine.ParseScript(
      "function spin() { while (true) {} }"
      "function stubborn() { for (;;) { try { while (true) {} } catch (e) {} } }"
      "function hog() { var a = [], s = 'x'; for (;;) { s = s + s; a.push(s); } }"
      "function ok() { return 'ok'; }"));
  EXPECT_FALSE(engine.InvokeFunction("spin", nullptr, 0, nullptr));
  EXPECT_FALSE(engine.InvokeFunction("stubborn", nullptr, 0, nullptr));
  engine.SetCallTimeLimit(0);  // only the heap's bound can stop this one
  EXPECT_FALSE(engine.InvokeFunction("hog", nullptr, 0, nullptr));
  CScriptValue result;
  ASSERT_TRUE(engine.InvokeFunction("ok", nullptr, 0, &result));
  EXPECT_EQ("ok", result.m_strText);
  // Top-level code runs within the same limit.
  CScriptEngine other("JScript");
  other.SetCallTimeLimit(200);
  EXPECT_FALSE(other.ParseScript("while (true) {}"));
}

}  // namespace
