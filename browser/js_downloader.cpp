#include "browser/js_downloader.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "network/downloader.h"
#include "network/url.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/termination.h"
#include "platform/text.h"

namespace BrowserControl::JS {

namespace {

constexpr uint32_t kChunkSize = 128 * 1024;

class CFileOutput : public Cxx::Network::Downloader::IOutputByteStream {
 public:
  explicit CFileOutput(std::ofstream& file) : m_file(file) {}
  bool Write(const uint8_t* data, size_t size) override {
    m_file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(m_file);
  }

 private:
  std::ofstream& m_file;
};

std::filesystem::path NativePath(const std::wstring& path) { return std::filesystem::path(Platform::WideToUtf8(path)); }

}  // namespace

CDownload::CDownload(std::wstring url, std::wstring target, IDispatch* callback, bool noMarshal)
    : m_url(std::move(url)), m_target(std::move(target)), m_callback(callback, noMarshal) {}

CDownload::~CDownload() {
  Cancel();
  // m_thread's destructor interrupts the worker and waits for it.
}

void CDownload::Start() {
  m_thread.Start([this] { Run(); });
}

void CDownload::Run() {
  bool succeeded = false;
  bool interrupted = false;
  try {
    const auto url = Cxx::Network::ParseUrl(m_url);
    std::ofstream file(NativePath(m_target), std::ios::binary | std::ios::trunc);
    if (url && file) {
      CFileOutput output(file);
      Cxx::Network::Downloader::CDownloadHelperT helper(output, [this](double percent) {
        if (m_cancelled.load()) return false;
        if (m_callback) {
          const long rounded = std::isfinite(percent) ? std::lround(percent) : 0;
          m_callback.CallMethod(L"onProgress", {MakeVariantBstr(std::to_wstring(rounded))});
        }
        return m_cancelled.load() == 0;
      });
      helper.Download(*url, kChunkSize);
      file.close();
      succeeded = !helper.WriteFailed() && !file.fail();
    }
  } catch (const boost::thread_interrupted&) {
    interrupted = true;
  } catch (...) {
    // A failure of the transfer: reported below.
  }
  const bool cancelled = m_cancelled.load() != 0;
  if (cancelled || interrupted || !succeeded) {
    std::error_code ignored;
    std::filesystem::remove(NativePath(m_target), ignored);
    Platform::ForgetOnTermination(NativePath(m_target));
  }
  // Interrupted: the page is going away and waits for this worker; nothing more is reported.
  if (interrupted || !m_callback) return;
  m_callback.CallMethod(cancelled ? L"onCancelled" : succeeded ? L"onFinished" : L"onError");
}

CDownloader::CDownloader(bool noMarshal) : m_noMarshal(noMarshal) {
  RegisterMethod(L"start", &CDownloader::Start);
  RegisterMethod(L"cancel", &CDownloader::Cancel);
}

CDownloader::~CDownloader() {
  std::map<std::wstring, std::shared_ptr<CDownload>> downloads;
  {
    boost::lock_guard lock(m_mutex);
    downloads.swap(m_downloads);
  }
  for (auto& [id, download] : downloads) download->Cancel();
  // Each download interrupts its worker and waits for it as it goes.
}

HRESULT CDownloader::Start(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 1, 2, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  std::wstring url;
  CComPtr<IDispatch> callback;
  if (!ToString(ScriptArg(params, 0), url)) return E_INVALIDARG;
  if (ArgCount(params) == 2 && !ToDispatch(ScriptArg(params, 1), callback)) return E_INVALIDARG;
  if (url.empty()) return E_INVALIDARG;

  // Without a private temporary file there is nowhere safe to put the download.
  std::wstring target;
  try {
    target = Platform::Utf8ToWide(Platform::CreateUniqueTempFile(Platform::GetTempFolder(), "sm").native());
  } catch (const std::exception&) {
    return E_FAIL;
  }
  auto download = std::make_shared<CDownload>(url, target, callback.get(), m_noMarshal);
  download->Start();
  {
    boost::lock_guard lock(m_mutex);
    m_downloads[target] = download;
  }
  SetResultString(result, target);
  return S_OK;
}

HRESULT CDownloader::Cancel(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 1, result, EResultSlot::kRefused); FAILED(hr)) return hr;
  std::wstring id;
  if (!ToString(ScriptArg(params, 0), id) || id.empty()) return E_INVALIDARG;
  boost::lock_guard lock(m_mutex);
  const auto it = m_downloads.find(id);
  if (it != m_downloads.end()) it->second->Cancel();
  return S_OK;
}

}  // namespace BrowserControl::JS
