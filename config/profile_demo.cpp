#include "config/profile.h"

namespace Config {

const char* const kProfileName = "demo";

}  // namespace Config
