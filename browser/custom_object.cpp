#include "browser/custom_object.h"

#include <cmath>

namespace BrowserControl::JS {

uint32_t ArgCount(const DISPPARAMS* params) { return params ? params->cArgs : 0; }

HRESULT CheckCall(const DISPPARAMS* params, uint32_t minArgs, uint32_t maxArgs, const VARIANT* result,
                  EResultSlot rule) {
  if (params && params->cNamedArgs != 0) return E_INVALIDARG;
  const uint32_t count = ArgCount(params);
  if (count < minArgs || count > maxArgs) return E_INVALIDARG;
  if (count > 0 && !params->rgvarg) return E_INVALIDARG;
  if (rule == EResultSlot::kRequired && !result) return E_INVALIDARG;
  if (rule == EResultSlot::kRefused && result) return E_INVALIDARG;
  return S_OK;
}

const VARIANT& ScriptArg(const DISPPARAMS* params, uint32_t index) {
  return params->rgvarg[params->cArgs - 1 - index];
}

namespace {

bool FromFloating(double value, int32_t& out) {
  if (!std::isfinite(value)) return false;
  const double truncated = std::trunc(value);
  if (truncated < -2147483648.0 || truncated > 2147483647.0) return false;
  out = static_cast<int32_t>(truncated);
  return true;
}

}  // namespace

bool ToInteger(const VARIANT& value, int32_t& out) {
  switch (value.vt) {
    case VT_I2: out = value.iVal; return true;
    case VT_UI2: out = value.uiVal; return true;
    case VT_I4: out = value.lVal; return true;
    case VT_INT: out = value.intVal; return true;
    case VT_UI4: out = static_cast<int32_t>(value.ulVal); return true;
    case VT_UINT: out = static_cast<int32_t>(value.uintVal); return true;
    case VT_R4: return FromFloating(value.fltVal, out);
    case VT_R8: return FromFloating(value.dblVal, out);
    default: return false;
  }
}

bool ToString(const VARIANT& value, std::wstring& out) {
  if (value.vt != VT_BSTR || !value.bstrVal) return false;
  out = *value.bstrVal;
  return true;
}

bool ToStringOrNull(const VARIANT& value, std::wstring& out) {
  if (value.vt != VT_BSTR) return false;
  out = value.bstrVal ? *value.bstrVal : std::wstring();
  return true;
}

bool ToDispatch(const VARIANT& value, CComPtr<IDispatch>& out) {
  if (value.vt != VT_DISPATCH || !value.pdispVal) return false;
  out = value.pdispVal;
  return true;
}

void SetResultBool(VARIANT* result, bool value) { *result = MakeVariantBool(value); }
void SetResultInt(VARIANT* result, int32_t value) { *result = MakeVariantInt(value); }
void SetResultString(VARIANT* result, std::wstring value) { *result = MakeVariantBstr(std::move(value)); }
void SetResultDispatch(VARIANT* result, IDispatch* object) { *result = MakeVariantDispatch(object); }

}  // namespace BrowserControl::JS
