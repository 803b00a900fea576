#pragma once
// The running system's version numbers and word size, as the analytics hits report them.
#include <cstdint>
#include <string_view>

namespace Platform {

struct SystemVersion {
  bool known = false;  // false when the release text holds no "major.minor"
  uint32_t major = 0;
  uint32_t minor = 0;
  bool is64Bit = false;  // the system (not only this process) is 64-bit
  uint32_t build = 0;    // the release's third number ("6.1.44" gives 44); 0 when it has none
};

// Reads "major.minor" from the start of a kernel release text such as "6.1.0-18-amd64", and
// the third number when one follows (else `build` is 0).
bool ParseKernelRelease(std::string_view release, uint32_t& major, uint32_t& minor);
bool ParseKernelRelease(std::string_view release, uint32_t& major, uint32_t& minor, uint32_t& build);

// The kernel release and machine of uname(); a 64-bit process always reports a 64-bit system.
SystemVersion GetSystemVersion();

}  // namespace Platform
