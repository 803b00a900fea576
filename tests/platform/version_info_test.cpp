// Version strings and numbers read from the ".note.omk.version" section of an executable.
#include "platform/version_info.h"

#include <gtest/gtest.h>

#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using Platform::GetFileVersionNumbers;
using Platform::ReadVersionStrings;

TEST(VersionInfoTest, ReadsTheStringsAndNumbersOfTheNote) {
  TestSupport::TempDir dir;
  const auto exe = dir.Path() / "tool";
  TestSupport::MakeExecutable(exe, {{"ProductVersion", "3.3.7.0 beta"}, {"FileDescription", ""}, {"FileVersion", "3.3.7"}});
  const auto strings = ReadVersionStrings(exe);
  ASSERT_TRUE(strings);
  EXPECT_EQ(*strings, (std::map<std::string, std::string>{
                          {"ProductVersion", "3.3.7.0 beta"}, {"FileDescription", ""}, {"FileVersion", "3.3.7"}}));
  EXPECT_EQ(GetFileVersionNumbers(exe), (std::array<uint16_t, 4>{3, 3, 7, 0}));
}

TEST(VersionInfoTest, FilesWithoutAUsableNoteHaveNoVersion) {
  TestSupport::TempDir dir;
  const auto plain = dir.Path() / "plain";
  TestSupport::MakeExecutable(plain);
  EXPECT_FALSE(ReadVersionStrings(plain));
  EXPECT_FALSE(ReadVersionStrings(dir.Path() / "missing"));
  TestSupport::WriteFile(dir.Path() / "text", "#!/bin/sh\nexit 0\n");
  EXPECT_FALSE(ReadVersionStrings(dir.Path() / "text"));

  // A versioned file cut short at every few bytes: never a crash, and no version once the
  // section headers are gone.
  const auto exe = dir.Path() / "versioned";
  TestSupport::MakeExecutable(exe, {{"FileVersion", "1.2.3.4"}});
  const std::string whole = TestSupport::ReadFile(exe);
  for (size_t size = 0; size < whole.size(); size += 97) {
    TestSupport::WriteFile(dir.Path() / "cut", whole.substr(0, size));
    (void)ReadVersionStrings(dir.Path() / "cut");
  }
  TestSupport::WriteFile(dir.Path() / "cut", whole.substr(0, whole.size() - 64));
  EXPECT_FALSE(ReadVersionStrings(dir.Path() / "cut"));

  for (const char* version : {"", "x.1", "70000.1", "1..2"}) {
    TestSupport::MakeExecutable(exe, {{"FileVersion", version}});
    EXPECT_FALSE(GetFileVersionNumbers(exe)) << version;
  }
}

}  // namespace
