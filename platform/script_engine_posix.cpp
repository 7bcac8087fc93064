// The "JScript" engine of this platform is Duktape, built from its amalgamated
// source with the execution time-out check switched on (see CMakeLists.txt): the
// interpreter asks KxDuktapeTimeoutCheck every few thousand instructions whether
// the running parse or call has used up its time.
#include "platform/script_engine.h"

#include <chrono>
#include <cstdlib>

#include "duktape.h"
#include "platform/text_compare.h"
#include "platform/text_encoding.h"

namespace kx {

namespace {

using Clock = std::chrono::steady_clock;

// Per-heap bookkeeping: bytes in use against the heap's limit, and the deadline of
// the parse or call in progress.
struct HeapState {
  size_t nUsed = 0;
  size_t nLimit = CScriptEngine::KX_HEAP_LIMIT_BYTES;
  bool bArmed = false;
  bool bTimedOut = false;
  Clock::time_point deadline;
};

// Each block carries its size in front, so that the heap's total is exact.
struct alignas(alignof(std::max_align_t)) BlockHeader {
  size_t nSize;
};

void* HeapAlloc(void* pUdata, duk_size_t nSize) {
  HeapState* pState = static_cast<HeapState*>(pUdata);
  if (nSize == 0 || nSize > pState->nLimit - pState->nUsed) return nullptr;
  BlockHeader* pBlock = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + nSize));
  if (pBlock == nullptr) return nullptr;
  pBlock->nSize = nSize;
  pState->nUsed += nSize;
  return pBlock + 1;
}

void HeapFree(void* pUdata, void* pPtr) {
  if (pPtr == nullptr) return;
  HeapState* pState = static_cast<HeapState*>(pUdata);
  BlockHeader* pBlock = static_cast<BlockHeader*>(pPtr) - 1;
  pState->nUsed -= pBlock->nSize;
  std::free(pBlock);
}

void* HeapRealloc(void* pUdata, void* pPtr, duk_size_t nSize) {
  if (pPtr == nullptr) return HeapAlloc(pUdata, nSize);
  if (nSize == 0) {
    HeapFree(pUdata, pPtr);
    return nullptr;
  }
  HeapState* pState = static_cast<HeapState*>(pUdata);
  BlockHeader* pBlock = static_cast<BlockHeader*>(pPtr) - 1;
  size_t nOld = pBlock->nSize;
  if (nSize > nOld && nSize - nOld > pState->nLimit - pState->nUsed) return nullptr;
  BlockHeader* pGrown =
      static_cast<BlockHeader*>(std::realloc(pBlock, sizeof(BlockHeader) + nSize));
  if (pGrown == nullptr) return nullptr;
  pState->nUsed = pState->nUsed - nOld + nSize;
  pGrown->nSize = nSize;
  return pGrown + 1;
}

// Reached only for an error outside every protected call, which this file never
// makes; there is no way back into the interpreter then.
void HeapFatal(void*, const char*) { std::abort(); }

// What one protected call needs; plain pointers only, because an error inside the
// interpreter leaves the protected function by a long jump that skips destructors.
struct InvokeRequest {
  const char* lpName;
  const CScriptValue* pArguments;
  const std::vector<std::string>* pUtf8;  // argument texts, array items in order
  unsigned nCount;
  int nResultType;
  double dResultNumber;
};

duk_ret_t InvokeProtected(duk_context* pContext, void* pUdata) {
  InvokeRequest* pRequest = static_cast<InvokeRequest*>(pUdata);
  if (!duk_get_global_string(pContext, pRequest->lpName) || !duk_is_callable(pContext, -1)) {
    return duk_error(pContext, DUK_ERR_REFERENCE_ERROR, "no such function");
  }
  size_t nText = 0;
  for (unsigned i = 0; i < pRequest->nCount; ++i) {
    const CScriptValue& value = pRequest->pArguments[i];
    switch (value.m_nType) {
      case CScriptValue::KX_VALUE_STRING: {
        const std::string& strText = (*pRequest->pUtf8)[nText++];
        duk_push_lstring(pContext, strText.data(), strText.size());
        break;
      }
      case CScriptValue::KX_VALUE_NUMBER:
        duk_push_number(pContext, value.m_dNumber);
        break;
      case CScriptValue::KX_VALUE_STRING_ARRAY: {
        duk_idx_t nArray = duk_push_array(pContext);
        for (size_t j = 0; j < value.m_vecItems.size(); ++j) {
          const std::string& strItem = (*pRequest->pUtf8)[nText++];
          duk_push_lstring(pContext, strItem.data(), strItem.size());
          duk_put_prop_index(pContext, nArray, static_cast<duk_uarridx_t>(j));
        }
        break;
      }
      case CScriptValue::KX_VALUE_EMPTY:
        duk_push_undefined(pContext);
        break;
      default:
        return duk_error(pContext, DUK_ERR_TYPE_ERROR, "argument cannot be passed");
    }
  }
  duk_call(pContext, static_cast<duk_idx_t>(pRequest->nCount));
  switch (duk_get_type(pContext, -1)) {
    case DUK_TYPE_UNDEFINED:
      pRequest->nResultType = CScriptValue::KX_VALUE_EMPTY;
      break;
    case DUK_TYPE_STRING:
      pRequest->nResultType = CScriptValue::KX_VALUE_STRING;
      break;
    case DUK_TYPE_NUMBER:
      pRequest->nResultType = CScriptValue::KX_VALUE_NUMBER;
      pRequest->dResultNumber = duk_get_number(pContext, -1);
      duk_to_string(pContext, -1);
      break;
    case DUK_TYPE_BOOLEAN:
      pRequest->nResultType = CScriptValue::KX_VALUE_BOOLEAN;
      pRequest->dResultNumber = duk_get_boolean(pContext, -1) ? 1 : 0;
      duk_to_string(pContext, -1);
      break;
    default:
      pRequest->nResultType = CScriptValue::KX_VALUE_OTHER;
      break;
  }
  return 1;
}

struct ParseRequest {
  const std::string* pSource;
};

duk_ret_t ParseProtected(duk_context* pContext, void* pUdata) {
  const std::string* pSource = static_cast<ParseRequest*>(pUdata)->pSource;
  duk_push_lstring(pContext, pSource->data(), pSource->size());
  duk_push_string(pContext, "script");
  duk_compile(pContext, 0);
  duk_call(pContext, 0);
  return 0;
}

}  // namespace

}  // namespace kx

extern "C" int KxDuktapeTimeoutCheck(void* pUdata) {
  kx::HeapState* pState = static_cast<kx::HeapState*>(pUdata);
  if (pState == nullptr || !pState->bArmed) return 0;
  if (pState->bTimedOut || kx::Clock::now() >= pState->deadline) {
    // Stays true until the call has unwound, so a script that catches the error
    // is interrupted again at once.
    pState->bTimedOut = true;
    return 1;
  }
  return 0;
}

namespace kx {

struct CScriptEngine::CImpl {
  HeapState state;
  duk_context* pContext = nullptr;
  DWORD dwTimeLimitMs = KX_CALL_TIME_LIMIT_MS;

  // Runs pFunc protected, within the time limit; TRUE when it returned normally.
  BOOL RunProtected(duk_safe_call_function pFunc, void* pRequest, duk_idx_t nResults) {
    state.bTimedOut = false;
    state.bArmed = dwTimeLimitMs != 0;
    state.deadline = Clock::now() + std::chrono::milliseconds(dwTimeLimitMs);
    duk_int_t nResult = duk_safe_call(pContext, pFunc, pRequest, 0, nResults);
    state.bArmed = false;
    return nResult == DUK_EXEC_SUCCESS ? TRUE : FALSE;
  }
};

CScriptEngine::CScriptEngine(const char* lpLanguage) : m_pImpl(new CImpl) {
  // Engine names are compared as Windows compares program identifiers.
  if (lpLanguage == nullptr || CompareNoCase(lpLanguage, "JScript") != 0) return;
  m_pImpl->pContext =
      duk_create_heap(HeapAlloc, HeapRealloc, HeapFree, &m_pImpl->state, HeapFatal);
}

CScriptEngine::~CScriptEngine() {
  if (m_pImpl->pContext != nullptr) duk_destroy_heap(m_pImpl->pContext);
}

BOOL CScriptEngine::IsCreated() const { return m_pImpl->pContext != nullptr ? TRUE : FALSE; }

void CScriptEngine::SetCallTimeLimit(DWORD dwMilliseconds) { m_pImpl->dwTimeLimitMs = dwMilliseconds; }

BOOL CScriptEngine::ParseScript(const char* lpText) {
  if (m_pImpl->pContext == nullptr || lpText == nullptr) return FALSE;
  std::string strSource = Cp932ToUtf8(lpText);
  ParseRequest request = {&strSource};
  BOOL bParsed = m_pImpl->RunProtected(ParseProtected, &request, 1);
  duk_pop(m_pImpl->pContext);
  return bParsed;
}

BOOL CScriptEngine::InvokeFunction(const char* lpName, const CScriptValue* pArguments,
                                   unsigned nCount, CScriptValue* pResult) {
  if (m_pImpl->pContext == nullptr || lpName == nullptr) return FALSE;
  if (nCount != 0 && pArguments == nullptr) return FALSE;
  std::vector<std::string> vecUtf8;
  for (unsigned i = 0; i < nCount; ++i) {
    if (pArguments[i].m_nType == CScriptValue::KX_VALUE_STRING) {
      vecUtf8.push_back(Cp932ToUtf8(pArguments[i].m_strText));
    } else if (pArguments[i].m_nType == CScriptValue::KX_VALUE_STRING_ARRAY) {
      for (const std::string& strItem : pArguments[i].m_vecItems) {
        vecUtf8.push_back(Cp932ToUtf8(strItem));
      }
    }
  }
  InvokeRequest request = {lpName, pArguments, &vecUtf8, nCount, CScriptValue::KX_VALUE_OTHER, 0};
  duk_context* pContext = m_pImpl->pContext;
  BOOL bCalled = m_pImpl->RunProtected(InvokeProtected, &request, 1);
  if (bCalled && pResult != nullptr) {
    CScriptValue result;
    result.m_nType = request.nResultType;
    result.m_dNumber = request.dResultNumber;
    if (duk_is_string(pContext, -1)) {
      duk_size_t nLength = 0;
      const char* lpText = duk_get_lstring(pContext, -1, &nLength);
      result.m_strText = Utf8ToCp932(std::string(lpText, nLength));
    }
    *pResult = result;
  }
  duk_pop(pContext);
  return bCalled;
}

}  // namespace kx
