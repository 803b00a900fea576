#pragma once
// "download": files fetched for the page, each on its own worker, with script callbacks.
#include <atomic>
#include <boost/thread/mutex.hpp>
#include <map>
#include <memory>
#include <string>

#include "browser/custom_object.h"
#include "browser/marshaled_interface_pointer.h"
#include "network/operation_thread.h"

namespace BrowserControl::JS {

// One download: GETs the URL into the target file on a worker and reports to the callback
// object: "onProgress" (the rounded percent as a string) per chunk, then exactly one of
// "onCancelled", "onFinished" or "onError". A cancelled or failed download deletes the target.
class CDownload {
 public:
  // `callback` may be null (nothing is reported).
  CDownload(std::wstring url, std::wstring target, IDispatch* callback, bool noMarshal);
  // Cancels, interrupts the worker and waits for it (a worker interrupted before it is done
  // deletes the target and reports nothing).
  ~CDownload();
  CDownload(const CDownload&) = delete;
  CDownload& operator=(const CDownload&) = delete;

  void Start();
  // Asks the download to stop at its next chunk.
  void Cancel() { m_cancelled.store(1); }
  const std::wstring& Url() const { return m_url; }
  const std::wstring& Target() const { return m_target; }

 private:
  void Run();

  std::wstring m_url;
  std::wstring m_target;
  marshaled_interface_pointer<IDispatch> m_callback;
  std::atomic<uint8_t> m_cancelled{0};
  Cxx::Core::Utils::COperationThread m_thread;  // last: the worker uses the members above
};

// Members start, cancel (DISPIDs 1-2). "start" (URL [, callback]) returns the target path,
// a new file "smXXXXXX.tmp" in the private temporary folder, which is also the id for
// "cancel". Downloads stay in the table after they end.
class CDownloader : public custom_object<CDownloader> {
 public:
  // `noMarshal`: pass the callback to the worker without carrying its calls to the page
  // thread (it then gets no calls at all).
  explicit CDownloader(bool noMarshal = false);
  std::wstring GetName() const override { return L"download"; }

  virtual HRESULT Start(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);
  virtual HRESULT Cancel(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);

 private:
  ~CDownloader() override;

  boost::mutex m_mutex;
  std::map<std::wstring, std::shared_ptr<CDownload>> m_downloads;
  bool m_noMarshal;
};

}  // namespace BrowserControl::JS
