#pragma once
// The libcurl connection and the GET and POST clients built on it.
#include <memory>
#include <string>
#include <vector>

#include "network/connection.h"

namespace Cxx::Network::Http::HttpClient {

class CCurlConnection : public IConnection {
 public:
  CCurlConnection(std::wstring userAgent, std::wstring server, uint16_t port, EHttpScheme scheme,
                  ConnectionSettings settings = DefaultConnectionSettings());
  ~CCurlConnection() override;
  CCurlConnection(const CCurlConnection&) = delete;
  CCurlConnection& operator=(const CCurlConnection&) = delete;

  void ReadAll(std::unique_ptr<uint8_t[]>& data, uint32_t& length) override;
  void ReadChunks(IReadDataCallBack& receiver, uint32_t chunkSize) override;
  void Authenticate(const std::wstring* headers, const void* body, uint32_t bodyLength) override;
  void SetCredentialsProvider(ICredentialsProvider* provider) override;
  bool QueryStatusCode(uint32_t& status) override;

 protected:
  struct Request {
    bool post = false;
    std::string path;                  // UTF-8, with the query
    std::vector<std::string> headers;  // "Name: value"
    std::string body;
    std::chrono::milliseconds connectTimeout{0};  // 0: the settings' values
    std::chrono::milliseconds stallTimeout{0};
    std::chrono::milliseconds totalTimeout{0};    // the whole exchange; 0: no limit
  };
  // Starts the request and waits for the final response head. False with the transport's
  // error code when no response head arrived.
  bool Perform(Request request, uint32_t& error);
  // Throws for status 400 to 599.
  void CheckStatus();
  const ConnectionSettings& Settings() const { return m_settings; }

 private:
  struct Transfer;
  // Sends the stored request, with one more header line when given.
  bool Send(const std::string& extraHeader, uint32_t& error);
  bool Resume(uint64_t offset);

  std::wstring m_userAgent;
  std::wstring m_server;
  uint16_t m_port;
  EHttpScheme m_scheme;
  ConnectionSettings m_settings;
  ICredentialsProvider* m_credentials = nullptr;
  Request m_request;
  uint64_t m_deadline = 0;  // steady milliseconds at which the request's time is up; 0: never
  std::unique_ptr<Transfer> m_transfer;
};

class CSimpleGetCurlClient : public CCurlConnection {
 public:
  using CCurlConnection::CCurlConnection;
  // GET path, with "?" and the set's text appended when a set is given; headers are not sent.
  void SendRequest(const std::wstring& path, IParametersSet* parameters,
                   const std::wstring& headers) override;
};

class CSimplePostCurlClient : public CCurlConnection {
 public:
  using CCurlConnection::CCurlConnection;
  // POST the set's bytes (an empty body without a set) with the given header lines;
  // 30 s limits on connecting and on silence while sending and receiving (shorter settings
  // win), and the settings' reply time for the whole exchange.
  void SendRequest(const std::wstring& path, IParametersSet* parameters,
                   const std::wstring& headers) override;
};

}  // namespace Cxx::Network::Http::HttpClient
