#pragma once
// Values that differ between the production and the demo build.
#include <cstdint>

namespace Config {

// "production" or "demo".
extern const char* const kProfileName;

// PEM file of the roots trusted for https.
extern const char* const kCaBundle;

// The product installer must carry a code signature that chains to a root in this PEM file
// and whose signer certificate has exactly this serial number, issuer and subject.
extern const char* const kSignerTrustStore;
extern const unsigned char kExpectedSignerSerial[16];  // big-endian
extern const wchar_t* const kExpectedSignerIssuer;
extern const wchar_t* const kExpectedSignerSubject;

// The analytics collector (https, path "/collect").
extern const char* const kAnalyticsHost;
extern const uint16_t kAnalyticsPort;

}  // namespace Config
