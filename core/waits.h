#pragma once
// The waits of the installation core, in milliseconds. The defaults are the real ones; the
// end-to-end test build of the program uses short ones.
#include <cstdint>

namespace CustomInstaller::Core {

struct GraphTimings {
  uint64_t componentRetryDelay = 3000;  // after each unanswered component request
  uint64_t launchRetryInterval = 3000;  // between attempts to start the product installer
  uint64_t launchLimit = 120000;        // from the first attempt to start it
};

}  // namespace CustomInstaller::Core
