#pragma once
// Values that differ between the production and the demo build.

namespace Config {

// "production" or "demo".
extern const char* const kProfileName;

}  // namespace Config
