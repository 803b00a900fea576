#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <system_error>

#include "platform/private_file.h"
#include "tests/support/env.h"
#include "tests/support/process.h"
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

// A TMPDIR that is missing, a link, not a folder, writable by others or another user's gives
// way to the private folder; the run goes on.
TEST(TempFolderTest, UnsafeTmpdirGivesWayToThePrivateFolder) {
  TempDir dir;
  const fs::path privateFolder = "/tmp/omk-" + std::to_string(geteuid());
  fs::create_directory(dir.Path() / "real");
  fs::create_directory_symlink(dir.Path() / "real", dir.Path() / "link");
  std::ofstream(dir.Path() / "file") << "x";
  for (const char* name : {"link", "file", "missing"}) {
    ScopedEnv env;
    env.Set("TMPDIR", (dir.Path() / name).string());
    EXPECT_EQ(GetTempFolder(), privateFolder) << name;
  }
  ScopedEnv env;
  env.Set("TMPDIR", dir.Path().string());
  for (const mode_t mode : {0770, 0707, 01777}) {
    ASSERT_EQ(chmod(dir.Path().c_str(), mode), 0);
    EXPECT_EQ(GetTempFolder(), privateFolder) << std::oct << mode;
  }
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);  // others may read: harmless
  EXPECT_EQ(GetTempFolder(), dir.Path());
  if (geteuid() == 0) {
    ASSERT_EQ(chown(dir.Path().c_str(), 65534, 65534), 0);
    EXPECT_EQ(GetTempFolder(), privateFolder) << "another user's folder";
  }
}

// The installer's folder must let programs run: a temporary folder mounted noexec gives way to
// /var/tmp/omk-<uid>.
TEST(TempFolderTest, RunnableFolderAvoidsANoexecMount) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
  TempDir dir;
  const fs::path noexec = dir.Path() / "noexec";
  fs::create_directory(noexec);
  if (TestSupport::RunProcess("/bin/mount", {"-t", "tmpfs", "-o", "noexec,mode=0700", "tmpfs", noexec.string()})
          .exitCode != 0) {
    GTEST_SKIP() << "cannot mount here";
  }
  ScopedEnv env;
  env.Set("TMPDIR", noexec.string());
  EXPECT_EQ(GetTempFolder(), noexec);
  EXPECT_FALSE(AllowsRunning(noexec));
  EXPECT_TRUE(AllowsRunning(dir.Path()));
  EXPECT_EQ(GetRunnableTempFolder(), fs::path("/var/tmp/omk-" + std::to_string(geteuid())));
  env.Set("TMPDIR", dir.Path().string());
  EXPECT_EQ(GetRunnableTempFolder(), dir.Path());
  EXPECT_EQ(TestSupport::RunProcess("/bin/umount", {noexec.string()}).exitCode, 0);
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

// A name in a shared folder that someone else took first (their own folder, a link, a file) does
// not turn the run away: a folder of this process's own is made beside it, and kept for the run.
TEST(TempFolderTest, TakenNameGivesAUniqueFolderBesideIt) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 01777), 0);  // shared and sticky, like /tmp
  fs::create_directory(dir.Path() / "real");
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> take;
  };
  const std::vector<Case> cases = {
      {"a link", [&](const fs::path& p) { fs::create_directory_symlink(dir.Path() / "real", p); }},
      {"a file", [](const fs::path& p) { std::ofstream(p) << "x"; }},
      {"another user's folder",
       [](const fs::path& p) {
         fs::create_directory(p);
         ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string_view(c.name) == "another user's folder" && geteuid() != 0) continue;  // chown needs root
    const fs::path fixed = dir.Path() / (std::string("omk-") + c.name[2]);
    c.take(fixed);
    const fs::path made = MakePrivateFolder(fixed);
    EXPECT_TRUE(made.string().starts_with(fixed.string() + "-")) << made;
    EXPECT_TRUE(IsPrivateFolder(made));
    EXPECT_EQ(MakePrivateFolder(fixed), made);
    EXPECT_TRUE(fs::exists(fs::symlink_status(fixed)));  // the other one's entry is left alone
  }
  // Free names are taken as they are.
  EXPECT_EQ(MakePrivateFolder(dir.Path() / "omk-free"), dir.Path() / "omk-free");
}

// A private folder inside a folder that others may change (not sticky) could be moved aside and
// replaced: it is not private, and no folder is made there.
TEST(TempFolderTest, FolderUnderAnOpenFolderIsNotPrivate) {
  TempDir dir;
  fs::create_directories(dir.Path() / "open" / "mine");
  ASSERT_EQ(chmod((dir.Path() / "open" / "mine").c_str(), 0700), 0);
  ASSERT_EQ(chmod((dir.Path() / "open").c_str(), 0777), 0);
  EXPECT_FALSE(IsPrivateFolder(dir.Path() / "open" / "mine"));
  EXPECT_THROW(MakePrivateFolder(dir.Path() / "open" / "mine"), std::system_error);
  ScopedEnv env;
  env.Set("TMPDIR", (dir.Path() / "open" / "mine").string());
  EXPECT_NE(GetTempFolder(), dir.Path() / "open" / "mine");
  ASSERT_EQ(chmod((dir.Path() / "open").c_str(), 01777), 0);
  EXPECT_TRUE(IsPrivateFolder(dir.Path() / "open" / "mine"));
  EXPECT_EQ(GetTempFolder(), dir.Path() / "open" / "mine");
}

TEST(ModulePathTest, IsThisExecutable) {
  EXPECT_EQ(GetModulePath().filename(), "omk_platform_tests");
}

}  // namespace
}  // namespace Platform
