#include "config/profile.h"

namespace Config {

const char* const kProfileName = "production";
const char* const kCaBundle = "/etc/ssl/certs/ca-certificates.crt";

}  // namespace Config

namespace Config {

const char* const kAnalyticsHost = "www.google-analytics.com";
const uint16_t kAnalyticsPort = 443;

}  // namespace Config
