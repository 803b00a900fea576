#pragma once
// Values that differ between the production and the demo build.

namespace Config {

// "production" or "demo".
extern const char* const kProfileName;

// PEM file of the roots trusted for https.
extern const char* const kCaBundle;

}  // namespace Config
