#include <gtest/gtest.h>

#include <fstream>

#include "platform/machine_id.h"
#include "tests/support/temp_dir.h"

namespace Platform {
namespace {

TEST(MachineIdTest, MachineIdTextBecomesAGuid) {
  const struct {
    const char* text;
    const wchar_t* guid;
  } cases[] = {
      {"0123456789ABCDEF0123456789abcdef\n", L"01234567-89ab-cdef-0123-456789abcdef"},
      {"0123456789abcdef0123456789abcdef", L"01234567-89ab-cdef-0123-456789abcdef"},
      {"0123456789abcdef0123456789abcde\n", L""},     // too short
      {"0123456789abcdef0123456789abcdefa", L""},     // too long
      {"0123456789abcdef0123456789abcdeg\n", L""},    // not hex
      {"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatMachineGuid(c.text), c.guid) << c.text;
}

TEST(MachineIdTest, ReadsTheFileAndIsEmptyWithoutIt) {
  TestSupport::TempDir dir;
  std::ofstream(dir.Path() / "machine-id") << "fedcba9876543210fedcba9876543210\n";
  EXPECT_EQ(ReadMachineGuid(dir.Path() / "machine-id"), L"fedcba98-7654-3210-fedc-ba9876543210");
  EXPECT_EQ(ReadMachineGuid(dir.Path() / "missing"), L"");
}

}  // namespace
}  // namespace Platform
