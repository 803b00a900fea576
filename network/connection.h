#pragma once
// One HTTP connection to one server: send a request, then read the body at once or in chunks.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "config/profile.h"

namespace Cxx::Network::Http::HttpClient {

// Scheme numbers of the URL parser; the HTTP layer only asks whether it is https.
enum EHttpScheme : int32_t {
  kSchemeUnknown = -1,
  kSchemeFtp = 0,
  kSchemeGopher = 1,
  kSchemeHttp = 2,
  kSchemeHttps = 3,
  kSchemeFile = 4,
  kSchemeNews = 5,
  kSchemeMailto = 6,
  kSchemeSocks = 7,
};

class IParametersSet;

// Receives a body chunk by chunk; returning false stops the read without an error.
class IReadDataCallBack {
 public:
  virtual ~IReadDataCallBack() = default;
  // bufferSize is the chunk size given to ReadChunks, bytesRead how much of it is filled,
  // totalRead the running sum, contentLength the response's Content-Length (64-bit: bodies
  // past 4 GiB count right).
  virtual bool OnData(const uint8_t* buffer, uint32_t bufferSize, uint32_t bytesRead,
                      uint64_t totalRead, int64_t contentLength) = 0;
};

class ICredentialsProvider {
 public:
  virtual ~ICredentialsProvider() = default;
  virtual void GetCredentials(std::wstring& user, std::wstring& password) = 0;
};

class IConnection {
 public:
  virtual ~IConnection() = default;
  // The whole body: `length` is the byte count plus one (the terminating zero is counted);
  // the block holds the body and three zero bytes after it and belongs to the caller. A body
  // longer than the settings' reply limit is a failed read.
  virtual void ReadAll(std::unique_ptr<uint8_t[]>& data, uint32_t& length) = 0;
  // The body in chunks of at most `chunkSize` bytes, one buffer reused; needs a
  // Content-Length no larger than the settings' chunked limit. A broken transfer is resumed
  // with a Range request; a transfer ended by the settings' time bounds is a failed read.
  virtual void ReadChunks(IReadDataCallBack& receiver, uint32_t chunkSize) = 0;
  // Answers an authentication challenge; does nothing on this transport.
  virtual void Authenticate(const std::wstring* headers, const void* body, uint32_t bodyLength) = 0;
  virtual void SetCredentialsProvider(ICredentialsProvider* provider) = 0;
  // Sends the request and returns once the status line and headers of the final response are
  // in (status checked). A redirect that is not followed is the final response.
  virtual void SendRequest(const std::wstring& path, IParametersSet* parameters,
                           const std::wstring& headers) = 0;
  // Status of the last response; false when there is none.
  virtual bool QueryStatusCode(uint32_t& status) = 0;
};

// Transport settings of a connection. The defaults come from the compiled-in configuration.
struct ConnectionSettings {
  std::string caBundle;                                 // PEM file of the trusted roots
  std::chrono::milliseconds resumePause{6000};          // between Range resends
  std::chrono::milliseconds connectTimeout{60000};
  // Bounds of every transfer, whatever the server sends. Only the time spent waiting for the
  // server counts, so a reader that takes its time is never cut off, and a transfer that the
  // reader has paused is still bounded while it waits. Crossing one is a time-out.
  std::chrono::milliseconds stallTimeout{60000};        // no byte received for this long
  std::chrono::milliseconds lowSpeedWindow{60000};      // fewer than lowSpeedLimit bytes a
  uint32_t lowSpeedLimit = 1024;                        //   second over this long
  // A POST's reply is read whole: the exchange from sending the request to the reply's last
  // byte has this long in all, and a longer reply body than replyLimit is a failed read.
  std::chrono::milliseconds replyTimeout{60000};
  uint64_t replyLimit = 1024 * 1024;
  // The largest body read in chunks (a download): a larger Content-Length or a longer body is
  // a failed read.
  uint64_t chunkedLimit = Config::kDownloadLimit;
};

ConnectionSettings DefaultConnectionSettings();
// Replaces the process-wide defaults (tests point the trust store at their own CA).
void SetDefaultConnectionSettings(const ConnectionSettings& settings);

}  // namespace Cxx::Network::Http::HttpClient
