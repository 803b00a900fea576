#pragma once
// A script object for the bridge tests: members that show what arrived and how often.
#include <atomic>
#include <boost/thread/thread.hpp>
#include <memory>
#include <vector>

#include "browser/custom_object.h"
#include "browser/marshaled_interface_pointer.h"

namespace TestSupport {

class CProbe : public BrowserControl::JS::custom_object<CProbe> {
 public:
  CProbe();
  ~CProbe() override;
  std::wstring GetName() const override { return L"probe"; }

  // typeOf(x) -> the VARIANT type number of x
  virtual BrowserControl::HRESULT TypeOf(BrowserControl::DISPPARAMS*, BrowserControl::VARIANT*,
                                         BrowserControl::EXCEPINFO*, uint32_t*);
  // echo(x) -> x
  virtual BrowserControl::HRESULT Echo(BrowserControl::DISPPARAMS*, BrowserControl::VARIANT*,
                                       BrowserControl::EXCEPINFO*, uint32_t*);
  // add(a, b) -> a + b as integers
  virtual BrowserControl::HRESULT Add(BrowserControl::DISPPARAMS*, BrowserControl::VARIANT*,
                                      BrowserControl::EXCEPINFO*, uint32_t*);
  // bump() -> nothing (refuses a result slot); counts the calls
  virtual BrowserControl::HRESULT Bump(BrowserControl::DISPPARAMS*, BrowserControl::VARIANT*,
                                       BrowserControl::EXCEPINFO*, uint32_t*);
  // answer -> 42
  virtual BrowserControl::HRESULT Answer(BrowserControl::DISPPARAMS*, BrowserControl::VARIANT*,
                                         BrowserControl::EXCEPINFO*, uint32_t*);
  // broken() -> E_FAIL
  virtual BrowserControl::HRESULT Broken(BrowserControl::DISPPARAMS*, BrowserControl::VARIANT*,
                                         BrowserControl::EXCEPINFO*, uint32_t*);
  // later(callback, n): a worker thread calls onTick(i) for i < n, then onMissing(), then
  // onDone(); no result
  virtual BrowserControl::HRESULT Later(BrowserControl::DISPPARAMS*, BrowserControl::VARIANT*,
                                        BrowserControl::EXCEPINFO*, uint32_t*);
  // now(callback): calls callback.onNow("x") at once, on this (page) thread; no result
  virtual BrowserControl::HRESULT Now(BrowserControl::DISPPARAMS*, BrowserControl::VARIANT*,
                                      BrowserControl::EXCEPINFO*, uint32_t*);
  // keep(object): holds it until forget(); no result
  virtual BrowserControl::HRESULT Keep(BrowserControl::DISPPARAMS*, BrowserControl::VARIANT*,
                                       BrowserControl::EXCEPINFO*, uint32_t*);
  virtual BrowserControl::HRESULT Forget(BrowserControl::DISPPARAMS*, BrowserControl::VARIANT*,
                                         BrowserControl::EXCEPINFO*, uint32_t*);

  std::atomic<int> bumps{0};

 private:
  std::vector<boost::thread> m_workers;
  std::vector<BrowserControl::CComPtr<BrowserControl::IDispatch>> m_kept;
};

}  // namespace TestSupport
