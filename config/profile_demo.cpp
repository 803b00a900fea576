#include "config/profile.h"

namespace Config {

const char* const kProfileName = "demo";
// The demo certificate authority, made at build time in the build folder.
const char* const kCaBundle = OMK_DEMO_CA_BUNDLE;

}  // namespace Config

namespace Config {

// The analytics collector of omk-devserver, started by scripts/demo on this port.
const char* const kAnalyticsHost = "127.0.0.1";
const uint16_t kAnalyticsPort = 47443;

}  // namespace Config
