#include "platform/system_version.h"

#include <sys/utsname.h>

#include <charconv>
#include <string>

namespace Platform {

namespace {

bool ReadNumber(std::string_view& text, uint32_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data()) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return true;
}

}  // namespace

bool ParseKernelRelease(std::string_view release, uint32_t& major, uint32_t& minor) {
  uint32_t build = 0;
  return ParseKernelRelease(release, major, minor, build);
}

bool ParseKernelRelease(std::string_view release, uint32_t& major, uint32_t& minor, uint32_t& build) {
  uint32_t a = 0;
  uint32_t b = 0;
  uint32_t c = 0;
  if (!ReadNumber(release, a) || release.empty() || release.front() != '.') return false;
  release.remove_prefix(1);
  if (!ReadNumber(release, b)) return false;
  if (!release.empty() && release.front() == '.') {
    release.remove_prefix(1);
    if (!ReadNumber(release, c)) c = 0;
  }
  major = a;
  minor = b;
  build = c;
  return true;
}

SystemVersion GetSystemVersion() {
  SystemVersion version;
  version.is64Bit = sizeof(void*) == 8;
  utsname names{};
  if (uname(&names) != 0) return version;
  version.known = ParseKernelRelease(names.release, version.major, version.minor, version.build);
  // A 32-bit process on a 64-bit kernel sees a machine such as "x86_64" or "aarch64".
  if (std::string(names.machine).find("64") != std::string::npos) version.is64Bit = true;
  return version;
}

}  // namespace Platform
