#include "config/profile.h"

namespace Config {

const char* const kProfileName = "production";
const char* const kCaBundle = "/etc/ssl/certs/ca-certificates.crt";

// The maker's code-signing certificate, issued under a public root of the system's store
// (the serial number is to be replaced by the real certificate's).
const char* const kSignerTrustStore = "/etc/ssl/certs/ca-certificates.crt";
const unsigned char kExpectedSignerSerial[16] = {0x0C, 0x5E, 0x3A, 0x91, 0x27, 0xD4, 0x6B, 0x08,
                                                 0xF1, 0x4A, 0x9C, 0x33, 0x70, 0xB2, 0x1D, 0x65};
const wchar_t* const kExpectedSignerIssuer = L"DigiCert SHA2 Assured ID Code Signing CA";
const wchar_t* const kExpectedSignerSubject = L"Dravo Corporation";

}  // namespace Config

namespace Config {

const char* const kAnalyticsHost = "www.google-analytics.com";
const uint16_t kAnalyticsPort = 443;

// The component service and the download server of the maker (host names to be confirmed).
const wchar_t* const kComponentServiceUrl = L"http://components.dravo.com/component";
const wchar_t* const kFallbackComponentUrl =
    L"http://download.dravo.com/tools/quarro/components/684cc33c-b807-4fa8-a2a4-d84cc48326a4";
// Empty until the published fallback file's MD5 is filled in: without it no fallback download
// is made and a run that gets no answer from the service fails.
const wchar_t* const kFallbackComponentMd5 = L"";

const uint64_t kDownloadLimit = uint64_t{4} << 30;  // 4 GiB

}  // namespace Config
