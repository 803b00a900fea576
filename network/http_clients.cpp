#include "network/http_clients.h"

#include "network/curl_connection.h"

namespace Cxx::Network::Http::HttpClient {

std::shared_ptr<CSimpleGetHttpClient> CreateSimpleGetHttpClient(const std::wstring& userAgent,
                                                                const std::wstring& server,
                                                                uint16_t serverPort, EHttpScheme scheme,
                                                                const ConnectionSettings& settings) {
  return std::make_shared<CSimpleGetHttpClient>(
      std::make_shared<CSimpleGetCurlClient>(userAgent, server, serverPort, scheme, settings));
}

std::shared_ptr<CSimplePostHttpClient> CreateSimplePostHttpClient(const std::wstring& userAgent,
                                                                  const std::wstring& server,
                                                                  uint16_t serverPort, EHttpScheme scheme,
                                                                  const ConnectionSettings& settings) {
  return std::make_shared<CSimplePostHttpClient>(
      std::make_shared<CSimplePostCurlClient>(userAgent, server, serverPort, scheme, settings));
}

}  // namespace Cxx::Network::Http::HttpClient
