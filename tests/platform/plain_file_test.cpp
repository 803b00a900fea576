#include "platform/plain_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
  EXPECT_EQ(ReadTrustedFile(file, 100), "short");
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
    EXPECT_FALSE(WriteIntoEmptyFile(dir.Path() / name, "answer"));
    EXPECT_FALSE(ReadTrustedFile(dir.Path() / name, 100));
  }
  EXPECT_EQ(TestSupport::ReadFile(target), "keep me");
  EXPECT_FALSE(fs::exists(dir.Path() / "nowhere"));
}

// The answer of "-extractTrackingUID" goes only where nothing is lost: a new file, or an empty
// file of this user with one name. Everything else is refused and left exactly as it was.
TEST(PlainFileTest, WriteIntoEmptyFileNeverOverwrites) {
  TestSupport::TempDir dir;
  const fs::path fresh = dir.Path() / "new.txt";
  ASSERT_TRUE(WriteIntoEmptyFile(fresh, "uid-1"));
  EXPECT_EQ(TestSupport::ReadFile(fresh), "uid-1");
  struct stat st {};
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  const fs::path empty = dir.Path() / "handover.txt";
  TestSupport::WriteFile(empty, "");
  ASSERT_TRUE(WriteIntoEmptyFile(empty, "uid-2"));
  EXPECT_EQ(TestSupport::ReadFile(empty), "uid-2");

  struct Refused {
    const char* what;
    std::string content;
    bool otherUser = false;
    bool secondName = false;
  };
  const Refused refused[] = {
      {"a file with content", "keep me"},
      {"another user's empty file", "", true},
      {"an empty file with a second name", "", false, true},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    if (c.otherUser && geteuid() != 0) continue;  // chown needs root
    const fs::path file = dir.Path() / (std::string(c.what) + ".txt");
    TestSupport::WriteFile(file, c.content);
    if (c.otherUser) {
      ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    }
    if (c.secondName) fs::create_hard_link(file, dir.Path() / "second-name");
    EXPECT_FALSE(WriteIntoEmptyFile(file, "uid-3"));
    EXPECT_EQ(TestSupport::ReadFile(file), c.content);
  }
}

// A file whose content steers the program counts only when no other user could have written it.
TEST(PlainFileTest, TrustedReadNeedsOwnerOrRootAndNoOtherWriter) {
  TestSupport::TempDir dir;
  const fs::path file = dir.Path() / "apps";
  TestSupport::WriteFile(file, "data");
  for (const mode_t mode : {0620, 0602, 0666}) {
    ASSERT_EQ(chmod(file.c_str(), mode), 0);
    EXPECT_FALSE(ReadTrustedFile(file, 100)) << std::oct << mode;
  }
  ASSERT_EQ(chmod(file.c_str(), 0644), 0);
  EXPECT_EQ(ReadTrustedFile(file, 100), "data");
  if (geteuid() == 0) {
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(ReadTrustedFile(file, 100));
  }
}

}  // namespace
}  // namespace Platform
