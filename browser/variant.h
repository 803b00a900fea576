#pragma once
// The automation value types through which page script and native objects talk: result codes,
// the value type with its type numbers, argument blocks, and the reference-counted dispatch
// interface with a smart pointer for it. The numbers are those of COM automation, so codes
// and type tags read the same in every log and on every platform.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace BrowserControl {

// ---- Result codes -------------------------------------------------------------------------

using HRESULT = int32_t;

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = static_cast<HRESULT>(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000B);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = static_cast<HRESULT>(0x8002000F);
inline constexpr HRESULT RPC_E_CALL_CANCELED = static_cast<HRESULT>(0x80010002);
inline constexpr HRESULT RPC_E_DISCONNECTED = static_cast<HRESULT>(0x80010108);
inline constexpr HRESULT RPC_E_WRONG_THREAD = static_cast<HRESULT>(0x8001010E);
inline constexpr HRESULT INET_E_DEFAULT_ACTION = static_cast<HRESULT>(0x800C0011);

// ---- Identifiers --------------------------------------------------------------------------

using DISPID = int32_t;
using LCID = uint32_t;

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;

inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// Invoke flags.
inline constexpr uint16_t DISPATCH_METHOD = 1;
inline constexpr uint16_t DISPATCH_PROPERTYGET = 2;
inline constexpr uint16_t DISPATCH_PROPERTYPUT = 4;
inline constexpr uint16_t DISPATCH_PROPERTYPUTREF = 8;

struct IID {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
  friend bool operator==(const IID&, const IID&) = default;
};
using REFIID = const IID&;

inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// ---- Interfaces ---------------------------------------------------------------------------

// Reference counted: an object deletes itself when its count drops to zero, so it is never
// deleted from outside. Counts change atomically; any thread may AddRef and Release.
class IUnknown {
 public:
  // S_OK and `*object` with an added reference, or E_NOINTERFACE and null (E_POINTER when
  // `object` is null).
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

class ITypeInfo;  // type information is not offered by any object here
struct VARIANT;
struct DISPPARAMS;
struct EXCEPINFO;

class IDispatch : public IUnknown {
 public:
  virtual HRESULT GetTypeInfoCount(uint32_t* count) = 0;
  virtual HRESULT GetTypeInfo(uint32_t index, LCID locale, ITypeInfo** typeInfo) = 0;
  // The DISPIDs of `count` names into `ids`.
  virtual HRESULT GetIDsOfNames(REFIID iid, const wchar_t* const* names, uint32_t count, LCID locale,
                                DISPID* ids) = 0;
  // Calls member `id` with `params` (null: no arguments); `result` null: the caller wants no
  // result. `exception` and `argError` may be null.
  virtual HRESULT Invoke(DISPID id, REFIID iid, LCID locale, uint16_t flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, uint32_t* argError) = 0;
};

// ---- Smart pointer ------------------------------------------------------------------------

// Holds one reference on an object of interface T.
template <typename T>
class CComPtr {
 public:
  CComPtr() = default;
  CComPtr(std::nullptr_t) {}
  // Takes its own reference.
  CComPtr(T* object) : m_p(object) {
    if (m_p) m_p->AddRef();
  }
  CComPtr(const CComPtr& other) : CComPtr(other.m_p) {}
  CComPtr(CComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  // From a pointer to a derived interface or class.
  template <typename U>
    requires std::is_convertible_v<U*, T*>
  CComPtr(const CComPtr<U>& other) : CComPtr(static_cast<T*>(other.get())) {}
  ~CComPtr() { Reset(); }

  CComPtr& operator=(const CComPtr& other) {
    CComPtr(other).Swap(*this);
    return *this;
  }
  CComPtr& operator=(CComPtr&& other) noexcept {
    CComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  CComPtr& operator=(T* object) {
    CComPtr(object).Swap(*this);
    return *this;
  }

  // Adopts a reference the caller already holds.
  static CComPtr Adopt(T* object) {
    CComPtr p;
    p.m_p = object;
    return p;
  }
  // Gives the reference up to the caller.
  T* Detach() { return std::exchange(m_p, nullptr); }
  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  void Swap(CComPtr& other) noexcept { std::swap(m_p, other.m_p); }

  T* get() const { return m_p; }
  T* operator->() const { return m_p; }
  T& operator*() const { return *m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  friend bool operator==(const CComPtr& a, const CComPtr& b) { return a.m_p == b.m_p; }
  friend bool operator==(const CComPtr& a, std::nullptr_t) { return a.m_p == nullptr; }

 private:
  T* m_p = nullptr;
};

// Creates a reference-counted object (its count starting at zero) and holds the first
// reference.
template <typename T, typename... Args>
CComPtr<T> MakeComObject(Args&&... args) {
  return CComPtr<T>(new T(std::forward<Args>(args)...));
}

// ---- Values -------------------------------------------------------------------------------

using VARTYPE = uint16_t;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_UI2 = 18;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
inline constexpr VARTYPE VT_BYREF = 0x4000;  // flag: the value is held elsewhere (never followed)

using VARIANT_BOOL = int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// A string value: wide text, or the null string (no text at all), which differs from "".
using BSTR = std::optional<std::wstring>;

// One value. `vt` says which member holds it: the numeric members share storage; a VT_BSTR
// value is in `bstrVal`, a VT_DISPATCH value in `pdispVal` (one reference, may be null).
// Copies copy the text and add a reference to the object.
struct VARIANT {
  VARTYPE vt = VT_EMPTY;
  union {
    int16_t iVal;        // VT_I2
    uint16_t uiVal;      // VT_UI2
    int32_t lVal;        // VT_I4
    uint32_t ulVal;      // VT_UI4
    int32_t intVal;      // VT_INT
    uint32_t uintVal;    // VT_UINT
    float fltVal;        // VT_R4
    double dblVal = 0;   // VT_R8
    VARIANT_BOOL boolVal;  // VT_BOOL
    HRESULT scode;       // VT_ERROR
  };
  BSTR bstrVal;                 // VT_BSTR
  CComPtr<IDispatch> pdispVal;  // VT_DISPATCH
};
using VARIANTARG = VARIANT;

// Makes `v` empty (releases its text and object).
inline void VariantInit(VARIANT* v) { *v = VARIANT(); }
inline void VariantClear(VARIANT* v) { *v = VARIANT(); }

inline VARIANT MakeVariantI2(int16_t x) { VARIANT v; v.vt = VT_I2; v.iVal = x; return v; }
inline VARIANT MakeVariantUI2(uint16_t x) { VARIANT v; v.vt = VT_UI2; v.uiVal = x; return v; }
inline VARIANT MakeVariantI4(int32_t x) { VARIANT v; v.vt = VT_I4; v.lVal = x; return v; }
inline VARIANT MakeVariantUI4(uint32_t x) { VARIANT v; v.vt = VT_UI4; v.ulVal = x; return v; }
inline VARIANT MakeVariantInt(int32_t x) { VARIANT v; v.vt = VT_INT; v.intVal = x; return v; }
inline VARIANT MakeVariantUInt(uint32_t x) { VARIANT v; v.vt = VT_UINT; v.uintVal = x; return v; }
inline VARIANT MakeVariantR4(float x) { VARIANT v; v.vt = VT_R4; v.fltVal = x; return v; }
inline VARIANT MakeVariantR8(double x) { VARIANT v; v.vt = VT_R8; v.dblVal = x; return v; }
inline VARIANT MakeVariantBool(bool x) {
  VARIANT v;
  v.vt = VT_BOOL;
  v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
// A null `text` makes the null string.
inline VARIANT MakeVariantBstr(BSTR text) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = std::move(text);
  return v;
}
inline VARIANT MakeVariantDispatch(IDispatch* object) {
  VARIANT v;
  v.vt = VT_DISPATCH;
  v.pdispVal = object;
  return v;
}
inline VARIANT MakeVariantNull() { VARIANT v; v.vt = VT_NULL; return v; }

// The argument block of one call. The positional arguments are in reverse order: the last
// script argument is rgvarg[0]. Named arguments, when any, come first in rgvarg. The block
// points at storage it does not own (see CDispParams).
struct DISPPARAMS {
  VARIANTARG* rgvarg = nullptr;
  DISPID* rgdispidNamedArgs = nullptr;
  uint32_t cArgs = 0;
  uint32_t cNamedArgs = 0;
};

// Owns the arguments of one call, given in script order, and lends them as a DISPPARAMS.
class CDispParams {
 public:
  CDispParams() = default;
  explicit CDispParams(std::vector<VARIANT> scriptOrder)
      : m_reversed(std::make_move_iterator(scriptOrder.rbegin()), std::make_move_iterator(scriptOrder.rend())) {}
  // Valid until this object changes or goes away.
  DISPPARAMS* get() {
    m_params.rgvarg = m_reversed.empty() ? nullptr : m_reversed.data();
    m_params.cArgs = static_cast<uint32_t>(m_reversed.size());
    m_params.rgdispidNamedArgs = nullptr;
    m_params.cNamedArgs = 0;
    return &m_params;
  }
  // The arguments in script order.
  std::vector<VARIANT> ScriptOrder() const { return {m_reversed.rbegin(), m_reversed.rend()}; }

 private:
  std::vector<VARIANT> m_reversed;
  DISPPARAMS m_params;
};

// What a member may report about a failure beyond its code (nothing here fills it).
struct EXCEPINFO {
  uint16_t wCode = 0;
  uint16_t wReserved = 0;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  uint32_t dwHelpContext = 0;
  HRESULT scode = 0;
};

}  // namespace BrowserControl
