#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <system_error>

#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace Platform {
namespace {

namespace fs = std::filesystem;
using TestSupport::ScopedEnv;
using TestSupport::TempDir;

TEST(TempFolderTest, UsesTmpdirWhenItIsTheUsersFolder) {
  TempDir dir;
  ScopedEnv env;
  env.Set("TMPDIR", dir.Path().string() + "/");
  EXPECT_EQ(GetTempFolder(), dir.Path());
}

TEST(TempFolderTest, TmpdirOthersMayWriteGivesWayToThePrivateFolder) {
  TempDir dir;
  ScopedEnv env;
  env.Set("TMPDIR", dir.Path().string());
  for (const mode_t mode : {0770, 0707, 01777}) {
    ASSERT_EQ(chmod(dir.Path().c_str(), mode), 0);
    EXPECT_EQ(GetTempFolder(), fs::path("/tmp/omk-" + std::to_string(geteuid()))) << std::oct << mode;
  }
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);  // others may read: harmless
  EXPECT_EQ(GetTempFolder(), dir.Path());
}

TEST(TempFolderTest, RefusesUnsafeTmpdir) {
  TempDir dir;
  fs::create_directory(dir.Path() / "real");
  fs::create_directory_symlink(dir.Path() / "real", dir.Path() / "link");
  std::ofstream(dir.Path() / "file") << "x";
  for (const char* name : {"link", "file", "missing"}) {
    ScopedEnv env;
    env.Set("TMPDIR", (dir.Path() / name).string());
    EXPECT_THROW(GetTempFolder(), std::system_error) << name;
  }
}

TEST(TempFolderTest, RefusesAFolderOfAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand a folder to another user";
  TempDir dir;
  const fs::path other = dir.Path() / "other";
  fs::create_directory(other);
  ASSERT_EQ(chown(other.c_str(), 65534, 65534), 0);
  ScopedEnv env;
  env.Set("TMPDIR", other.string());
  EXPECT_THROW(GetTempFolder(), std::system_error);
}

TEST(TempFolderTest, DefaultFolderIsPrivate) {
  ScopedEnv env;
  env.Set("TMPDIR", std::nullopt);
  const fs::path folder = GetTempFolder();
  EXPECT_EQ(folder, fs::path("/tmp/omk-" + std::to_string(geteuid())));
  struct stat st {};
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A folder left open to others by someone is closed again.
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  GetTempFolder();
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(ModulePathTest, IsThisExecutable) {
  EXPECT_EQ(GetModulePath().filename(), "omk_platform_tests");
}

}  // namespace
}  // namespace Platform
