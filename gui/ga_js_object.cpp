#include "gui/ga_js_object.h"

#include <utility>

namespace CustomInstaller::Gui {

using namespace BrowserControl;
using namespace BrowserControl::JS;

CGAJSObject::CGAJSObject(std::shared_ptr<GA::IGASender> sender) : m_sender(std::move(sender)) {
  RegisterMethod(L"sendScreen", &CGAJSObject::SendScreen);
  RegisterMethod(L"sendEvent", &CGAJSObject::SendEvent);
}

HRESULT CGAJSObject::SendScreen(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 1, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  std::wstring name;
  if (!ToString(ScriptArg(params, 0), name) || name.empty()) return E_INVALIDARG;
  if (!m_sender) return E_FAIL;
  m_sender->SendScreen(name);
  return S_OK;
}

HRESULT CGAJSObject::SendEvent(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 3, 4, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  std::wstring action;
  std::wstring category;
  std::wstring label;
  if (!ToString(ScriptArg(params, 0), action) || !ToString(ScriptArg(params, 1), category) ||
      !ToString(ScriptArg(params, 2), label)) {
    return E_INVALIDARG;
  }
  int32_t value = -1;
  if (ArgCount(params) == 4 && !ToInteger(ScriptArg(params, 3), value)) return E_INVALIDARG;
  if (action.empty() || category.empty() || label.empty()) return E_INVALIDARG;
  if (!m_sender) return E_FAIL;
  m_sender->SendEvent(action, category, label, static_cast<int64_t>(value));
  return S_OK;
}

}  // namespace CustomInstaller::Gui
