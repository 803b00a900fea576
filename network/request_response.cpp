#include "network/request_response.h"

#include "network/http_clients.h"
#include "network/parameters.h"
#include "network/url.h"
#include "platform/text.h"

namespace Cxx::Network::RequestResponse {

using namespace Http::HttpClient;

int32_t CHttpURIRequestResponse::Send(const std::string& host, const std::string& path,
                                      const std::string& body, std::string& reply,
                                      EHttpScheme scheme, int32_t port) {
  const bool json = m_mode == 0;
  const std::wstring headers = json ? L"Content-Type: application/json; charset=utf-8" : L"";
  const std::wstring wideHost = Platform::Utf8ToWide(host);
  if (wideHost.empty()) return kSendNoHost;

  std::unique_ptr<CSimplePostParametersSet> parameters;
  if (json) {
    // The set holds the body bytes exactly (no wrapping).
    parameters = std::make_unique<CSimplePostParametersSet>();
    parameters->Add(std::make_shared<CSimpleJSONParameter>("json", body, false));
  } else if (!body.empty()) {
    std::wstring text;
    if (Platform::TryUtf8ToWide(body, text)) {
      parameters = std::make_unique<CSimplePostParametersSet>();
      parameters->Add(std::make_shared<CSimpleTextParameter>(text));
    }
  }

  const auto client = CreateSimplePostHttpClient(L"", wideHost, static_cast<uint16_t>(port), scheme, m_settings);
  client->SendRequest(Platform::Utf8ToWide(path), parameters.get(), headers);
  std::unique_ptr<uint8_t[]> block;
  uint32_t length = 0;
  client->ReadAll(block, length);
  // ReadAll counts the terminating zero, so an empty body has length 1.
  if (!block || length <= 1) return kSendEmptyReply;
  reply.assign(reinterpret_cast<const char*>(block.get()), length);
  return kSendReplied;
}

CHttpRequestResponse::CHttpRequestResponse(const std::wstring& url, int32_t mode)
    : CHttpRequestResponse(url, std::make_unique<CHttpURIRequestResponse>(mode)) {}

CHttpRequestResponse::CHttpRequestResponse(const std::wstring& url,
                                           std::unique_ptr<IURIRequestResponse> sender)
    : m_sender(std::move(sender)) {
  if (const auto parts = ParseUrl(url, kSchemeHttp)) {
    m_host = parts->host;
    m_path = parts->path;
    m_scheme = parts->scheme;
    m_port = parts->port;
  }
}

int32_t CHttpRequestResponse::Send(const std::string& body, std::string& reply) {
  if (m_host.empty()) return kSendNoHost;
  return m_sender->Send(Platform::WideToUtf8(m_host), Platform::WideToUtf8(m_path), body, reply, m_scheme, m_port);
}

}  // namespace Cxx::Network::RequestResponse
