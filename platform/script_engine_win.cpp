// Script engines on Windows: the system's Active Scripting engines, created by
// their names through COM. Each engine lives on a worker thread of its own (a
// single-threaded apartment, as the engines require), and every parse and call
// runs there; the caller waits, and interrupts the script when the time limit
// passes. Text crosses as code page 932 on this side and BSTR on the engine's.
#include "platform/windows_win.h"

#include <initguid.h>
#include <activscp.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/script_engine.h"

namespace kx {
namespace {

const UINT kCodePage932 = 932;

BSTR ToBstr(const std::string& strText) {
  int nSize = ::MultiByteToWideChar(kCodePage932, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0);
  BSTR bstr = ::SysAllocStringLen(nullptr, static_cast<UINT>(nSize));
  if (bstr != nullptr && nSize > 0) {
    ::MultiByteToWideChar(kCodePage932, 0, strText.data(), static_cast<int>(strText.size()), bstr, nSize);
  }
  return bstr;
}

std::string FromBstr(BSTR bstr) {
  if (bstr == nullptr) return std::string();
  int nLength = static_cast<int>(::SysStringLen(bstr));
  int nSize = ::WideCharToMultiByte(kCodePage932, 0, bstr, nLength, nullptr, 0, "?", nullptr);
  std::string strText(static_cast<size_t>(nSize), '\0');
  if (nSize > 0) ::WideCharToMultiByte(kCodePage932, 0, bstr, nLength, &strText[0], nSize, "?", nullptr);
  return strText;
}

// The host side the engine talks to: no named items, errors recorded.
class CScriptSite : public IActiveScriptSite {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IActiveScriptSite) {
      *ppv = static_cast<IActiveScriptSite*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Owned by the engine's implementation object, which outlives the engine.
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR, DWORD, IUnknown** ppunk, ITypeInfo** ppti) override {
    if (ppunk != nullptr) *ppunk = nullptr;
    if (ppti != nullptr) *ppti = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError*) override {
    m_bError = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

  bool m_bError = false;
};

// A value from this side as a VARIANT; FALSE when it cannot be passed.
bool ToVariant(const CScriptValue& value, VARIANT* pVariant) {
  ::VariantInit(pVariant);
  switch (value.m_nType) {
    case CScriptValue::KX_VALUE_EMPTY:
      return true;
    case CScriptValue::KX_VALUE_STRING:
      pVariant->vt = VT_BSTR;
      pVariant->bstrVal = ToBstr(value.m_strText);
      return pVariant->bstrVal != nullptr;
    case CScriptValue::KX_VALUE_NUMBER:
      // Whole numbers go as integers, which VBScript's loops and indexes expect.
      if (value.m_dNumber == static_cast<double>(static_cast<LONG>(value.m_dNumber))) {
        pVariant->vt = VT_I4;
        pVariant->lVal = static_cast<LONG>(value.m_dNumber);
      } else {
        pVariant->vt = VT_R8;
        pVariant->dblVal = value.m_dNumber;
      }
      return true;
    case CScriptValue::KX_VALUE_STRING_ARRAY: {
      SAFEARRAY* pArray = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(value.m_vecItems.size()));
      if (pArray == nullptr) return false;
      for (LONG i = 0; i < static_cast<LONG>(value.m_vecItems.size()); ++i) {
        VARIANT item;
        item.vt = VT_BSTR;
        item.bstrVal = ToBstr(value.m_vecItems[static_cast<size_t>(i)]);
        ::SafeArrayPutElement(pArray, &i, &item);  // copies the item
        ::VariantClear(&item);
      }
      pVariant->vt = VT_ARRAY | VT_VARIANT;
      pVariant->parray = pArray;
      return true;
    }
    default:
      return false;
  }
}

// bJScript: truth values read "true"/"false" as JScript writes them, else
// "True"/"False" as VBScript does.
CScriptValue FromVariant(VARIANT* pVariant, bool bJScript) {
  CScriptValue value;
  switch (pVariant->vt) {
    case VT_EMPTY:
      value.m_nType = CScriptValue::KX_VALUE_EMPTY;
      return value;
    case VT_BSTR:
      value.m_nType = CScriptValue::KX_VALUE_STRING;
      value.m_strText = FromBstr(pVariant->bstrVal);
      return value;
    case VT_BOOL:
      value.m_nType = CScriptValue::KX_VALUE_BOOLEAN;
      value.m_dNumber = pVariant->boolVal != VARIANT_FALSE ? 1 : 0;
      if (bJScript) {
        value.m_strText = value.m_dNumber != 0 ? "true" : "false";
      } else {
        value.m_strText = value.m_dNumber != 0 ? "True" : "False";
      }
      return value;
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: {
      value.m_nType = CScriptValue::KX_VALUE_NUMBER;
      VARIANT number;
      ::VariantInit(&number);
      if (SUCCEEDED(::VariantChangeType(&number, pVariant, 0, VT_R8))) value.m_dNumber = number.dblVal;
      break;
    }
    default:
      value.m_nType = CScriptValue::KX_VALUE_OTHER;
      return value;
  }
  // Numbers and truth values also carry the text the engine gives them.
  VARIANT text;
  ::VariantInit(&text);
  if (SUCCEEDED(::VariantChangeType(&text, pVariant, 0, VT_BSTR))) value.m_strText = FromBstr(text.bstrVal);
  ::VariantClear(&text);
  return value;
}

}  // namespace

struct CScriptEngine::CImpl {
  std::thread worker;
  std::mutex mutex;
  std::condition_variable cond;
  std::function<void()> task;  // the next job for the worker; empty when none
  bool bTaskDone = false;
  bool bStop = false;
  DWORD dwTimeLimitMs = KX_CALL_TIME_LIMIT_MS;

  // Worker-thread state.
  CScriptSite site;
  IActiveScript* pScript = nullptr;
  IActiveScriptParse* pParse = nullptr;
  IDispatch* pDispatch = nullptr;
  bool bConnected = false;
  bool bJScript = false;
  // Set when a script ignored the interrupt: the worker is left to it and the
  // engine fails every later call.
  bool bAbandoned = false;

  void WorkerMain(std::wstring strLanguage) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID clsid;
    bool bCreated = SUCCEEDED(::CLSIDFromProgID(strLanguage.c_str(), &clsid)) &&
                    SUCCEEDED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                                                 reinterpret_cast<void**>(&pScript))) &&
                    SUCCEEDED(pScript->QueryInterface(IID_IActiveScriptParse, reinterpret_cast<void**>(&pParse))) &&
                    SUCCEEDED(pScript->SetScriptSite(&site)) && SUCCEEDED(pParse->InitNew());
    if (!bCreated) Release();
    {
      std::lock_guard<std::mutex> lock(mutex);
      bTaskDone = true;  // creation finished
    }
    cond.notify_all();
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(mutex);
        cond.wait(lock, [this] { return bStop || task; });
        if (bStop && !task) break;
        job.swap(task);
      }
      job();
      {
        std::lock_guard<std::mutex> lock(mutex);
        bTaskDone = true;
      }
      cond.notify_all();
    }
    Release();
    ::CoUninitialize();
  }

  void Release() {
    if (pDispatch != nullptr) pDispatch->Release();
    if (pParse != nullptr) pParse->Release();
    if (pScript != nullptr) {
      pScript->Close();
      pScript->Release();
    }
    pDispatch = nullptr;
    pParse = nullptr;
    pScript = nullptr;
  }

  // Runs the job on the worker and waits for it; past the time limit the
  // running script is interrupted (it then fails as a script error). An engine
  // that does not stop within the grace time is abandoned: FALSE, and the job,
  // which holds only its own copies, finishes or not on its own.
  bool RunOnWorker(std::function<void()> job) {
    const DWORD kInterruptGraceMs = 2000;
    std::unique_lock<std::mutex> lock(mutex);
    if (bAbandoned) return false;
    bTaskDone = false;
    task = std::move(job);
    cond.notify_all();
    if (dwTimeLimitMs == 0) {
      cond.wait(lock, [this] { return bTaskDone; });
      return true;
    }
    if (cond.wait_for(lock, std::chrono::milliseconds(dwTimeLimitMs), [this] { return bTaskDone; })) return true;
    if (pScript != nullptr) pScript->InterruptScriptThread(SCRIPTTHREADID_ALL, nullptr, 0);
    if (cond.wait_for(lock, std::chrono::milliseconds(kInterruptGraceMs), [this] { return bTaskDone; })) return true;
    bAbandoned = true;
    return false;
  }
};

CScriptEngine::CScriptEngine(const char* lpLanguage) : m_pImpl(new CImpl) {
  if (lpLanguage == nullptr || (std::strcmp(lpLanguage, "JScript") != 0 && std::strcmp(lpLanguage, "VBScript") != 0)) {
    return;
  }
  m_pImpl->bJScript = lpLanguage[0] == 'J';
  std::wstring strLanguage = m_pImpl->bJScript ? L"JScript" : L"VBScript";
  CImpl* pImpl = m_pImpl.get();
  pImpl->worker = std::thread([pImpl, strLanguage] { pImpl->WorkerMain(strLanguage); });
  std::unique_lock<std::mutex> lock(pImpl->mutex);
  pImpl->cond.wait(lock, [pImpl] { return pImpl->bTaskDone; });
}

CScriptEngine::~CScriptEngine() {
  if (!m_pImpl->worker.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->bStop = true;
    if (m_pImpl->bAbandoned) {
      // The worker may never return from its script: it keeps the state.
      m_pImpl->worker.detach();
      m_pImpl.release();
      return;
    }
  }
  m_pImpl->cond.notify_all();
  m_pImpl->worker.join();
}

BOOL CScriptEngine::IsCreated() const { return m_pImpl->pScript != nullptr ? TRUE : FALSE; }

void CScriptEngine::SetCallTimeLimit(DWORD dwMilliseconds) { m_pImpl->dwTimeLimitMs = dwMilliseconds; }

BOOL CScriptEngine::ParseScript(const char* lpText) {
  if (m_pImpl->pScript == nullptr || lpText == nullptr) return FALSE;
  CImpl* pImpl = m_pImpl.get();
  auto pParsed = std::make_shared<bool>(false);
  std::string strText = lpText;
  bool bFinished = pImpl->RunOnWorker([pImpl, strText, pParsed] {
    pImpl->site.m_bError = false;
    BSTR bstrCode = ToBstr(strText);
    EXCEPINFO exception = {};
    HRESULT hr = pImpl->pParse->ParseScriptText(bstrCode, nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &exception);
    ::SysFreeString(bstrCode);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    // Connecting runs the top-level code parsed so far (later parses run at once).
    if (SUCCEEDED(hr) && !pImpl->bConnected) {
      hr = pImpl->pScript->SetScriptState(SCRIPTSTATE_CONNECTED);
      pImpl->bConnected = SUCCEEDED(hr);
    }
    if (SUCCEEDED(hr) && pImpl->pDispatch == nullptr) hr = pImpl->pScript->GetScriptDispatch(nullptr, &pImpl->pDispatch);
    *pParsed = SUCCEEDED(hr) && !pImpl->site.m_bError;
  });
  return bFinished && *pParsed ? TRUE : FALSE;
}

BOOL CScriptEngine::InvokeFunction(const char* lpName, const CScriptValue* pArguments, unsigned nCount,
                                   CScriptValue* pResult) {
  if (m_pImpl->pScript == nullptr || lpName == nullptr) return FALSE;
  if (nCount != 0 && pArguments == nullptr) return FALSE;
  struct CCall {
    bool bCalled = false;
    CScriptValue result;
  };
  CImpl* pImpl = m_pImpl.get();
  auto pCall = std::make_shared<CCall>();
  std::string strName = lpName;
  std::vector<CScriptValue> vecArguments(pArguments, pArguments + nCount);
  bool bFinished = pImpl->RunOnWorker([pImpl, strName, vecArguments, pCall] {
    if (pImpl->pDispatch == nullptr) return;
    BSTR bstrName = ToBstr(strName);
    DISPID dispid = 0;
    HRESULT hr = pImpl->pDispatch->GetIDsOfNames(IID_NULL, &bstrName, 1, LOCALE_USER_DEFAULT, &dispid);
    ::SysFreeString(bstrName);
    if (FAILED(hr)) return;
    // DISPPARAMS takes the arguments last first.
    const UINT nArguments = static_cast<UINT>(vecArguments.size());
    std::vector<VARIANT> arguments(nArguments);
    bool bPassed = true;
    for (UINT i = 0; i < nArguments; ++i) bPassed = ToVariant(vecArguments[i], &arguments[nArguments - 1 - i]) && bPassed;
    VARIANT result;
    ::VariantInit(&result);
    if (bPassed) {
      DISPPARAMS params = {nArguments != 0 ? arguments.data() : nullptr, nullptr, nArguments, 0};
      EXCEPINFO exception = {};
      UINT uArgError = 0;
      pImpl->site.m_bError = false;
      hr = pImpl->pDispatch->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                    &exception, &uArgError);
      ::SysFreeString(exception.bstrSource);
      ::SysFreeString(exception.bstrDescription);
      ::SysFreeString(exception.bstrHelpFile);
      pCall->bCalled = SUCCEEDED(hr) && !pImpl->site.m_bError;
      if (pCall->bCalled) pCall->result = FromVariant(&result, pImpl->bJScript);
    }
    ::VariantClear(&result);
    for (VARIANT& argument : arguments) ::VariantClear(&argument);
  });
  if (!bFinished || !pCall->bCalled) return FALSE;
  if (pResult != nullptr) *pResult = pCall->result;
  return TRUE;
}

}  // namespace kx
