#include "network/downloader.h"

#include <algorithm>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/thread.hpp>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <new>
#include <stdexcept>

#include "network/exceptions.h"
#include "network/http_clients.h"
#include "platform/md5.h"
#include "platform/memory.h"
#include "platform/text.h"

namespace Cxx::Network::Downloader {

using Http::HttpClient::kSchemeHttp;
using Http::HttpClient::kSchemeHttps;

namespace {

constexpr uint64_t kLargeBuffer = 8 * 1024 * 1024;

// Room for the whole body at once: no copying while it grows, and for a large body huge pages
// (filling 256 MiB of fresh memory page by page costs more than hashing it). Only a hint: when
// the room cannot be had, the buffer grows as the bytes come.
void ReserveBytes(std::vector<uint8_t>& bytes, uint64_t size) {
  try {
    if (size <= bytes.capacity()) return;
    bytes.reserve(static_cast<size_t>(size));
    if (size >= kLargeBuffer) Platform::AdviseLargeBuffer(bytes.data(), bytes.capacity());
  } catch (const std::exception&) {
  }
}

// Passes the bytes on to a target as they come and takes their MD5 on the way. For a large
// body the digest runs on a second thread that follows the writes through a ring of fixed
// size, so that receiving, storing and hashing overlap while memory stays bounded.
class CPassingDigest : public IOutputByteStream {
 public:
  static constexpr size_t kRing = 4 * 1024 * 1024;
  static constexpr uint64_t kParallelFrom = 4 * 1024 * 1024;

  explicit CPassingDigest(IOutputByteStream& target) : m_target(target) {}
  ~CPassingDigest() override { StopHasher(true); }

  bool Write(const uint8_t* data, size_t size) override {
    if (!m_target.Write(data, size)) return false;
    if (!m_hasher.joinable()) {
      if (!m_digest.Update(data, size)) m_failed = true;
      return true;
    }
    // The hasher always moves on, so waiting for room ends; a cancel is seen after the chunk.
    boost::this_thread::disable_interruption noInterruption;
    while (size > 0) {
      size_t at = 0;
      size_t room = 0;
      {
        boost::unique_lock lock(m_mutex);
        while (m_written - m_hashed == kRing) m_roomMade.wait(lock);
        at = static_cast<size_t>(m_written % kRing);
        room = std::min<size_t>(kRing - static_cast<size_t>(m_written - m_hashed), kRing - at);
      }
      const size_t n = std::min(room, size);
      std::memcpy(m_ring.data() + at, data, n);
      {
        boost::lock_guard lock(m_mutex);
        m_written += n;
      }
      m_changed.notify_one();
      data += n;
      size -= n;
    }
    return true;
  }

  void Reserve(uint64_t size) override {
    m_target.Reserve(size);
    if (size < kParallelFrom || m_hasher.joinable()) return;
    try {
      m_ring.resize(kRing);
      m_hasher = boost::thread([this] { HashLoop(); });
    } catch (const std::exception&) {
      // No second thread: the writes hash inline.
    }
  }

  // Status 0 and the hex digest of everything written, or the digest's failure status.
  EDownloadStatus HexDigest(std::string& hex) {
    StopHasher(false);
    if (!m_digest.Ready() || m_failed) return kDownloadDigestUnavailable;
    const auto text = m_digest.HexDigest();
    if (!text) return kDownloadDigestNotText;
    hex = *text;
    return kDownloadOk;
  }

 private:
  void HashLoop() {
    boost::this_thread::disable_interruption noInterruption;
    for (;;) {
      uint64_t from = 0;
      uint64_t end = 0;
      {
        boost::unique_lock lock(m_mutex);
        while (m_written == m_hashed && !m_stop) m_changed.wait(lock);
        if (m_abandon || m_written == m_hashed) return;
        from = m_hashed;
        end = m_written;
      }
      const size_t at = static_cast<size_t>(from % kRing);
      const size_t n = static_cast<size_t>(std::min<uint64_t>(end - from, kRing - at));
      if (!m_digest.Update(m_ring.data() + at, n)) m_failed = true;
      {
        boost::lock_guard lock(m_mutex);
        m_hashed += n;
      }
      m_roomMade.notify_one();
    }
  }

  // Lets the hasher finish what was written (or drop it when `abandon`) and waits for it.
  void StopHasher(bool abandon) {
    if (!m_hasher.joinable()) return;
    {
      boost::lock_guard lock(m_mutex);
      m_stop = true;
      m_abandon = abandon;
    }
    m_changed.notify_one();
    boost::this_thread::disable_interruption noInterruption;
    m_hasher.join();
  }

  IOutputByteStream& m_target;
  Platform::CMd5Digest m_digest;
  bool m_failed = false;  // like the digest, the hasher's alone while it runs
  std::vector<uint8_t> m_ring;
  boost::thread m_hasher;
  boost::mutex m_mutex;
  boost::condition_variable m_changed;
  boost::condition_variable m_roomMade;
  uint64_t m_written = 0;
  uint64_t m_hashed = 0;
  bool m_stop = false;
  bool m_abandon = false;
};

// One attempt's body in memory, kept until it is verified.
class CMemoryBody : public IOutputByteStream {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  void Reserve(uint64_t size) override { ReserveBytes(bytes, size); }

  std::vector<uint8_t> bytes;
};

class CFileOutputStream : public IOutputByteStream {
 public:
  explicit CFileOutputStream(std::ofstream& file) : m_file(file) {}
  bool Write(const uint8_t* data, size_t size) override {
    m_file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return m_file.good();
  }

 private:
  std::ofstream& m_file;
};

EDownloadStatus HashFile(const std::string& path, std::string& hex) {
  Platform::CMd5Digest digest;
  if (!digest.Ready()) return kDownloadDigestUnavailable;
  std::ifstream file(path, std::ios::binary);
  if (!file) return kDownloadFileNotOpened;
  std::vector<char> block(64 * 1024);
  while (file) {
    file.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = file.gcount();
    if (got > 0 && !digest.Update(block.data(), static_cast<size_t>(got))) return kDownloadDigestUnavailable;
  }
  if (file.bad()) return kDownloadHashReadFailed;
  const auto text = digest.HexDigest();
  if (!text) return kDownloadDigestNotText;
  hex = *text;
  return kDownloadOk;
}

// Makes sure the folder holding `path` exists, creating one level when needed.
bool EnsureFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return false;
  const std::filesystem::path folder = slash == 0 ? std::string("/") : path.substr(0, slash);
  std::error_code error;
  if (std::filesystem::is_directory(folder, error)) return true;
  std::filesystem::create_directory(folder, error);
  return std::filesystem::is_directory(folder, error);
}

}  // namespace

bool CByteBuffer::Write(const uint8_t* data, size_t size) {
  try {
    m_bytes.insert(m_bytes.end(), data, data + size);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void CByteBuffer::Reserve(uint64_t size) { ReserveBytes(m_bytes, size); }

bool CByteBuffer::TakeOver(std::vector<uint8_t>&& bytes) {
  if (m_bytes.empty()) {
    m_bytes = std::move(bytes);
    return true;
  }
  return Write(bytes.data(), bytes.size());
}

double ProgressPercent(uint64_t totalRead, int64_t contentLength) {
  return (static_cast<double>(totalRead) / 10000.0 * 100.0) / (static_cast<double>(contentLength) / 10000.0);
}

EDownloadStatus StatusFromException(const Exception::CNetworkException& exception) {
  switch (exception.GetErrorKind()) {
    case 0: return kDownloadTimeout;
    case 1: return kDownloadRequestFailed;
    case 2: return kDownloadUnreachable;
    case 3: return kDownloadInternalError;
    case 4: return kDownloadInvalidUrl;
    case 5:
      switch (exception.GetErrorCode()) {
        case 0:
        case 1: return kDownloadInvalidUrl;
        case 2: return kDownloadUnreachable;
        case 3:
        case 6: return kDownloadRequestFailed;
        case 4:
        case 5: return kDownloadReadFailed;
        case 7: return kDownloadClientError;
        case 8: return kDownloadServerError;
        case 9: return kDownloadOtherStatus;
        default: return kDownloadOtherFailure;
      }
    default: return kDownloadOtherFailure;
  }
}

CDownloadHelperT::CDownloadHelperT(IOutputByteStream& output, ProgressFunction progress)
    : m_output(output), m_progress(std::move(progress)) {}

void CDownloadHelperT::Download(const UrlParts& url, uint32_t chunkSize) {
  const auto client = Http::HttpClient::CreateSimpleGetHttpClient(L"", url.host, url.port, url.scheme);
  client->SendRequest(url.path, nullptr, L"");
  m_stopped = false;
  client->ReadChunks(*this, chunkSize);
  if (m_progress && !m_stopped) m_progress(100.0);
}

bool CDownloadHelperT::OnData(const uint8_t* buffer, uint32_t, uint32_t bytesRead, uint64_t totalRead,
                              int64_t contentLength) {
  if (totalRead == bytesRead && contentLength > 0) m_output.Reserve(static_cast<uint64_t>(contentLength));
  if (!m_output.Write(buffer, bytesRead)) {
    m_writeFailed = m_stopped = true;
    return false;
  }
  if (!m_progress) return true;
  const bool goOn = m_progress(ProgressPercent(totalRead, contentLength));
  if (!goOn) m_stopped = true;
  return goOn;
}

CDownloader::CDownloader(std::wstring url, std::wstring md5) : m_url(std::move(url)), m_md5(std::move(md5)) {}

CDownloader::~CDownloader() {
  Cancel();
  boost::this_thread::disable_interruption noInterruption;
  m_thread.Wait(-1);
}

bool CDownloader::StartToStream(std::shared_ptr<IOutputByteStream> target) {
  if (!target || !ParseUrl(m_url, kSchemeHttp)) return false;
  Start([this, target](const UrlParts& url) { return AttemptToStream(url, *target); });
  return true;
}

bool CDownloader::StartToFile(const std::wstring& path) {
  const std::string file = Platform::WideToUtf8(path);
  if (!EnsureFolderOf(file) || !ParseUrl(m_url, kSchemeHttp)) return false;
  Start([this, file](const UrlParts& url) { return AttemptToFile(url, file); });
  return true;
}

void CDownloader::Start(Attempt attempt) {
  // A cancel meant for an earlier download does not stop this one.
  m_keepGoing = 1;
  m_thread.Start([this, attempt = std::move(attempt)] { Run(attempt); });
}

void CDownloader::Cancel() {
  m_keepGoing = 0;
  // Also ends waits inside the transfer (a stalled connection, the pause before a resume).
  m_thread.Interrupt();
}

void CDownloader::Wait() { m_thread.Wait(-1); }

void CDownloader::Subscribe(std::shared_ptr<IDownloadObserver> observer) {
  if (!observer) return;
  boost::lock_guard lock(m_observersMutex);
  for (const auto& known : m_observers) {
    if (known.lock() == observer) return;
  }
  m_observers.push_back(observer);
}

void CDownloader::Unsubscribe(std::shared_ptr<IDownloadObserver> observer) {
  boost::lock_guard lock(m_observersMutex);
  std::erase_if(m_observers, [&](const std::weak_ptr<IDownloadObserver>& known) {
    const auto live = known.lock();
    return !live || live == observer;
  });
}

std::vector<std::shared_ptr<IDownloadObserver>> CDownloader::LiveObservers() {
  std::vector<std::weak_ptr<IDownloadObserver>> copy;
  {
    boost::lock_guard lock(m_observersMutex);
    copy = m_observers;
  }
  std::vector<std::shared_ptr<IDownloadObserver>> live;
  for (const auto& weak : copy) {
    if (auto observer = weak.lock()) live.push_back(std::move(observer));
  }
  return live;
}

bool CDownloader::OnProgress(double percent) {
  {
    // A cancel's interruption is for the transfer, not for the observers' own waits.
    boost::this_thread::disable_interruption noInterruption;
    for (const auto& observer : LiveObservers()) observer->OnProgress(percent);
  }
  return m_keepGoing != 0;
}

void CDownloader::Run(const Attempt& attempt) {
  {
    boost::this_thread::disable_interruption noInterruption;
    for (const auto& observer : LiveObservers()) observer->OnStarted();
  }
  EDownloadStatus status = kDownloadInvalidUrl;
  const auto url = ParseUrl(m_url, kSchemeHttp);
  if (url && (url->scheme == kSchemeHttp || url->scheme == kSchemeHttps)) {
    for (int i = 0; i < kAttempts; ++i) {
      if (!m_keepGoing) {
        status = kDownloadCancelled;
        break;
      }
      status = attempt(*url);
      if (status == kDownloadOk || status == kDownloadCancelled || status == kDownloadInvalidUrl) break;
    }
  }
  boost::this_thread::disable_interruption noInterruption;
  for (const auto& observer : LiveObservers()) observer->OnFinished(status);
  m_keepGoing = 1;
}

EDownloadStatus CDownloader::Transfer(const UrlParts& url, IOutputByteStream& output) {
  CDownloadHelperT helper(output, [this](double percent) { return OnProgress(percent); });
  try {
    helper.Download(url, kChunkSize);
  } catch (const boost::thread_interrupted&) {
    // Only Cancel, a restart or the destructor interrupt this worker: all mean stop.
    return kDownloadCancelled;
  } catch (const Exception::NetworkExceptionPtr& exception) {
    return exception ? StatusFromException(*exception) : kDownloadOtherFailure;
  } catch (const Exception::CNetworkException& exception) {
    return StatusFromException(exception);
  } catch (...) {
    return kDownloadOtherFailure;
  }
  return helper.WriteFailed() ? kDownloadOtherFailure : kDownloadOk;
}

EDownloadStatus CDownloader::Compare(const std::string& hexDigest) const {
  if (hexDigest.size() != m_md5.size()) return kDownloadDigestMismatch;
  for (size_t i = 0; i < hexDigest.size(); ++i) {
    const wchar_t expected = m_md5[i] < 0x80 ? static_cast<wchar_t>(std::towlower(m_md5[i])) : m_md5[i];
    if (expected != static_cast<wchar_t>(hexDigest[i])) return kDownloadDigestMismatch;
  }
  return kDownloadOk;
}

EDownloadStatus CDownloader::AttemptThrough(const UrlParts& url, IOutputByteStream& target) {
  if (!target.Restart()) return kDownloadFileNotOpened;
  EDownloadStatus status;
  {
    CPassingDigest digest(target);
    status = Transfer(url, digest);
    if (status == kDownloadOk && !m_keepGoing) status = kDownloadCancelled;
    std::string hex;
    if (status == kDownloadOk) status = digest.HexDigest(hex);
    if (status == kDownloadOk) status = Compare(hex);
  }
  if (status == kDownloadOk && !target.Commit()) status = kDownloadOtherFailure;
  // Nothing of a failed, cut or cancelled attempt is kept.
  if (status != kDownloadOk) target.Discard();
  return status;
}

EDownloadStatus CDownloader::AttemptToStream(const UrlParts& url, IOutputByteStream& target) {
  if (target.TakesUnverified()) return AttemptThrough(url, target);
  CMemoryBody body;
  std::string hex;
  {
    CPassingDigest digest(body);
    const EDownloadStatus status = Transfer(url, digest);
    if (status != kDownloadOk) return status;
    if (!m_keepGoing) return kDownloadCancelled;
    const EDownloadStatus hashed = digest.HexDigest(hex);
    if (hashed != kDownloadOk) return hashed;
  }
  const EDownloadStatus verdict = Compare(hex);
  if (verdict != kDownloadOk) return verdict;
  // Only a verified body reaches the caller, handed over without a copy.
  return target.TakeOver(std::move(body.bytes)) ? kDownloadOk : kDownloadOtherFailure;
}

EDownloadStatus CDownloader::AttemptToFile(const UrlParts& url, const std::string& path) {
  EDownloadStatus status;
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return kDownloadFileNotOpened;
    CFileOutputStream output(file);
    status = Transfer(url, output);
    file.close();
    if (status == kDownloadOk && file.fail()) status = kDownloadOtherFailure;
  }
  if (status != kDownloadOk) return status;
  if (!m_keepGoing) return kDownloadCancelled;
  std::string hex;
  status = HashFile(path, hex);
  return status != kDownloadOk ? status : Compare(hex);
}

std::unique_ptr<IDownloader> CreateDownloader(const std::wstring& url, const std::wstring& md5) {
  if (url.empty() || md5.empty()) return nullptr;
  return std::make_unique<CDownloader>(url, md5);
}

}  // namespace Cxx::Network::Downloader
