#include "config/profile.h"

#include OMK_DEMO_MD5_HEADER

namespace Config {

const char* const kProfileName = "demo";
// The demo certificate authority, made at build time in the build folder.
const char* const kCaBundle = OMK_DEMO_PKI "/root.pem";

// The demo signer made at build time (tools/pki/make-pki.sh): same names, its own root.
const char* const kSignerTrustStore = OMK_DEMO_PKI "/root.pem";
const unsigned char kExpectedSignerSerial[16] = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71,
                                                 0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9};
const wchar_t* const kExpectedSignerIssuer = L"DigiCert SHA2 Assured ID Code Signing CA";
const wchar_t* const kExpectedSignerSubject = L"Dravo Corporation";

}  // namespace Config

namespace Config {

// The analytics collector of omk-devserver, started by scripts/demo on this port.
const char* const kAnalyticsHost = "127.0.0.1";
const uint16_t kAnalyticsPort = 47802;

}  // namespace Config

namespace Config {

// The component service and download routes of omk-devserver, started by scripts/demo.
const wchar_t* const kComponentServiceUrl = L"http://127.0.0.1:47801/component";
const wchar_t* const kFallbackComponentUrl =
    L"http://127.0.0.1:47801/tools/quarro/components/684cc33c-b807-4fa8-a2a4-d84cc48326a4";
// The demo product installer's MD5, written at build time.
const wchar_t* const kFallbackComponentMd5 = L"" OMK_DEMO_FALLBACK_MD5;

const uint64_t kDownloadLimit = uint64_t{4} << 30;  // 4 GiB

}  // namespace Config
