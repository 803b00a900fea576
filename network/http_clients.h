#pragma once
// The GET and POST clients as callers see them: a facade that owns the transport's
// connection and forwards every call to it.
#include <memory>
#include <string>

#include "network/connection.h"

namespace Cxx::Network::Http::HttpClient {

class CForwardingHttpClient : public IConnection {
 public:
  explicit CForwardingHttpClient(std::shared_ptr<IConnection> connection)
      : m_connection(std::move(connection)) {}
  void ReadAll(std::unique_ptr<uint8_t[]>& data, uint32_t& length) override {
    m_connection->ReadAll(data, length);
  }
  void ReadChunks(IReadDataCallBack& receiver, uint32_t chunkSize) override {
    m_connection->ReadChunks(receiver, chunkSize);
  }
  void Authenticate(const std::wstring* headers, const void* body, uint32_t bodyLength) override {
    m_connection->Authenticate(headers, body, bodyLength);
  }
  void SetCredentialsProvider(ICredentialsProvider* provider) override {
    m_connection->SetCredentialsProvider(provider);
  }
  void SendRequest(const std::wstring& path, IParametersSet* parameters,
                   const std::wstring& headers) override {
    m_connection->SendRequest(path, parameters, headers);
  }
  bool QueryStatusCode(uint32_t& status) override { return m_connection->QueryStatusCode(status); }

 private:
  std::shared_ptr<IConnection> m_connection;
};

class CSimpleGetHttpClient : public CForwardingHttpClient {
 public:
  using CForwardingHttpClient::CForwardingHttpClient;
};

class CSimplePostHttpClient : public CForwardingHttpClient {
 public:
  using CForwardingHttpClient::CForwardingHttpClient;
};

// The factories. Proxies come from the usual environment variables (http_proxy,
// https_proxy, no_proxy); the transport settings from the process-wide defaults unless given.
std::shared_ptr<CSimpleGetHttpClient> CreateSimpleGetHttpClient(
    const std::wstring& userAgent, const std::wstring& server, uint16_t serverPort,
    EHttpScheme scheme, const ConnectionSettings& settings = DefaultConnectionSettings());
std::shared_ptr<CSimplePostHttpClient> CreateSimplePostHttpClient(
    const std::wstring& userAgent, const std::wstring& server, uint16_t serverPort,
    EHttpScheme scheme, const ConnectionSettings& settings = DefaultConnectionSettings());

}  // namespace Cxx::Network::Http::HttpClient
