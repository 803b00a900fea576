// Prints the compiled-in deployment constants, one "name=value" line each, text as UTF-8 and
// the serial as upper-case hex.
#include <cstdio>
#include <string>

#include "config/identity.h"
#include "config/profile.h"

namespace {

std::string Utf8(const wchar_t* text) {
  std::string out;
  for (; *text != 0; ++text) {
    const auto c = static_cast<char32_t>(*text);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

int main() {
  std::string serial;
  for (unsigned char b : Config::kExpectedSignerSerial) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", b);
    serial += hex;
  }
  std::printf("profile=%s\n", Config::kProfileName);
  std::printf("ca_bundle=%s\n", Config::kCaBundle);
  std::printf("trust_store=%s\n", Config::kSignerTrustStore);
  std::printf("serial=%s\n", serial.c_str());
  std::printf("issuer=%s\n", Utf8(Config::kExpectedSignerIssuer).c_str());
  std::printf("subject=%s\n", Utf8(Config::kExpectedSignerSubject).c_str());
  std::printf("property_id=%s\n", Config::kAnalyticsTrackingId);
  std::printf("analytics_host=%s\n", Config::kAnalyticsHost);
  std::printf("analytics_port=%u\n", static_cast<unsigned>(Config::kAnalyticsPort));
  std::printf("service_url=%s\n", Utf8(Config::kComponentServiceUrl).c_str());
  std::printf("fallback_url=%s\n", Utf8(Config::kFallbackComponentUrl).c_str());
  std::printf("fallback_md5=%s\n", Utf8(Config::kFallbackComponentMd5).c_str());
  std::printf("download_limit=%llu\n", static_cast<unsigned long long>(Config::kDownloadLimit));
  return 0;
}
