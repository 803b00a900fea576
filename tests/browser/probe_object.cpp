#include "tests/browser/probe_object.h"

namespace TestSupport {

using namespace BrowserControl;
using namespace BrowserControl::JS;

CProbe::CProbe() {
  RegisterMethod(L"typeOf", &CProbe::TypeOf);
  RegisterMethod(L"echo", &CProbe::Echo);
  RegisterMethod(L"add", &CProbe::Add);
  RegisterMethod(L"bump", &CProbe::Bump);
  RegisterMethod(L"answer", &CProbe::Answer);
  RegisterMethod(L"broken", &CProbe::Broken);
  RegisterMethod(L"later", &CProbe::Later);
  RegisterMethod(L"now", &CProbe::Now);
  RegisterMethod(L"keep", &CProbe::Keep);
  RegisterMethod(L"forget", &CProbe::Forget);
}

CProbe::~CProbe() {
  for (auto& worker : m_workers) worker.join();
}

HRESULT CProbe::TypeOf(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (HRESULT hr = CheckCall(params, 1, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  SetResultInt(result, ScriptArg(params, 0).vt);
  return S_OK;
}

HRESULT CProbe::Echo(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (HRESULT hr = CheckCall(params, 1, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  *result = ScriptArg(params, 0);
  return S_OK;
}

HRESULT CProbe::Add(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (HRESULT hr = CheckCall(params, 2, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  int32_t a = 0, b = 0;
  if (!ToInteger(ScriptArg(params, 0), a) || !ToInteger(ScriptArg(params, 1), b)) return E_INVALIDARG;
  SetResultInt(result, a + b);
  return S_OK;
}

HRESULT CProbe::Bump(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  ++bumps;
  return S_OK;
}

HRESULT CProbe::Answer(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  SetResultInt(result, 42);
  return S_OK;
}

HRESULT CProbe::Broken(DISPPARAMS*, VARIANT*, EXCEPINFO*, uint32_t*) { return E_FAIL; }

HRESULT CProbe::Later(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (HRESULT hr = CheckCall(params, 2, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  CComPtr<IDispatch> callback;
  int32_t count = 0;
  if (!ToDispatch(ScriptArg(params, 0), callback) || !ToInteger(ScriptArg(params, 1), count)) return E_INVALIDARG;
  auto pointer = std::make_shared<marshaled_interface_pointer<IDispatch>>(callback.get());
  m_workers.emplace_back([pointer, count] {
    for (int32_t i = 0; i < count; ++i) pointer->CallMethod(L"onTick", {MakeVariantI4(i)});
    pointer->CallMethod(L"onMissing");
    pointer->CallMethod(L"onDone", {MakeVariantBstr(std::wstring(L"fin\u00e9"))});
  });
  return S_OK;
}

HRESULT CProbe::Now(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (HRESULT hr = CheckCall(params, 1, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  CComPtr<IDispatch> callback;
  if (!ToDispatch(ScriptArg(params, 0), callback)) return E_INVALIDARG;
  return CallMethodByName(callback.get(), L"onNow", {MakeVariantBstr(std::wstring(L"x"))});
}

HRESULT CProbe::Keep(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (HRESULT hr = CheckCall(params, 1, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  CComPtr<IDispatch> object;
  if (!ToDispatch(ScriptArg(params, 0), object)) return E_INVALIDARG;
  m_kept.push_back(object);
  return S_OK;
}

HRESULT CProbe::Forget(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  m_kept.clear();
  return S_OK;
}

}  // namespace TestSupport
