#include "platform/system_version.h"

#include <gtest/gtest.h>

namespace Platform {
namespace {

TEST(SystemVersionTest, ReadsMajorMinorAndBuildFromTheKernelRelease) {
  struct Case {
    const char* release;
    bool ok;
    uint32_t major;
    uint32_t minor;
    uint32_t build;
  };
  const Case cases[] = {
      {"6.1.0-18-amd64", true, 6, 1, 0},  {"5.15.153.1-microsoft-standard-WSL2", true, 5, 15, 153},
      {"6.18.44-fc-v1478", true, 6, 18, 44}, {"10.0", true, 10, 0, 0},
      {"6.1-rc3", true, 6, 1, 0},          {"6.1.x", true, 6, 1, 0},
      {"6.1.99999999999", true, 6, 1, 0},  {"6", false, 0, 0, 0},
      {"6.", false, 0, 0, 0},              {".1", false, 0, 0, 0},
      {"", false, 0, 0, 0},                {"99999999999.1", false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    EXPECT_EQ(ParseKernelRelease(c.release, major, minor, build), c.ok) << c.release;
    EXPECT_EQ(major, c.major) << c.release;
    EXPECT_EQ(minor, c.minor) << c.release;
    EXPECT_EQ(build, c.build) << c.release;
  }
  const SystemVersion running = GetSystemVersion();
  EXPECT_TRUE(running.known);
  EXPECT_TRUE(running.is64Bit);  // this build is 64-bit
}

}  // namespace
}  // namespace Platform
