#include "browser/window_wrapper.h"

namespace BrowserControl {

int32_t DpiPercent(int32_t dpi) { return static_cast<int32_t>(static_cast<float>(dpi) * 100.0f / 96.0f); }

namespace JS {

CJSWindowWrapper::CJSWindowWrapper(std::shared_ptr<IWindowWrapper> window, DpiSource dpi)
    : m_window(std::move(window)), m_dpi(std::move(dpi)) {
  RegisterMethod(L"hide", &CJSWindowWrapper::Hide);
  RegisterMethod(L"close", &CJSWindowWrapper::Close);
  RegisterMethod(L"show", &CJSWindowWrapper::Show);
  RegisterMethod(L"minimize", &CJSWindowWrapper::Minimize);
  RegisterMethod(L"isMinimizeSupported", &CJSWindowWrapper::IsMinimizeSupported);
  RegisterMethod(L"getDPI", &CJSWindowWrapper::GetDPI);
  RegisterMethod(L"closeWithExitCode", &CJSWindowWrapper::CloseWithExitCode);
}

HRESULT CJSWindowWrapper::Hide(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  if (!m_window) return E_FAIL;
  m_window->Hide();
  return S_OK;
}

HRESULT CJSWindowWrapper::Close(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  if (!m_window) return E_FAIL;
  m_window->Close();
  return S_OK;
}

// A wrong argument count is E_FAIL here, unlike everywhere else.
HRESULT CJSWindowWrapper::Show(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (params && params->cNamedArgs != 0) return E_INVALIDARG;
  if (ArgCount(params) != 2 || !params->rgvarg) return E_FAIL;
  if (!m_window) return E_FAIL;
  (void)result;  // ignored
  int32_t width = 0;
  int32_t height = 0;
  if (!ToInteger(ScriptArg(params, 0), width) || !ToInteger(ScriptArg(params, 1), height)) return E_INVALIDARG;
  m_window->ShowSized(width, height);
  return S_OK;
}

HRESULT CJSWindowWrapper::Minimize(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError) {
  if (const HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  VARIANT supported;
  if (FAILED(IsMinimizeSupported(nullptr, &supported, exception, argError)) || supported.vt != VT_BOOL) return E_FAIL;
  if (supported.boolVal == VARIANT_FALSE) return E_NOTIMPL;
  m_window->Minimize();
  return S_OK;
}

HRESULT CJSWindowWrapper::IsMinimizeSupported(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  if (!m_window) return E_FAIL;
  SetResultBool(result, m_window->IsMinimizeSupported());
  return S_OK;
}

HRESULT CJSWindowWrapper::GetDPI(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  SetResultInt(result, DpiPercent(m_dpi ? m_dpi() : 96));
  return S_OK;
}

HRESULT CJSWindowWrapper::CloseWithExitCode(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 1, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  if (!m_window) return E_FAIL;
  int32_t code = 0;
  if (!ToInteger(ScriptArg(params, 0), code)) return E_INVALIDARG;
  m_window->CloseWithExitCode(code);
  return S_OK;
}

}  // namespace JS
}  // namespace BrowserControl
