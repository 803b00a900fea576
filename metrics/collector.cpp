#include "metrics/collector.h"

#include "config/profile.h"
#include "network/http_clients.h"
#include "platform/text.h"

namespace AppMetrics {

using namespace Cxx::Network::Http::HttpClient;

CCollectorPoster::CCollectorPoster(std::wstring host, uint16_t port, ConnectionSettings settings)
    : m_host(std::move(host)), m_port(port), m_settings(std::move(settings)) {}

bool CCollectorPoster::Post(const std::wstring& userAgent, IParametersSet& hit) {
  const auto client = CreateSimplePostHttpClient(userAgent, m_host, m_port, kSchemeHttps, m_settings);
  client->SendRequest(L"/collect", &hit, L"");
  uint32_t status = 0;
  return client->QueryStatusCode(status) && status < 400;
}

std::shared_ptr<IHitPoster> CreateDefaultHitPoster() {
  return std::make_shared<CCollectorPoster>(Platform::Utf8ToWide(Config::kAnalyticsHost),
                                            Config::kAnalyticsPort, DefaultConnectionSettings());
}

}  // namespace AppMetrics
