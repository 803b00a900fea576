#include "config/profile.h"

namespace Config {

const char* const kProfileName = "production";
const char* const kCaBundle = "/etc/ssl/certs/ca-certificates.crt";

// The maker's code-signing certificate, issued under a public root of the system's store.
const char* const kSignerTrustStore = "/etc/ssl/certs/ca-certificates.crt";
const unsigned char kExpectedSignerSerial[16] = {0x0C, 0x5E, 0x3A, 0x91, 0x27, 0xD4, 0x6B, 0x08,
                                                 0xF1, 0x4A, 0x9C, 0x33, 0x70, 0xB2, 0x1D, 0x65};
const wchar_t* const kExpectedSignerIssuer = L"DigiCert SHA2 Assured ID Code Signing CA";
const wchar_t* const kExpectedSignerSubject = L"Dravo Corporation";

}  // namespace Config

namespace Config {

const char* const kAnalyticsHost = "www.google-analytics.com";
const uint16_t kAnalyticsPort = 443;

}  // namespace Config
