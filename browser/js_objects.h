#pragma once
// Named sets of script objects, and the object that publishes one set as window.external.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "browser/custom_object.h"
#include "browser/variant.h"

namespace BrowserControl::JS {

// An ordered table of (name, object) pairs; names are compared case-sensitively and whole.
class CJSObjects {
 public:
  virtual ~CJSObjects() = default;
  virtual int32_t Count() const = 0;
  // The object at `index` (null outside the table).
  virtual CComPtr<IDispatch> GetObject(int32_t index) const = 0;
  // The name at `index` (empty outside the table).
  virtual std::wstring GetName(int32_t index) const = 0;
  // Index of `name`, or -1.
  virtual int32_t IndexOf(const std::wstring& name) const = 0;
  // Adds every pair of `other` in its order; false when any name was replaced.
  virtual bool AddAll(const CJSObjects& other) = 0;
  // Appends the pair at the end; an existing pair of that name is removed first, and the
  // result is then false. A null object adds nothing (false).
  virtual bool Add(const std::wstring& name, IDispatch* object) = 0;
  // True when a pair was removed.
  virtual bool Remove(const std::wstring& name) = 0;
};

// The container holds one reference on each object. Its operations may be called from any
// thread.
class CJSObjectsSimpleContainer : public CJSObjects {
 public:
  int32_t Count() const override;
  CComPtr<IDispatch> GetObject(int32_t index) const override;
  std::wstring GetName(int32_t index) const override;
  int32_t IndexOf(const std::wstring& name) const override;
  bool AddAll(const CJSObjects& other) override;
  bool Add(const std::wstring& name, IDispatch* object) override;
  bool Remove(const std::wstring& name) override;

 private:
  int32_t IndexOfLocked(const std::wstring& name) const;

  mutable std::mutex m_mutex;
  std::vector<std::wstring> m_names;
  std::vector<CComPtr<IDispatch>> m_objects;
};

// Adds a script object under its own name (GetName).
bool AddObject(CJSObjects& container, IScriptObject* object);

// window.external: each name of the container is a member whose DISPID is the name's
// 0-based index, and invoking it yields that object.
class CExternalDispatch : public IDispatch {
 public:
  explicit CExternalDispatch(std::shared_ptr<CJSObjects> objects);

  HRESULT QueryInterface(REFIID iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;
  HRESULT GetTypeInfoCount(uint32_t* count) override;
  HRESULT GetTypeInfo(uint32_t index, LCID locale, ITypeInfo** typeInfo) override;
  // DISP_E_UNKNOWNNAME without a container or for a name it does not hold.
  HRESULT GetIDsOfNames(REFIID iid, const wchar_t* const* names, uint32_t count, LCID locale,
                        DISPID* ids) override;
  // DISP_E_MEMBERNOTFOUND without a container, for an index outside it or without a result
  // slot; otherwise the object as VT_DISPATCH.
  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, uint16_t flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, uint32_t* argError) override;

  const std::shared_ptr<CJSObjects>& Objects() const { return m_objects; }

 private:
  ~CExternalDispatch() override = default;

  std::atomic<uint32_t> m_refs{0};
  std::shared_ptr<CJSObjects> m_objects;
};

}  // namespace BrowserControl::JS
