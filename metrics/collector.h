#pragma once
// One attempt to deliver a hit to the analytics collector.
#include <cstdint>
#include <memory>
#include <string>

#include "network/connection.h"
#include "network/parameters.h"

namespace AppMetrics {

class IHitPoster {
 public:
  virtual ~IHitPoster() = default;
  // True when the collector took the hit (status below 400). Network errors may be thrown;
  // the caller counts them as a failed attempt.
  virtual bool Post(const std::wstring& userAgent,
                    Cxx::Network::Http::HttpClient::IParametersSet& hit) = 0;
};

// POSTs the hit over HTTPS to "/collect" on the collector host.
class CCollectorPoster final : public IHitPoster {
 public:
  CCollectorPoster(std::wstring host, uint16_t port,
                   Cxx::Network::Http::HttpClient::ConnectionSettings settings);
  bool Post(const std::wstring& userAgent,
            Cxx::Network::Http::HttpClient::IParametersSet& hit) override;

 private:
  std::wstring m_host;
  uint16_t m_port;
  Cxx::Network::Http::HttpClient::ConnectionSettings m_settings;
};

// The compiled-in collector with the process-wide connection settings.
std::shared_ptr<IHitPoster> CreateDefaultHitPoster();

}  // namespace AppMetrics
