#pragma once
// The deployment values of this build: endpoints, expected signer, trust stores, limits.
// They are build settings (config/deployment.cmake), written into the config library at
// configure time.
#include <cstdint>
#include <span>

namespace Config {

// "production" or "demo".
extern const char* const kProfileName;

// PEM file of the roots trusted for https.
extern const char* const kCaBundle;

// The product installer must carry a code signature that chains to a root in this PEM file
// and whose signer certificate has exactly this serial number, issuer and subject.
extern const char* const kSignerTrustStore;
extern const std::span<const unsigned char> kExpectedSignerSerial;  // 1-20 bytes, big-endian
extern const wchar_t* const kExpectedSignerIssuer;
extern const wchar_t* const kExpectedSignerSubject;

// The analytics collector (https, path "/collect"); the property id is in identity.h.
extern const char* const kAnalyticsHost;
extern const uint16_t kAnalyticsPort;

// The component service (JSON POSTs, path "/component") and the product installer fetched
// when it gives no answer, with that file's MD5 (32 lower-case hex digits).
extern const wchar_t* const kComponentServiceUrl;
extern const wchar_t* const kFallbackComponentUrl;
extern const wchar_t* const kFallbackComponentMd5;

// The largest product installer a download accepts, in bytes: a longer body ends the attempt
// as a failed transfer.
extern const uint64_t kDownloadLimit;

}  // namespace Config
