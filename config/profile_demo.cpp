#include "config/profile.h"

namespace Config {

const char* const kProfileName = "demo";
// The demo certificate authority, made at build time in the build folder.
const char* const kCaBundle = OMK_DEMO_CA_BUNDLE;

}  // namespace Config
