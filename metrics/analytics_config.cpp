#include "metrics/analytics_config.h"

#include "platform/text.h"

namespace AppMetrics {

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

bool NormalizeClientId(const std::string& clientId, std::string& normalized) {
  std::string digits;
  for (const char c : clientId) {
    if (c != '-') digits += c;
  }
  if (digits.size() != 32) return false;
  for (const char c : digits) {
    if (!IsHexDigit(c)) return false;
  }
  normalized = digits.substr(0, 8) + "-" + digits.substr(8, 4) + "-" + digits.substr(12, 4) + "-" +
               digits.substr(16, 4) + "-" + digits.substr(20);
  return true;
}

std::string BuildUserAgent(const Platform::SystemVersion& system) {
  if (!system.known) return "Unknown";
  const std::string version = std::to_string(system.major) + "." + std::to_string(system.minor);
  return version + (system.is64Bit ? "_64bit" : "_32bit") + " (Linux " + version + "; WOW" +
         (system.is64Bit ? "64" : "32") + ")";
}

CGoogleAnalyticsConfig::CGoogleAnalyticsConfig(std::string trackingId, std::string clientId,
                                               std::string appVersion, std::string appName,
                                               std::string userLanguage, std::string campaignId)
    : CGoogleAnalyticsConfig(std::move(trackingId), std::move(clientId), std::move(appVersion),
                             std::move(appName), std::move(userLanguage), std::move(campaignId),
                             Platform::GetSystemVersion()) {}

CGoogleAnalyticsConfig::CGoogleAnalyticsConfig(std::string trackingId, std::string clientId,
                                               std::string appVersion, std::string appName,
                                               std::string userLanguage, std::string campaignId,
                                               const Platform::SystemVersion& system)
    : m_trackingId(std::move(trackingId)),
      m_appVersion(std::move(appVersion)),
      m_appName(std::move(appName)),
      m_campaignId(std::move(campaignId)),
      m_userAgent(BuildUserAgent(system)),
      m_system(system) {
  SetUserLanguage(userLanguage);
  const bool clientIdValid = NormalizeClientId(clientId, m_clientId);
  if (!clientIdValid) m_clientId = clientId;
  m_valid = clientIdValid && !m_trackingId.empty() && !m_appVersion.empty() && !m_appName.empty();
}

void CGoogleAnalyticsConfig::SetUserLanguage(const std::string& language) {
  m_userLanguage = language.empty() ? "not-set" : language;
}

void CGoogleAnalyticsConfig::AddFixedParameters(CHitParameters& hit) const {
  using Platform::Utf8ToWide;
  hit.emplace_back(L"v", L"1");
  hit.emplace_back(L"tid", Utf8ToWide(m_trackingId));
  hit.emplace_back(L"cid", Utf8ToWide(m_clientId));
  hit.emplace_back(L"an", Utf8ToWide(m_appName));
  hit.emplace_back(L"av", Utf8ToWide(m_appVersion));
  hit.emplace_back(L"ul", Utf8ToWide(m_userLanguage));
  hit.emplace_back(L"ci", Utf8ToWide(m_campaignId));
}

}  // namespace AppMetrics
