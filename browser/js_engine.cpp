#include "browser/js_engine.h"

namespace BrowserControl::JS {

CEngine::CEngine(std::wstring version) : m_version(std::move(version)) {
  RegisterMethod(L"version", &CEngine::Version);
}

HRESULT CEngine::Version(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  if (m_version.empty()) return E_FAIL;
  SetResultString(result, m_version);
  return S_OK;
}

}  // namespace BrowserControl::JS
