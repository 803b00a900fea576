#pragma once
// Fetches one file from one URL on a worker thread, with progress, retries and an MD5 check.
#include <atomic>
#include <boost/thread/mutex.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "network/connection.h"
#include "network/operation_thread.h"
#include "network/url.h"

namespace Cxx::Core::Event {

// Start, progress and final status of an operation. Every notification does nothing here.
template <typename TStatus>
class IProgressObserver {
 public:
  virtual ~IProgressObserver() = default;
  virtual void OnStarted() {}
  virtual void OnProgress(double /*percent*/) {}
  virtual void OnFinished(TStatus /*status*/) {}
};

}  // namespace Cxx::Core::Event

namespace Cxx::Network::Exception {
class CNetworkException;
}

namespace Cxx::Network::Downloader {

enum EDownloadStatus : int32_t {
  kDownloadOk = 0,                // done, digest verified
  kDownloadDigestMismatch = 1,    // the data's digest differs from the expected one
  kDownloadUnreachable = 2,       // name not resolved, connection lost or reset
  kDownloadRequestFailed = 3,     // refused, request not created, sent or received
  kDownloadTimeout = 4,
  kDownloadReadFailed = 5,        // body not readable (no Content-Length among others)
  kDownloadCancelled = 6,
  kDownloadInternalError = 7,     // of the HTTP stack
  kDownloadInvalidUrl = 8,        // or a parameter error; never retried
  kDownloadClientError = 9,       // status 400 to 499
  kDownloadServerError = 10,      // status 500 to 599
  kDownloadOtherStatus = 11,
  kDownloadFileNotOpened = 12,    // the file could not be opened
  kDownloadDigestUnavailable = 13,
  kDownloadDigestNotText = 14,
  kDownloadHashReadFailed = 15,   // the file could not be read while hashing
  kDownloadOtherFailure = 255,
};

using IDownloadObserver = Core::Event::IProgressObserver<EDownloadStatus>;

// Where a download puts its bytes.
class IOutputByteStream {
 public:
  virtual ~IOutputByteStream() = default;
  // Appends bytes; false when they could not be stored.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // The whole body is about `size` bytes long (a hint).
  virtual void Reserve(uint64_t /*size*/) {}
  // Appends a whole body at once; a stream that keeps its bytes in memory takes the storage
  // over instead of copying it.
  virtual bool TakeOver(std::vector<uint8_t>&& bytes) { return Write(bytes.data(), bytes.size()); }

  // True for a stream that stores the bytes as they arrive, before their digest is known (a
  // file), instead of receiving a verified body at the end. For such a stream each attempt
  // starts with Restart (false: nothing can be stored) and ends with Commit once the body is
  // complete and its digest matches (false: it could not be kept), or with Discard, which
  // drops everything stored at once.
  virtual bool TakesUnverified() const { return false; }
  virtual bool Restart() { return true; }
  virtual bool Commit() { return true; }
  virtual void Discard() {}
};

// Bytes in memory (the download buffer of a fetched file).
class CByteBuffer : public IOutputByteStream {
 public:
  bool Write(const uint8_t* data, size_t size) override;
  void Reserve(uint64_t size) override;
  bool TakeOver(std::vector<uint8_t>&& bytes) override;
  const std::vector<uint8_t>& Bytes() const { return m_bytes; }

 private:
  std::vector<uint8_t> m_bytes;
};

// Percent of the body received: (totalRead / 10000 * 100) / (contentLength / 10000).
double ProgressPercent(uint64_t totalRead, int64_t contentLength);

// The final status for a failure of the HTTP layer.
EDownloadStatus StatusFromException(const Exception::CNetworkException& exception);

// Receives one transfer's body chunk by chunk into an output stream and reports progress.
class CDownloadHelperT : public Http::HttpClient::IReadDataCallBack {
 public:
  // Called after each chunk with the percent received; false stops the transfer.
  using ProgressFunction = std::function<bool(double percent)>;
  CDownloadHelperT(IOutputByteStream& output, ProgressFunction progress);

  // GETs the URL's path and reads the body in chunks; reports 100 percent at the end. The
  // HTTP layer's exceptions (and an interruption of the thread) pass through.
  void Download(const UrlParts& url, uint32_t chunkSize);
  bool OnData(const uint8_t* buffer, uint32_t bufferSize, uint32_t bytesRead, uint64_t totalRead,
              int64_t contentLength) override;
  // True when the output refused bytes (the transfer was stopped there).
  bool WriteFailed() const { return m_writeFailed; }

 private:
  IOutputByteStream& m_output;
  ProgressFunction m_progress;
  bool m_writeFailed = false;
  bool m_stopped = false;  // the read was stopped before the end of the body
};

class IDownloader {
 public:
  virtual ~IDownloader() = default;
  // Downloads into memory and hands the body to `target` only when its digest matches; a
  // target that takes unverified bytes receives them as they arrive instead, hashed on the
  // way, and is committed or discarded at the end of each attempt (memory stays bounded
  // whatever the body's size). False, and nothing started, without a target or when the URL
  // does not parse.
  virtual bool StartToStream(std::shared_ptr<IOutputByteStream> target) = 0;
  // Downloads into the file (each attempt starts from an empty file), then checks its digest.
  // False, and nothing started, when the file's folder cannot be made or the URL does not parse.
  virtual bool StartToFile(const std::wstring& path) = 0;
  // Stops the running download; it ends with kDownloadCancelled.
  virtual void Cancel() = 0;
  // Blocks until the running download has finished (an interruption point of the caller).
  virtual void Wait() = 0;
  // Observers are held weakly and may unsubscribe while being notified.
  virtual void Subscribe(std::shared_ptr<IDownloadObserver> observer) = 0;
  virtual void Unsubscribe(std::shared_ptr<IDownloadObserver> observer) = 0;
};

// Notifications come from the downloader's worker thread: OnStarted, OnProgress after each
// chunk, one OnFinished per start. Up to 3 attempts; kDownloadCancelled and kDownloadInvalidUrl
// end at once. Destruction cancels and waits for the worker.
class CDownloader : public IDownloader {
 public:
  static constexpr uint32_t kChunkSize = 128 * 1024;
  static constexpr int kAttempts = 3;

  // `md5` is compared ignoring letter case.
  CDownloader(std::wstring url, std::wstring md5);
  ~CDownloader() override;
  CDownloader(const CDownloader&) = delete;
  CDownloader& operator=(const CDownloader&) = delete;

  bool StartToStream(std::shared_ptr<IOutputByteStream> target) override;
  bool StartToFile(const std::wstring& path) override;
  void Cancel() override;
  void Wait() override;
  void Subscribe(std::shared_ptr<IDownloadObserver> observer) override;
  void Unsubscribe(std::shared_ptr<IDownloadObserver> observer) override;

 private:
  using Attempt = std::function<EDownloadStatus(const UrlParts& url)>;
  void Start(Attempt attempt);
  void Run(const Attempt& attempt);
  EDownloadStatus AttemptToStream(const UrlParts& url, IOutputByteStream& target);
  EDownloadStatus AttemptThrough(const UrlParts& url, IOutputByteStream& target);
  EDownloadStatus AttemptToFile(const UrlParts& url, const std::string& path);
  EDownloadStatus Transfer(const UrlParts& url, IOutputByteStream& output);
  EDownloadStatus Compare(const std::string& hexDigest) const;
  bool OnProgress(double percent);
  std::vector<std::shared_ptr<IDownloadObserver>> LiveObservers();

  std::vector<std::weak_ptr<IDownloadObserver>> m_observers;
  boost::mutex m_observersMutex;
  std::atomic<uint8_t> m_keepGoing{1};
  std::wstring m_url;
  std::wstring m_md5;
  Core::Utils::COperationThread m_thread;  // last: the worker uses the members above
};

// A downloader for a component's URL and MD5; nothing when either is empty.
std::unique_ptr<IDownloader> CreateDownloader(const std::wstring& url, const std::wstring& md5);

}  // namespace Cxx::Network::Downloader
