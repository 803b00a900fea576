#pragma once
// The fixed configuration of an analytics sender: the parameters every hit starts with and the
// user agent it is sent with.
#include <string>
#include <utility>
#include <vector>

#include "platform/system_version.h"

namespace AppMetrics {

// A hit as name/value pairs in the order they are sent.
using CHitParameters = std::vector<std::pair<std::wstring, std::wstring>>;

// "8-4-4-4-12" form of a client id: the dashes are dropped, the rest must be exactly 32 hex
// digits (letter case kept). False for anything else.
bool NormalizeClientId(const std::string& clientId, std::string& normalized);

// "M.m_64bit (Linux M.m; WOW64)" or "M.m_32bit (Linux M.m; WOW32)"; "Unknown" when the
// version is not known.
std::string BuildUserAgent(const Platform::SystemVersion& system);

class CGoogleAnalyticsConfig {
 public:
  // Probes the running system for the user agent and the exception texts.
  CGoogleAnalyticsConfig(std::string trackingId, std::string clientId, std::string appVersion,
                         std::string appName, std::string userLanguage, std::string campaignId);
  CGoogleAnalyticsConfig(std::string trackingId, std::string clientId, std::string appVersion,
                         std::string appName, std::string userLanguage, std::string campaignId,
                         const Platform::SystemVersion& system);

  // A valid client id and a tracking id, application version and name that are not empty.
  bool IsValid() const { return m_valid; }

  const std::string& GetTrackingId() const { return m_trackingId; }
  const std::string& GetClientId() const { return m_clientId; }
  const std::string& GetAppVersion() const { return m_appVersion; }
  const std::string& GetAppName() const { return m_appName; }
  const std::string& GetUserLanguage() const { return m_userLanguage; }
  const std::string& GetCampaignId() const { return m_campaignId; }
  const std::string& GetUserAgent() const { return m_userAgent; }
  const Platform::SystemVersion& GetSystem() const { return m_system; }

  // An empty language becomes "not-set".
  void SetUserLanguage(const std::string& language);

  // Appends v, tid, cid, an, av, ul, ci.
  void AddFixedParameters(CHitParameters& hit) const;

 private:
  std::string m_trackingId;
  std::string m_clientId;
  std::string m_appVersion;
  std::string m_appName;
  std::string m_userLanguage;
  std::string m_campaignId;
  std::string m_userAgent;
  Platform::SystemVersion m_system;
  bool m_valid = false;
};

}  // namespace AppMetrics
