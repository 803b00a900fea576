#include "browser/js_child_window.h"

#include <cwctype>

namespace BrowserControl::JS {

namespace {

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
  }
  return true;
}

}  // namespace

CChildWindow::CChildWindow(std::shared_ptr<IChildWindowCreator> creator) : m_creator(std::move(creator)) {
  RegisterMethod(L"createWindow", &CChildWindow::CreateWindow);
}

HRESULT CChildWindow::CreateWindow(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (!m_creator) return E_FAIL;
  if (const HRESULT hr = CheckCall(params, 3, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  std::wstring url;
  std::wstring unused;
  std::wstring placement;
  if (!ToString(ScriptArg(params, 0), url) || !ToString(ScriptArg(params, 1), unused) ||
      !ToString(ScriptArg(params, 2), placement) || url.empty() || placement.empty()) {
    return E_INVALIDARG;
  }
  bool tray = false;
  if (EqualsIgnoringCase(placement, L"Center")) {
    tray = false;
  } else if (EqualsIgnoringCase(placement, L"Tray")) {
    tray = true;
  } else {
    return E_INVALIDARG;
  }
  const EChildWindowResult created = m_creator->CreateChildWindow(url, tray);
  if (created == EChildWindowResult::kRefused) return E_INVALIDARG;
  SetResultBool(result, created == EChildWindowResult::kOpened);
  return S_OK;
}

}  // namespace BrowserControl::JS
