#include "config/profile.h"

namespace Config {

const char* const kProfileName = "production";
const char* const kCaBundle = "/etc/ssl/certs/ca-certificates.crt";

}  // namespace Config
