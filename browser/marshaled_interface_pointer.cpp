#include "browser/marshaled_interface_pointer.h"

#include <atomic>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <functional>
#include <new>
#include <stdexcept>

namespace BrowserControl {

struct marshaled_interface_pointer<IDispatch>::Core {
  Core(IDispatch* o, std::shared_ptr<IPageThread> p, bool n)
      : object(o), page(p), hadPage(p != nullptr), noMarshal(n), creator(boost::this_thread::get_id()) {}
  // The object goes back to its page thread to be released there.
  ~Core() {
    if (!object) return;
    const auto home = page.lock();
    if (home && !home->IsCurrent()) home->Post([released = std::move(object)] {});
  }
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  CComPtr<IDispatch> object;
  std::weak_ptr<IPageThread> page;
  bool hadPage;
  bool noMarshal;
  boost::thread::id creator;
};

namespace {

using Core = marshaled_interface_pointer<IDispatch>::Core;

// One call carried to the page thread and waited for.
struct CallState {
  boost::mutex mutex;
  boost::condition_variable changed;
  bool finished = false;
  bool abandoned = false;  // destroyed without running: the page thread is gone
  bool cancelled = false;  // the caller stopped waiting
  HRESULT hr = RPC_E_DISCONNECTED;
};

struct CallGuard {
  explicit CallGuard(std::shared_ptr<CallState> s) : state(std::move(s)) {}
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;
  ~CallGuard() {
    boost::lock_guard lock(state->mutex);
    if (!state->finished) state->abandoned = true;
    state->changed.notify_all();
  }
  std::shared_ptr<CallState> state;
};

HRESULT Guarded(const std::function<HRESULT()>& work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception&) {
    return E_FAIL;
  }
}

// Runs `work` on `page` and waits for it; `work` must own everything it touches, since a
// caller that is interrupted leaves before it runs.
HRESULT RunOnPage(IPageThread& page, std::function<HRESULT()> work) {
  if (page.IsCurrent()) return Guarded(work);
  const auto state = std::make_shared<CallState>();
  auto guard = std::make_shared<CallGuard>(state);
  const bool posted = page.Post([work = std::move(work), guard] {
    CallState& s = *guard->state;
    {
      boost::lock_guard lock(s.mutex);
      if (s.cancelled) return;
    }
    const HRESULT hr = Guarded(work);
    boost::lock_guard lock(s.mutex);
    s.hr = hr;
    s.finished = true;
    s.changed.notify_all();
  });
  guard.reset();
  if (!posted) return RPC_E_DISCONNECTED;
  boost::unique_lock lock(state->mutex);
  try {
    while (!state->finished && !state->abandoned) state->changed.wait(lock);
  } catch (const boost::thread_interrupted&) {
    state->cancelled = true;
    throw;
  }
  return state->finished ? state->hr : RPC_E_DISCONNECTED;
}

// Stands for a page object on other threads: each call runs on the page thread.
class CDispatchProxy : public IDispatch {
 public:
  explicit CDispatchProxy(std::shared_ptr<Core> core) : m_core(std::move(core)) {}

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

  HRESULT GetIDsOfNames(REFIID iid, const wchar_t* const* names, uint32_t count, LCID locale,
                        DISPID* ids) override {
    if (count == 0) return S_OK;
    if (!names || !ids) return E_INVALIDARG;
    const auto page = m_core->page.lock();
    if (!page) return RPC_E_DISCONNECTED;
    struct Data {
      std::vector<std::wstring> names;
      std::vector<bool> present;
      std::vector<DISPID> ids;
    };
    auto data = std::make_shared<Data>();
    for (uint32_t i = 0; i < count; ++i) {
      data->present.push_back(names[i] != nullptr);
      data->names.emplace_back(names[i] ? names[i] : L"");
    }
    data->ids.assign(count, DISPID_UNKNOWN);
    const HRESULT hr = RunOnPage(*page, [core = m_core, data, iid, locale] {
      std::vector<const wchar_t*> pointers;
      for (size_t i = 0; i < data->names.size(); ++i) {
        pointers.push_back(data->present[i] ? data->names[i].c_str() : nullptr);
      }
      return core->object->GetIDsOfNames(iid, pointers.data(), static_cast<uint32_t>(pointers.size()), locale,
                                         data->ids.data());
    });
    for (uint32_t i = 0; i < count; ++i) ids[i] = data->ids[i];
    return hr;
  }

  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, uint16_t flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, uint32_t* argError) override {
    const auto page = m_core->page.lock();
    if (!page) return RPC_E_DISCONNECTED;
    struct Data {
      std::vector<VARIANT> args;  // as in the caller's block (reversed)
      std::vector<DISPID> named;
      bool hasParams = false;
      bool wantsResult = false;
      VARIANT result;
      EXCEPINFO exception;
      uint32_t argError = 0;
    };
    auto data = std::make_shared<Data>();
    if (params) {
      data->hasParams = true;
      if (params->cArgs > 0 && params->rgvarg) data->args.assign(params->rgvarg, params->rgvarg + params->cArgs);
      if (params->cNamedArgs > 0 && params->rgdispidNamedArgs) {
        data->named.assign(params->rgdispidNamedArgs, params->rgdispidNamedArgs + params->cNamedArgs);
      }
    }
    data->wantsResult = result != nullptr;
    const HRESULT hr = RunOnPage(*page, [core = m_core, data, id, iid, locale, flags] {
      DISPPARAMS block;
      block.rgvarg = data->args.empty() ? nullptr : data->args.data();
      block.cArgs = static_cast<uint32_t>(data->args.size());
      block.rgdispidNamedArgs = data->named.empty() ? nullptr : data->named.data();
      block.cNamedArgs = static_cast<uint32_t>(data->named.size());
      const HRESULT hr = core->object->Invoke(id, iid, locale, flags, data->hasParams ? &block : nullptr,
                                              data->wantsResult ? &data->result : nullptr, &data->exception,
                                              &data->argError);
      // An object in the result is handed over as a proxy of its own.
      if (data->result.vt == VT_DISPATCH && data->result.pdispVal) {
        auto home = std::make_shared<Core>(data->result.pdispVal.get(), core->page.lock(), false);
        data->result.pdispVal = CComPtr<IDispatch>(new CDispatchProxy(std::move(home)));
      }
      return hr;
    });
    if (result) *result = std::move(data->result);
    if (exception) *exception = std::move(data->exception);
    if (argError) *argError = data->argError;
    return hr;
  }

 private:
  ~CDispatchProxy() override = default;

  std::atomic<uint32_t> m_refs{0};
  std::shared_ptr<Core> m_core;
};

}  // namespace

marshaled_interface_pointer<IDispatch>::marshaled_interface_pointer(IDispatch* object, bool noMarshal)
    : marshaled_interface_pointer(object, CurrentPageThread(), noMarshal) {}

marshaled_interface_pointer<IDispatch>::marshaled_interface_pointer(IDispatch* object,
                                                                    std::shared_ptr<IPageThread> pageThread,
                                                                    bool noMarshal) {
  if (object) m_core = std::make_shared<Core>(object, std::move(pageThread), noMarshal);
}

marshaled_interface_pointer<IDispatch>::~marshaled_interface_pointer() = default;

CComPtr<IDispatch> marshaled_interface_pointer<IDispatch>::Get() const {
  if (!m_core) return nullptr;
  if (!m_core->hadPage) {
    return boost::this_thread::get_id() == m_core->creator ? m_core->object : nullptr;
  }
  const auto page = m_core->page.lock();
  if (!page) return nullptr;
  if (page->IsCurrent()) return m_core->object;
  if (m_core->noMarshal) return nullptr;
  return CComPtr<IDispatch>(new CDispatchProxy(m_core));
}

HRESULT marshaled_interface_pointer<IDispatch>::CallMethod(const std::wstring& name, std::vector<VARIANT> args) const {
  if (!m_core) return E_POINTER;
  if (!m_core->hadPage) {
    if (boost::this_thread::get_id() != m_core->creator) return RPC_E_WRONG_THREAD;
    return CallMethodByName(m_core->object.get(), name, std::move(args));
  }
  const auto page = m_core->page.lock();
  if (!page) return RPC_E_DISCONNECTED;
  if (m_core->noMarshal && !page->IsCurrent()) return RPC_E_WRONG_THREAD;
  auto data = std::make_shared<std::vector<VARIANT>>(std::move(args));
  return RunOnPage(*page, [core = m_core, name, data] {
    return CallMethodByName(core->object.get(), name, std::move(*data));
  });
}

HRESULT CallMethodByName(IDispatch* object, const std::wstring& name, std::vector<VARIANT> args) {
  if (!object) return E_POINTER;
  const wchar_t* names[] = {name.c_str()};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, kScriptCallLocale, &id);
  if (FAILED(hr)) return hr;
  if (id == DISPID_VALUE) return DISP_E_UNKNOWNNAME;
  CDispParams params(std::move(args));
  return object->Invoke(id, IID_NULL, kScriptCallLocale, DISPATCH_METHOD, params.get(), nullptr, nullptr, nullptr);
}

}  // namespace BrowserControl
