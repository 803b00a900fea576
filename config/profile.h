#pragma once
// Values that differ between the production and the demo build.
#include <cstdint>

namespace Config {

// "production" or "demo".
extern const char* const kProfileName;

// PEM file of the roots trusted for https.
extern const char* const kCaBundle;

// The analytics collector (https, path "/collect").
extern const char* const kAnalyticsHost;
extern const uint16_t kAnalyticsPort;

}  // namespace Config
