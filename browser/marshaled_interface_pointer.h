#pragma once
// A script object (a callback the page handed to native code) made usable from any thread.
//
// Threading rules of calls into script:
// - Page objects are used on the page thread only. On any other thread the pointer yields a
//   proxy: each call is queued to the page thread (IPageThread::Post) and the calling thread
//   waits until it has run there. Calls therefore reach script in the order they were made,
//   and a worker never has more than one call outstanding (no queue grows without bound).
// - The wait ends when the call has run, when the waiting thread is interrupted (it is a
//   Boost.Thread interruption point: boost::thread_interrupted leaves the call, and the queued
//   call is dropped unrun), or when the page thread is gone (RPC_E_DISCONNECTED).
// - So the page thread may join a worker that is calling back only after interrupting it:
//   every Stop interrupts and then waits. Workers make their calls into script with
//   interruption enabled and holding no lock that the page thread may take.
// - On the page thread itself a call runs directly; the page thread never waits for itself.
#include <memory>
#include <string>
#include <vector>

#include "browser/page_thread.h"
#include "browser/variant.h"

namespace BrowserControl {

// The locale passed when native code looks up and calls script members.
inline constexpr LCID kScriptCallLocale = 1024;

template <typename Interface>
class marshaled_interface_pointer;

template <>
class marshaled_interface_pointer<IDispatch> {
 public:
  marshaled_interface_pointer() = default;
  // Takes a reference on `object`, whose home is the calling thread's page thread
  // (CurrentPageThread). With `noMarshal`, the object is usable on its page thread only
  // (elsewhere Get yields null). Created on a thread without a page thread, it is usable on
  // the creating thread only.
  explicit marshaled_interface_pointer(IDispatch* object, bool noMarshal = false);
  // The same with the object's page thread given.
  marshaled_interface_pointer(IDispatch* object, std::shared_ptr<IPageThread> pageThread,
                              bool noMarshal = false);
  // Releases the object (on its page thread while that exists).
  ~marshaled_interface_pointer();
  marshaled_interface_pointer(const marshaled_interface_pointer&) = delete;
  marshaled_interface_pointer& operator=(const marshaled_interface_pointer&) = delete;

  // The interface usable on the calling thread: on the page thread the object itself, on
  // any other thread a proxy that carries each call to the page thread (rules above); null
  // when there is none.
  CComPtr<IDispatch> Get() const;

  // Calls the object's member `name` as a method with `args` (in script order) and no
  // result: looks the name up (IID_NULL, kScriptCallLocale) and invokes it (DISPATCH_METHOD).
  // A failed look-up or DISPID 0 calls nothing and fails (DISP_E_UNKNOWNNAME). From another
  // thread the look-up and the call make one trip to the page thread.
  HRESULT CallMethod(const std::wstring& name, std::vector<VARIANT> args = {}) const;

  explicit operator bool() const { return m_core != nullptr; }

  struct Core;

 private:
  std::shared_ptr<Core> m_core;
};

// Calls member `name` of `object` (an interface usable on the calling thread) as a method, by
// the same rules as marshaled_interface_pointer::CallMethod.
HRESULT CallMethodByName(IDispatch* object, const std::wstring& name, std::vector<VARIANT> args = {});

}  // namespace BrowserControl
