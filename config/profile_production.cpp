#include "config/profile.h"

namespace Config {

const char* const kProfileName = "production";

}  // namespace Config
