#pragma once
// Native classes as script-callable objects, and the calling conventions every member follows.
//
//   class CEngine : public custom_object<CEngine> {
//    public:
//     CEngine() { RegisterMethod(L"version", &CEngine::Version); }   // DISPID 1
//     std::wstring GetName() const override { return L"engine"; }
//     virtual HRESULT Version(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*);
//   };
//   CComPtr<CEngine> engine = MakeComObject<CEngine>();
#include <atomic>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "browser/variant.h"

namespace BrowserControl::JS {

// A script-visible object: a dispatch object that knows its name under window.external.
class IScriptObject : public IDispatch {
 public:
  virtual std::wstring GetName() const = 0;
};

// The dispatch part of every script object class T (T derives from custom_object<T>).
// Members are registered in T's constructor and get DISPIDs 1, 2, 3 ... in registration
// order; names are case-sensitive. DISPID 0 with a result slot yields the object itself.
// The invoke flags are not looked at: a member read as a property is called.
template <typename T>
class custom_object : public IScriptObject {
 public:
  // A member handler: (arguments or null, result slot or null, exception info, argument error).
  using Handler = HRESULT (T::*)(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                 uint32_t* argError);

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      AddRef();
      *object = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  uint32_t AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
  uint32_t Release() override {
    const uint32_t left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetTypeInfoCount(uint32_t*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  // Looks each name up; the first unknown one ends the call with E_NOTIMPL (the names before
  // it keep their DISPIDs).
  HRESULT GetIDsOfNames(REFIID, const wchar_t* const* names, uint32_t count, LCID, DISPID* ids) override {
    if (count == 0) return S_OK;
    if (!names || !ids) return E_INVALIDARG;
    for (uint32_t i = 0; i < count; ++i) {
      if (!names[i]) return E_NOTIMPL;
      const std::wstring_view name(names[i]);
      size_t k = 0;
      while (k < m_names.size() && m_names[k] != name) ++k;
      if (k == m_names.size()) return E_NOTIMPL;
      ids[i] = m_nameIds[k];
    }
    return S_OK;
  }

  HRESULT Invoke(DISPID id, REFIID, LCID, uint16_t, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, uint32_t* argError) override {
    if (id == DISPID_VALUE && result) {
      VariantInit(result);
      result->vt = VT_DISPATCH;
      result->pdispVal = static_cast<IDispatch*>(this);
      return S_OK;
    }
    for (const auto& [handlerId, handler] : m_handlers) {
      if (handlerId != id) continue;
      try {
        return (static_cast<T*>(this)->*handler)(params, result, exception, argError);
      } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
      } catch (const std::exception&) {
        return E_FAIL;
      }
    }
    return E_NOTIMPL;
  }

 protected:
  custom_object() = default;
  ~custom_object() override = default;
  custom_object(const custom_object&) = delete;
  custom_object& operator=(const custom_object&) = delete;

  // Appends a member: its DISPID is the number of names registered so far plus one.
  void RegisterMethod(const wchar_t* name, Handler handler) {
    const auto id = static_cast<DISPID>(m_names.size() + 1);
    m_names.emplace_back(name);
    m_nameIds.push_back(id);
    m_handlers.emplace_back(id, handler);
  }

 private:
  std::vector<std::wstring> m_names;
  std::vector<DISPID> m_nameIds;
  std::vector<std::pair<DISPID, Handler>> m_handlers;
  std::atomic<uint32_t> m_refs{0};
};

// ---- Member conventions -------------------------------------------------------------------
// Positional arguments arrive reversed; named arguments are refused; a member that returns a
// value needs a result slot, one that returns nothing refuses it (unless it ignores it).

enum class EResultSlot {
  kRequired,  // the member returns a value: E_INVALIDARG without a slot
  kRefused,   // it returns nothing: E_INVALIDARG with a slot
  kIgnored,   // either is fine
};

// Number of positional arguments (0 for a missing block).
uint32_t ArgCount(const DISPPARAMS* params);

// E_INVALIDARG for named arguments, a positional count outside [minArgs, maxArgs], a block
// that claims arguments it does not hold, or a result slot against `rule`; else S_OK.
HRESULT CheckCall(const DISPPARAMS* params, uint32_t minArgs, uint32_t maxArgs, const VARIANT* result,
                  EResultSlot rule);
inline HRESULT CheckCall(const DISPPARAMS* params, uint32_t args, const VARIANT* result, EResultSlot rule) {
  return CheckCall(params, args, args, result, rule);
}

// The script argument at `index` (0 = the first one the script passed). The caller has
// checked the count.
const VARIANT& ScriptArg(const DISPPARAMS* params, uint32_t index);

// Integer argument: VT_I2 (sign-extended), VT_UI2 (zero-extended), VT_I4, VT_INT, VT_UI4 and
// VT_UINT (taken modulo 2^32), VT_R4 and VT_R8 truncated toward zero. False for any other type
// (a string among them), a reference, and a number that is not finite or out of the 32-bit
// range.
bool ToInteger(const VARIANT& value, int32_t& out);

// String argument: VT_BSTR holding text (not the null string). `out` may come back empty.
bool ToString(const VARIANT& value, std::wstring& out);
// VT_BSTR, the null string read as empty.
bool ToStringOrNull(const VARIANT& value, std::wstring& out);

// Object argument: VT_DISPATCH with an object.
bool ToDispatch(const VARIANT& value, CComPtr<IDispatch>& out);

// Results; each initialises the slot first. Booleans as VT_BOOL (-1 / 0), integers as VT_INT,
// objects with an added reference.
void SetResultBool(VARIANT* result, bool value);
void SetResultInt(VARIANT* result, int32_t value);
void SetResultString(VARIANT* result, std::wstring value);
void SetResultDispatch(VARIANT* result, IDispatch* object);

}  // namespace BrowserControl::JS
