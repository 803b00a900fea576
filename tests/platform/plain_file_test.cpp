#include "platform/plain_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace Platform {
namespace {

namespace fs = std::filesystem;

TEST(PlainFileTest, ReadsAndReplacesRegularFiles) {
  TestSupport::TempDir dir;
  const fs::path file = dir.Path() / "answer.txt";
  EXPECT_FALSE(ReadPlainFile(file, 100));
  ASSERT_TRUE(WritePlainFile(file, "a longer first answer"));
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(WritePlainFile(file, "short"));
  EXPECT_EQ(ReadPlainFile(file, 100), "short");
  EXPECT_EQ(ReadPlainFile(file, 3), "sho");
  EXPECT_EQ(ReadPlainFile(file, 0), "");
}

// What another process may have put where the file is expected: neither read nor written
// through, and nothing blocks.
TEST(PlainFileTest, LinksPipesAndFoldersAreLeftAlone) {
  TestSupport::TempDir dir;
  const fs::path target = dir.Path() / "target.txt";
  TestSupport::WriteFile(target, "keep me");
  fs::create_symlink(target, dir.Path() / "link");
  fs::create_symlink(dir.Path() / "nowhere", dir.Path() / "dangling");
  ASSERT_EQ(mkfifo((dir.Path() / "pipe").c_str(), 0600), 0);
  fs::create_directory(dir.Path() / "folder");
  for (const char* name : {"link", "dangling", "pipe", "folder"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(ReadPlainFile(dir.Path() / name, 100));
    EXPECT_FALSE(WritePlainFile(dir.Path() / name, "answer"));
  }
  EXPECT_EQ(TestSupport::ReadFile(target), "keep me");
  EXPECT_FALSE(fs::exists(dir.Path() / "nowhere"));
}

}  // namespace
}  // namespace Platform
