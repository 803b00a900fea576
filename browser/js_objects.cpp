#include "browser/js_objects.h"

namespace BrowserControl::JS {

int32_t CJSObjectsSimpleContainer::Count() const {
  std::lock_guard lock(m_mutex);
  return static_cast<int32_t>(m_names.size());
}

CComPtr<IDispatch> CJSObjectsSimpleContainer::GetObject(int32_t index) const {
  std::lock_guard lock(m_mutex);
  if (index < 0 || static_cast<size_t>(index) >= m_objects.size()) return nullptr;
  return m_objects[static_cast<size_t>(index)];
}

std::wstring CJSObjectsSimpleContainer::GetName(int32_t index) const {
  std::lock_guard lock(m_mutex);
  if (index < 0 || static_cast<size_t>(index) >= m_names.size()) return {};
  return m_names[static_cast<size_t>(index)];
}

int32_t CJSObjectsSimpleContainer::IndexOf(const std::wstring& name) const {
  std::lock_guard lock(m_mutex);
  return IndexOfLocked(name);
}

int32_t CJSObjectsSimpleContainer::IndexOfLocked(const std::wstring& name) const {
  for (size_t i = 0; i < m_names.size(); ++i) {
    if (m_names[i] == name) return static_cast<int32_t>(i);
  }
  return -1;
}

bool CJSObjectsSimpleContainer::AddAll(const CJSObjects& other) {
  if (&other == this) return false;  // every name would replace itself
  bool allNew = true;
  const int32_t count = other.Count();
  for (int32_t i = 0; i < count; ++i) {
    const auto object = other.GetObject(i);
    if (!object) continue;
    if (!Add(other.GetName(i), object.get())) allNew = false;
  }
  return allNew;
}

bool CJSObjectsSimpleContainer::Add(const std::wstring& name, IDispatch* object) {
  if (!object) return false;
  CComPtr<IDispatch> replaced;  // released outside the lock
  std::lock_guard lock(m_mutex);
  const int32_t index = IndexOfLocked(name);
  if (index >= 0) {
    replaced = std::move(m_objects[static_cast<size_t>(index)]);
    m_objects.erase(m_objects.begin() + index);
    m_names.erase(m_names.begin() + index);
  }
  m_names.push_back(name);
  m_objects.emplace_back(object);
  return index < 0;
}

bool CJSObjectsSimpleContainer::Remove(const std::wstring& name) {
  CComPtr<IDispatch> removed;
  std::lock_guard lock(m_mutex);
  const int32_t index = IndexOfLocked(name);
  if (index < 0) return false;
  removed = std::move(m_objects[static_cast<size_t>(index)]);
  m_objects.erase(m_objects.begin() + index);
  m_names.erase(m_names.begin() + index);
  return true;
}

bool AddObject(CJSObjects& container, IScriptObject* object) {
  if (!object) return false;
  const CComPtr<IScriptObject> held(object);
  return container.Add(held->GetName(), held.get());
}

CExternalDispatch::CExternalDispatch(std::shared_ptr<CJSObjects> objects) : m_objects(std::move(objects)) {}

HRESULT CExternalDispatch::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    AddRef();
    *object = static_cast<IDispatch*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

uint32_t CExternalDispatch::AddRef() { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }

uint32_t CExternalDispatch::Release() {
  const uint32_t left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT CExternalDispatch::GetTypeInfoCount(uint32_t*) { return E_NOTIMPL; }
HRESULT CExternalDispatch::GetTypeInfo(uint32_t, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT CExternalDispatch::GetIDsOfNames(REFIID, const wchar_t* const* names, uint32_t count, LCID,
                                         DISPID* ids) {
  if (!m_objects) return DISP_E_UNKNOWNNAME;
  if (count == 0) return S_OK;
  if (!names || !ids) return E_INVALIDARG;
  for (uint32_t i = 0; i < count; ++i) {
    const int32_t index = names[i] ? m_objects->IndexOf(names[i]) : -1;
    if (index < 0) return DISP_E_UNKNOWNNAME;
    ids[i] = index;
  }
  return S_OK;
}

HRESULT CExternalDispatch::Invoke(DISPID id, REFIID, LCID, uint16_t, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                  uint32_t*) {
  if (!m_objects || !result || id < 0) return DISP_E_MEMBERNOTFOUND;
  const auto object = m_objects->GetObject(id);
  if (!object) return DISP_E_MEMBERNOTFOUND;
  SetResultDispatch(result, object.get());
  return S_OK;
}

}  // namespace BrowserControl::JS
