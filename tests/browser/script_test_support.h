#pragma once
// Calling script objects as the script engine does, and a script-side callback object that
// records what native code called on it.
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <functional>
#include <string>
#include <vector>

#include "browser/custom_object.h"
#include "browser/variant.h"

namespace BrowserTest {

using namespace BrowserControl;

struct CallResult {
  HRESULT hr = E_UNEXPECTED;
  VARIANT value;
};

// Looks `member` up and invokes it with `args` in script order; `withResult` offers a slot.
inline CallResult Call(IDispatch* object, const std::wstring& member, std::vector<VARIANT> args = {},
                       bool withResult = true, uint16_t flags = DISPATCH_METHOD) {
  CallResult out;
  const wchar_t* names[] = {member.c_str()};
  DISPID id = DISPID_UNKNOWN;
  out.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(out.hr)) return out;
  CDispParams params(std::move(args));
  out.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params.get(), withResult ? &out.value : nullptr,
                          nullptr, nullptr);
  return out;
}

inline VARIANT Str(const std::wstring& text) { return MakeVariantBstr(text); }

// One call native code made on the callback object.
struct RecordedCall {
  std::wstring method;
  std::vector<VARIANT> args;  // script order
  boost::thread::id thread;
};

// A page-side callback object: any method name is accepted and recorded. `onCall` runs on the
// calling thread after the call is recorded.
class CRecorder : public JS::custom_object<CRecorder> {
 public:
  explicit CRecorder(std::vector<std::wstring> methods) {
    for (const auto& m : methods) RegisterMethod(m.c_str(), &CRecorder::Record);
    m_methods = std::move(methods);
  }
  ~CRecorder() override {
    if (onDestroyed) onDestroyed();
  }
  std::wstring GetName() const override { return L"recorder"; }

  std::vector<RecordedCall> Calls() const {
    boost::lock_guard lock(m_mutex);
    return m_calls;
  }
  std::vector<std::wstring> Methods() const {
    std::vector<std::wstring> names;
    for (const auto& c : Calls()) names.push_back(c.method);
    return names;
  }
  // Waits until `predicate` holds for the calls (an interruption point).
  void WaitFor(const std::function<bool(const std::vector<RecordedCall>&)>& predicate) const {
    boost::unique_lock lock(m_mutex);
    while (!predicate(m_calls)) m_changed.wait(lock);
  }
  void WaitForCount(size_t n) const {
    WaitFor([n](const std::vector<RecordedCall>& calls) { return calls.size() >= n; });
  }

  std::function<void(const RecordedCall&)> onCall;
  std::function<void()> onDestroyed;

 private:
  HRESULT Record(DISPPARAMS* params, VARIANT*, EXCEPINFO*, uint32_t*) {
    // Every member shares this handler; Invoke notes which one was called.
    RecordedCall call{m_current, {}, boost::this_thread::get_id()};
    for (uint32_t i = 0; i < JS::ArgCount(params); ++i) call.args.push_back(JS::ScriptArg(params, i));
    {
      boost::lock_guard lock(m_mutex);
      m_calls.push_back(call);
    }
    m_changed.notify_all();
    if (onCall) onCall(call);
    return S_OK;
  }

 public:
  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, uint16_t flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, uint32_t* argError) override {
    m_current = id >= 1 && static_cast<size_t>(id) <= m_methods.size() ? m_methods[static_cast<size_t>(id) - 1] : L"";
    return custom_object<CRecorder>::Invoke(id, iid, locale, flags, params, result, exception, argError);
  }

 private:
  std::vector<std::wstring> m_methods;
  std::wstring m_current;  // the page thread is the only caller
  mutable boost::mutex m_mutex;
  mutable boost::condition_variable m_changed;
  std::vector<RecordedCall> m_calls;
};

}  // namespace BrowserTest
