#include "network/curl_connection.h"

#include <curl/curl.h>

#include <algorithm>
#include <boost/chrono.hpp>
#include <boost/thread/thread.hpp>
#include <cctype>
#include <cstring>
#include <deque>
#include <mutex>

#include "config/profile.h"
#include "network/exceptions.h"
#include "network/parameters.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace Cxx::Network::Http::HttpClient {

using Exception::CCurlNetworkException;
using Exception::CNetworkException;
using Exception::Throw;

namespace {

constexpr const char* kSendFailed = "Can't send request to the server.";
constexpr const char* kCreateFailed = "Can't create request to the server.";
constexpr const char* kReadFailedSync = "Error by receiving data from server ( synchronously ).";
constexpr const char* kReadFailedAsync = "Error by receiving data from server ( asynchronously ).";
constexpr const char* kNoContentLength =
    "Error by receiving data from server ( asynchronously ). Available data size is unknown. "
    "Can't get content length header.";
constexpr const char* kBodyTooLong = "Error by receiving data from server ( asynchronously ). The body is too long.";
constexpr const char* kReplyTooLong = "Error by receiving data from server ( synchronously ). The reply is too long.";
constexpr long kCurlBufferSize = 128 * 1024;
constexpr int kPollMilliseconds = 200;  // how often a network wait looks for interruption
constexpr int kResumeRetries = 10;
constexpr uint64_t kSpeedSampleMilliseconds = 250;  // spacing of the low-speed window's samples

std::mutex g_settingsMutex;
ConnectionSettings& Defaults() {
  static ConnectionSettings settings = [] {
    ConnectionSettings defaults;
    defaults.caBundle = Config::kCaBundle;
    return defaults;
  }();
  return settings;
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A transport failure while reading a body; `outOfBounds` when a time bound ended it.
struct ReadFailure {
  CURLcode code;
  bool outOfBounds = false;
};

// The time bounds of one transfer (Transfer::Drive).
struct TransferBounds {
  uint64_t stall = 0;        // milliseconds of waiting without a byte
  uint64_t window = 0;       // milliseconds over which the low speed is averaged
  uint64_t minimumRate = 0;  // bytes a second
  uint64_t deadline = 0;     // steady milliseconds at which the exchange ends; 0: none
};

}  // namespace

ConnectionSettings DefaultConnectionSettings() {
  std::lock_guard lock(g_settingsMutex);
  return Defaults();
}

void SetDefaultConnectionSettings(const ConnectionSettings& settings) {
  std::lock_guard lock(g_settingsMutex);
  Defaults() = settings;
}

// One request on the wire. Body bytes reach the reader only when it asks: the write callback
// fills the reader's buffer and pauses the transfer when it is full, so at most one of
// libcurl's receive blocks is ever kept aside.
struct CCurlConnection::Transfer {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  std::string url;
  std::string body;

  bool followsRedirects = true;
  bool sawLocation = false;  // a Location with a value (libcurl follows those)
  bool headersDone = false;  // the head of the final response is in
  bool done = false;
  bool outOfBounds = false;  // ended by one of the time bounds
  CURLcode result = CURLE_OK;
  int64_t rangeStart = -1;  // first byte of a 206 answer, from Content-Range

  // Only the time spent waiting in Drive counts against the bounds. Head bytes count as their
  // line completes: a head fed a byte at a time meets the stall bound as soon as one line takes
  // that long, far below the lowest speed allowed anyway.
  TransferBounds bounds;
  uint64_t received = 0;  // header and body bytes so far
  uint64_t waited = 0;    // milliseconds spent in Drive
  uint64_t lastByte = 0;  // `waited` when a byte last arrived
  uint64_t lastCount = 0; // `received` then
  std::deque<std::pair<uint64_t, uint64_t>> samples{{0, 0}};  // (waited, received)

  uint64_t skip = 0;  // bytes to drop at the start of the body (a resume answered in full)
  uint8_t* target = nullptr;
  size_t room = 0;
  size_t filled = 0;
  std::vector<uint8_t> aside;
  size_t asidePos = 0;

  ~Transfer() {
    if (easy) {
      curl_multi_remove_handle(multi, easy);
      curl_easy_cleanup(easy);
    }
    if (multi) curl_multi_cleanup(multi);
    curl_slist_free_all(headerList);
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const std::string_view line(data, size * count);
    t->received += line.size();
    if (StartsWithNoCase(line, "http/")) {
      t->sawLocation = false;
      t->rangeStart = -1;
    } else if (StartsWithNoCase(line, "location:")) {
      // libcurl ignores an empty Location; the response is then the final one.
      t->sawLocation = std::any_of(line.begin() + 9, line.end(), [](char c) { return !IsBlank(c); });
    } else if (StartsWithNoCase(line, "content-range:")) {
      // "Content-Range: bytes 100-199/200"
      const size_t pos = line.find("bytes");
      if (pos != std::string_view::npos) {
        int64_t start = 0;
        size_t i = pos + 5;
        while (i < line.size() && line[i] == ' ') ++i;
        const size_t first = i;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9' && start < (int64_t{1} << 50)) {
          start = start * 10 + (line[i++] - '0');
        }
        if (i > first && i < line.size() && line[i] == '-') t->rangeStart = start;
      }
    } else if (line == "\r\n" || line == "\n") {
      long status = 0;
      curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
      const bool interim = status >= 100 && status < 200;
      const bool redirected = status >= 300 && status < 400 && t->sawLocation && t->followsRedirects;
      if (!interim && !redirected) t->headersDone = true;
    }
    return size * count;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const size_t total = size * count;
    // libcurl hands over no body of a response that it follows: a body comes with the final
    // response, whatever its head looked like.
    t->headersDone = true;
    if (t->room == 0) return CURL_WRITEFUNC_PAUSE;  // delivered again after unpausing
    t->received += total;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data);
    size_t len = total;
    const size_t dropped = static_cast<size_t>(std::min<uint64_t>(t->skip, len));
    t->skip -= dropped;
    p += dropped;
    len -= dropped;
    const size_t now = std::min(len, t->room);
    std::memcpy(t->target + t->filled, p, now);
    t->filled += now;
    t->room -= now;
    if (now < len) {
      t->aside.assign(p + now, p + len);
      t->asidePos = 0;
    }
    return total;
  }

  // Drives the transfer until `until` holds or it has ended; waits are interruptible. A
  // transfer that crosses a time bound ends here as a time-out.
  template <typename Pred>
  void Drive(Pred until) {
    uint64_t last = Platform::SteadyMilliseconds();
    while (!done && !until()) {
      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
          done = true;
          result = msg->data.result;
        }
      }
      if (done || until()) break;
      curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr);
      boost::this_thread::interruption_point();
      const uint64_t now = Platform::SteadyMilliseconds();
      waited += now - last;
      last = now;
      if (OutOfBounds(now)) {
        done = outOfBounds = true;
        result = CURLE_OPERATION_TIMEDOUT;
      }
    }
  }

  bool OutOfBounds(uint64_t now) {
    if (bounds.deadline != 0 && now >= bounds.deadline) return true;
    if (received != lastCount) {
      lastCount = received;
      lastByte = waited;
    } else if (bounds.stall != 0 && waited - lastByte >= bounds.stall) {
      return true;
    }
    if (bounds.window == 0 || bounds.minimumRate == 0) return false;
    if (waited - samples.back().first >= kSpeedSampleMilliseconds) samples.emplace_back(waited, received);
    // The oldest sample kept is the last one at least a window back.
    while (samples.size() >= 2 && waited - samples[1].first >= bounds.window) samples.pop_front();
    const auto& [since, count] = samples.front();
    const uint64_t span = waited - since;
    return span >= bounds.window && (received - count) * 1000 < bounds.minimumRate * span;
  }

  // Fills up to `size` bytes; fewer only at the end of the body. Throws ReadFailure when the
  // transfer broke before anything could be returned.
  size_t Read(uint8_t* buffer, size_t size) {
    size_t n = 0;
    if (asidePos < aside.size()) {
      n = std::min(size, aside.size() - asidePos);
      std::memcpy(buffer, aside.data() + asidePos, n);
      asidePos += n;
      if (asidePos == aside.size()) {
        aside.clear();
        asidePos = 0;
      }
    }
    if (n < size && !done) {
      target = buffer;
      filled = n;
      room = size - n;
      curl_easy_pause(easy, CURLPAUSE_CONT);  // may deliver held data right here
      Drive([this] { return room == 0; });
      n = filled;
      target = nullptr;
      room = 0;
    }
    if (n == 0 && done && result != CURLE_OK) throw ReadFailure{result, outOfBounds};
    return n;
  }
};

CCurlConnection::CCurlConnection(std::wstring userAgent, std::wstring server, uint16_t port,
                                 EHttpScheme scheme, ConnectionSettings settings)
    : m_userAgent(std::move(userAgent)),
      m_server(std::move(server)),
      m_port(port),
      m_scheme(scheme),
      m_settings(std::move(settings)) {
  GlobalInit();
}

CCurlConnection::~CCurlConnection() = default;

bool CCurlConnection::Perform(Request request, uint32_t& error) {
  m_request = std::move(request);
  m_deadline = m_request.totalTimeout.count() > 0
                   ? Platform::SteadyMilliseconds() + static_cast<uint64_t>(m_request.totalTimeout.count())
                   : 0;
  return Send(std::string(), error);
}

bool CCurlConnection::Send(const std::string& extraHeader, uint32_t& error) {
  m_transfer.reset();
  auto t = std::make_unique<Transfer>();
  t->multi = curl_multi_init();
  t->easy = curl_easy_init();
  if (!t->multi || !t->easy) Throw<CCurlNetworkException>(3, kCreateFailed, CURLE_FAILED_INIT);

  const bool https = m_scheme == kSchemeHttps;
  std::string host = Platform::WideToUtf8(m_server);
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  t->url = (https ? "https://" : "http://") + host + ":" + std::to_string(m_port);
  if (m_request.path.empty() || m_request.path.front() != '/') t->url += '/';
  t->url += m_request.path;

  for (const auto& h : m_request.headers) t->headerList = curl_slist_append(t->headerList, h.c_str());
  if (!extraHeader.empty()) t->headerList = curl_slist_append(t->headerList, extraHeader.c_str());
  // Only what the caller asks for: no default form content type, no "Expect: 100-continue".
  const bool hasContentType = std::any_of(m_request.headers.begin(), m_request.headers.end(),
                                          [](const std::string& h) { return StartsWithNoCase(h, "content-type:"); });
  if (m_request.post && !hasContentType) t->headerList = curl_slist_append(t->headerList, "Content-Type:");
  t->headerList = curl_slist_append(t->headerList, "Expect:");

  CURL* e = t->easy;
  curl_easy_setopt(e, CURLOPT_URL, t->url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  // Never follow an https request down to plain http.
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kCurlBufferSize);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(e, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  if (!m_settings.caBundle.empty()) {
    curl_easy_setopt(e, CURLOPT_CAINFO, m_settings.caBundle.c_str());
    curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
  }
  const auto connectTimeout = m_request.connectTimeout.count() > 0 ? m_request.connectTimeout : m_settings.connectTimeout;
  const auto stallTimeout = m_request.stallTimeout.count() > 0 ? m_request.stallTimeout : m_settings.stallTimeout;
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeout.count()));
  // The stall, low-speed and overall bounds are kept by Drive: libcurl's own low-speed check
  // sleeps while the transfer is paused.
  t->bounds.stall = static_cast<uint64_t>(stallTimeout.count());
  t->bounds.window = static_cast<uint64_t>(m_settings.lowSpeedWindow.count());
  t->bounds.minimumRate = m_settings.lowSpeedLimit;
  t->bounds.deadline = m_deadline;
  if (!m_userAgent.empty()) {
    curl_easy_setopt(e, CURLOPT_USERAGENT, Platform::WideToUtf8(m_userAgent).c_str());
  }
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headerList);
  if (m_request.post) {
    t->body = m_request.body;
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t->body.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, t->body.data());
  } else {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get());
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());
  if (curl_multi_add_handle(t->multi, e) != CURLM_OK) {
    Throw<CCurlNetworkException>(3, kCreateFailed, CURLE_FAILED_INIT);
  }

  m_transfer = std::move(t);
  Transfer& transfer = *m_transfer;
  transfer.Drive([&transfer] { return transfer.headersDone; });
  // A transfer that ended well after a response head without a body (a redirect that is not
  // followed, for one) has its final response too.
  uint32_t status = 0;
  if (!transfer.headersDone && transfer.done && transfer.result == CURLE_OK && QueryStatusCode(status)) {
    transfer.headersDone = true;
  }
  if (!transfer.headersDone) {
    error = transfer.result != CURLE_OK ? transfer.result : CURLE_GOT_NOTHING;
    return false;
  }
  return true;
}

void CCurlConnection::CheckStatus() {
  uint32_t status = 0;
  if (QueryStatusCode(status) && status >= 400 && status <= 599) {
    Throw<CNetworkException>(status < 500 ? 7 : 8,
                             "Send request to the server failure status " + std::to_string(status) + " .");
  }
}

bool CCurlConnection::QueryStatusCode(uint32_t& status) {
  if (!m_transfer) return false;
  long code = 0;
  if (curl_easy_getinfo(m_transfer->easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code <= 0) return false;
  status = static_cast<uint32_t>(code);
  return true;
}

void CCurlConnection::ReadAll(std::unique_ptr<uint8_t[]>& data, uint32_t& length) {
  if (!m_transfer) Throw<CCurlNetworkException>(4, kReadFailedSync);
  std::vector<uint8_t> body;
  size_t total = 0;
  try {
    for (;;) {
      body.resize(total + 65536);
      const size_t n = m_transfer->Read(body.data() + total, 65536);
      if (n == 0) break;
      total += n;
      if (total > m_settings.replyLimit) Throw<CCurlNetworkException>(4, kReplyTooLong, CURLE_FILESIZE_EXCEEDED);
    }
  } catch (const ReadFailure& failure) {
    Throw<CCurlNetworkException>(4, kReadFailedSync, failure.code);
  }
  data.reset(new uint8_t[total + 3]);
  std::memcpy(data.get(), body.data(), total);
  data[total] = data[total + 1] = data[total + 2] = 0;
  length = static_cast<uint32_t>(total + 1);
}

void CCurlConnection::ReadChunks(IReadDataCallBack& receiver, uint32_t chunkSize) {
  curl_off_t contentLength = -1;
  if (m_transfer) curl_easy_getinfo(m_transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &contentLength);
  if (contentLength < 0) Throw<CCurlNetworkException>(4, kNoContentLength);
  if (static_cast<uint64_t>(contentLength) > m_settings.chunkedLimit) {
    Throw<CCurlNetworkException>(4, kBodyTooLong, CURLE_FILESIZE_EXCEEDED);
  }
  if (chunkSize == 0) return;

  const auto buffer = std::make_unique<uint8_t[]>(chunkSize);
  int retries = kResumeRetries;
  uint64_t total = 0;
  for (;;) {
    size_t n = 0;
    try {
      n = m_transfer->Read(buffer.get(), chunkSize);
    } catch (const ReadFailure& failure) {
      // A server that keeps the transfer below the bounds gets no second minute: the read
      // fails. A broken transfer is resent for the rest of the body; every resend counts, a
      // chunk that arrives restores them all.
      if (failure.outOfBounds) Throw<CCurlNetworkException>(4, kReadFailedAsync, failure.code);
      uint32_t lastError = failure.code;
      for (;;) {
        if (retries == 0) Throw<CCurlNetworkException>(4, kReadFailedAsync, lastError);
        --retries;
        boost::this_thread::sleep_for(boost::chrono::milliseconds(m_settings.resumePause.count()));
        if (Resume(total)) break;
        lastError = m_transfer && m_transfer->result != CURLE_OK ? m_transfer->result : CURLE_RECV_ERROR;
        if (m_transfer && m_transfer->outOfBounds) Throw<CCurlNetworkException>(4, kReadFailedAsync, lastError);
      }
      continue;
    }
    if (n == 0) return;
    retries = kResumeRetries;
    total += n;
    // A resend answered in full may bring more than the first answer announced.
    if (total > static_cast<uint64_t>(contentLength)) {
      Throw<CCurlNetworkException>(4, kBodyTooLong, CURLE_FILESIZE_EXCEEDED);
    }
    if (!receiver.OnData(buffer.get(), chunkSize, static_cast<uint32_t>(n), total, contentLength)) return;
  }
}

// Asks again for the body from `offset` on. A 206 must start exactly there; a full 200
// answer is accepted and its first `offset` bytes are dropped.
bool CCurlConnection::Resume(uint64_t offset) {
  uint32_t error = 0;
  try {
    if (!Send("Range: bytes=" + std::to_string(offset) + "-", error)) return false;
  } catch (const Exception::NetworkExceptionPtr&) {
    return false;
  }
  uint32_t status = 0;
  if (!QueryStatusCode(status)) return false;
  if (status == 206) return m_transfer->rangeStart >= 0 && static_cast<uint64_t>(m_transfer->rangeStart) == offset;
  if (status == 200) {
    m_transfer->skip = offset;
    return true;
  }
  return false;
}

void CCurlConnection::Authenticate(const std::wstring*, const void*, uint32_t) {}

void CCurlConnection::SetCredentialsProvider(ICredentialsProvider* provider) { m_credentials = provider; }

void CSimpleGetCurlClient::SendRequest(const std::wstring& path, IParametersSet* parameters,
                                       const std::wstring&) {
  Request request;
  request.path = Platform::WideToUtf8(path);
  if (parameters) {
    uint32_t length = 0;
    const char* query = parameters->GetBuffer(length);
    request.path += '?';
    request.path.append(query, length);
  }
  uint32_t error = 0;
  if (!Perform(std::move(request), error)) Throw<CCurlNetworkException>(3, kSendFailed, error);
  CheckStatus();
}

void CSimplePostCurlClient::SendRequest(const std::wstring& path, IParametersSet* parameters,
                                        const std::wstring& headers) {
  Request request;
  request.post = true;
  request.path = Platform::WideToUtf8(path);
  if (parameters) {
    uint32_t length = 0;
    const char* body = parameters->GetBuffer(length);
    request.body.assign(body, length);
  }
  // Header text: lines separated by CR LF or LF.
  const std::string text = Platform::WideToUtf8(headers);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) request.headers.push_back(std::move(line));
    start = end + 1;
  }
  // 30 s to connect and of silence at most, and the reply's time in all.
  request.connectTimeout = std::min(Settings().connectTimeout, std::chrono::milliseconds(30000));
  request.stallTimeout = std::min(Settings().stallTimeout, std::chrono::milliseconds(30000));
  request.totalTimeout = Settings().replyTimeout;
  uint32_t error = 0;
  if (!Perform(std::move(request), error)) Throw<CNetworkException>(3, kSendFailed, error);
  CheckStatus();
}

}  // namespace Cxx::Network::Http::HttpClient
