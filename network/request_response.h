#pragma once
// Sending a body to a URL and getting the reply body in one call (component service).
#include <cstdint>
#include <memory>
#include <string>

#include "network/connection.h"

namespace Cxx::Network::RequestResponse {

// Results of Send.
enum ESendResult : int32_t {
  kSendReplied = 0,     // a reply body came back (it may still be an error document)
  kSendNoHost = 1,      // the URL named no host; nothing was sent
  kSendEmptyReply = 2,  // the reply body was empty
};

class IURIRequestResponse {
 public:
  virtual ~IURIRequestResponse() = default;
  virtual int32_t Send(const std::string& host, const std::string& path, const std::string& body,
                       std::string& reply, Http::HttpClient::EHttpScheme scheme, int32_t port) = 0;
};

// POSTs over the client of this library. Mode 0 sends the body as JSON
// ("Content-Type: application/json; charset=utf-8"); any other mode sends it as text,
// and only when it is valid UTF-8 (otherwise an empty body).
// The reply ends with the zero byte that ReadAll counts. Transport and status errors are
// thrown as std::shared_ptr<CNetworkException>.
class CHttpURIRequestResponse : public IURIRequestResponse {
 public:
  explicit CHttpURIRequestResponse(int32_t mode,
                                   Http::HttpClient::ConnectionSettings settings =
                                       Http::HttpClient::DefaultConnectionSettings())
      : m_mode(mode), m_settings(std::move(settings)) {}
  int32_t Send(const std::string& host, const std::string& path, const std::string& body,
               std::string& reply, Http::HttpClient::EHttpScheme scheme, int32_t port) override;

 private:
  int32_t m_mode;
  Http::HttpClient::ConnectionSettings m_settings;
};

class IRequestResponse {
 public:
  virtual ~IRequestResponse() = default;
  virtual int32_t Send(const std::string& body, std::string& reply) = 0;
};

class CHttpRequestResponse : public IRequestResponse {
 public:
  // The URL is split at construction (default scheme http); one that does not parse leaves
  // the host empty, so Send answers kSendNoHost.
  CHttpRequestResponse(const std::wstring& url, int32_t mode);
  CHttpRequestResponse(const std::wstring& url, std::unique_ptr<IURIRequestResponse> sender);
  int32_t Send(const std::string& body, std::string& reply) override;

 private:
  std::unique_ptr<IURIRequestResponse> m_sender;
  std::wstring m_host;
  std::wstring m_path;
  Http::HttpClient::EHttpScheme m_scheme = Http::HttpClient::kSchemeUnknown;
  int32_t m_port = 0;
};

}  // namespace Cxx::Network::RequestResponse
