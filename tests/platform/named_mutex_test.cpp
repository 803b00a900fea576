#include "platform/named_mutex.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include "platform/text.h"
#include "tests/support/child_process.h"
#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace Platform {
namespace {

namespace fs = std::filesystem;

class NamedMutexTest : public testing::Test {
 protected:
  NamedMutexTest() {
    for (const char* folder : {"lock", "run", "tmp"}) {
      fs::create_directories(Root() / folder);
      fs::permissions(Root() / folder, fs::perms::owner_all, fs::perm_options::replace);
    }
    m_env.Set("OMK_LOCK_DIR", (Root() / "lock").string())
        .Set("XDG_RUNTIME_DIR", (Root() / "run").string())
        .Set("TMPDIR", (Root() / "tmp").string());
  }
  const fs::path& Root() const { return m_dir.Path(); }

  TestSupport::TempDir m_dir;
  TestSupport::ScopedEnv m_env;
};

TEST_F(NamedMutexTest, NamespacesPickTheFolder) {
  struct Case {
    const wchar_t* name;
    fs::path file;
  };
  const std::vector<Case> cases = {
      {L"Global\\{A}", Root() / "lock" / "omk-mutex-{A}"},
      {L"Local\\{A}", Root() / "run" / "omk-mutex-{A}"},
      {L"{051B3265-3B59-4609-BD79-80FB92617939}", Root() / "run" / "omk-mutex-{051B3265-3B59-4609-BD79-80FB92617939}"},
      // Nothing in a name leaves the folder.
      {L"Local\\../x/y", Root() / "run" / "omk-mutex-..%2Fx%2Fy"},
      {L"Global\\a\\b c\u00e9", Root() / "lock" / "omk-mutex-a%5Cb%20c%C3%A9"},
      {L"global\\lower-case prefix", Root() / "run" / "omk-mutex-global%5Clower-case%20prefix"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.name));
    EXPECT_EQ(GetNamedMutexFile(c.name), c.file);
    NamedMutex mutex;
    EXPECT_EQ(NamedMutex::Create(c.name, mutex), NamedMutexStatus::Created);
    EXPECT_TRUE(fs::is_regular_file(c.file));
  }
}

TEST_F(NamedMutexTest, SessionFolderThatIsNotPrivateGivesWayToTheTemporaryFolder) {
  fs::permissions(Root() / "run", fs::perms::all, fs::perm_options::replace);
  EXPECT_EQ(GetNamedMutexFile(L"Local\\x"), Root() / "tmp" / "omk-mutex-x");
  m_env.Set("XDG_RUNTIME_DIR", std::nullopt);
  EXPECT_EQ(GetNamedMutexFile(L"Local\\x"), Root() / "tmp" / "omk-mutex-x");
  m_env.Set("XDG_RUNTIME_DIR", "relative/folder");
  EXPECT_EQ(GetNamedMutexFile(L"Local\\x"), Root() / "tmp" / "omk-mutex-x");
}

TEST_F(NamedMutexTest, HeldUntilClosedOrMovedAway) {
  NamedMutex first;
  ASSERT_EQ(NamedMutex::Create(L"Local\\held", first), NamedMutexStatus::Created);
  EXPECT_TRUE(first.IsHeld());
  EXPECT_TRUE(IsNamedMutexHeld(L"Local\\held"));
  // A second handle, in this process or another, finds it taken; names are case-sensitive.
  NamedMutex second;
  EXPECT_EQ(NamedMutex::Create(L"Local\\held", second), NamedMutexStatus::AlreadyExists);
  EXPECT_FALSE(second.IsHeld());
  EXPECT_EQ(NamedMutex::Create(L"Local\\HELD", second), NamedMutexStatus::Created);
  second.Close();

  NamedMutex moved(std::move(first));
  EXPECT_FALSE(first.IsHeld());
  EXPECT_TRUE(moved.IsHeld());
  EXPECT_TRUE(IsNamedMutexHeld(L"Local\\held"));
  moved.Close();
  EXPECT_FALSE(IsNamedMutexHeld(L"Local\\held"));
  EXPECT_EQ(NamedMutex::Create(L"Local\\held", second), NamedMutexStatus::Created);
}

TEST_F(NamedMutexTest, ALookCreatesNothing) {
  EXPECT_FALSE(IsNamedMutexHeld(L"Local\\never"));
  EXPECT_FALSE(IsNamedMutexHeld(L"Global\\never"));
  EXPECT_TRUE(fs::is_empty(Root() / "run"));
  EXPECT_TRUE(fs::is_empty(Root() / "lock"));
}

TEST_F(NamedMutexTest, NamesThatCannotBeMutexes) {
  for (const std::wstring& name : {std::wstring(), std::wstring(L"Global\\"), std::wstring(L"Local\\"),
                                  L"Local\\" + std::wstring(300, L'x')}) {
    NamedMutex mutex;
    int error = 0;
    EXPECT_EQ(NamedMutex::Create(name, mutex, &error), NamedMutexStatus::Failed);
    EXPECT_NE(error, 0);
    EXPECT_FALSE(mutex.IsHeld());
    EXPECT_TRUE(GetNamedMutexFile(name).empty());
  }
}

// Another process's hold counts as existing; its end, however abrupt, frees the name.
TEST_F(NamedMutexTest, AnotherProcessHoldsIt) {
  const fs::path file = GetNamedMutexFile(L"Local\\shared");
  {
    NamedMutex mutex;
    ASSERT_EQ(NamedMutex::Create(L"Local\\shared", mutex), NamedMutexStatus::Created);
  }
  // -o: the lock stays with flock itself, not with the command it runs.
  TestSupport::ChildProcess holder("/usr/bin/flock", {"-x", "-o", file.string(), "-c", "echo locked; exec cat"});
  ASSERT_EQ(holder.ReadLine(), "locked");
  NamedMutex mutex;
  EXPECT_EQ(NamedMutex::Create(L"Local\\shared", mutex), NamedMutexStatus::AlreadyExists);
  EXPECT_TRUE(IsNamedMutexHeld(L"Local\\shared"));
  kill(holder.Pid(), SIGKILL);
  holder.Wait();
  EXPECT_FALSE(IsNamedMutexHeld(L"Local\\shared"));
  EXPECT_EQ(NamedMutex::Create(L"Local\\shared", mutex), NamedMutexStatus::Created);
}

// Another unprivileged user can write to the machine-wide lock folder (sticky, like /run/lock)
// and lock any file there it can open. Neither a file it planted under the mutex's name nor its
// lock on a lock file it could open stops this process from taking the mutex.
TEST_F(NamedMutexTest, AnotherUsersLockOrPlantedFileIsNoHolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  fs::permissions(Root(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec, fs::perm_options::replace);
  fs::permissions(Root() / "lock", fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
  const std::wstring name = L"Global\\shared";
  const fs::path file = GetNamedMutexFile(name);
  ASSERT_EQ(file.parent_path(), Root() / "lock");
  struct Case {
    const char* what;
    std::function<void()> prepare;  // what is in the lock file's place before the other user locks it
  };
  const Case cases[] = {
      {"a file the other user made", [&] {}},
      {"this user's lock file that others may open", [&] {
         TestSupport::ChildProcess("/usr/bin/install", {"-m", "0644", "/dev/null", file.string()}).Wait();
       }},
      {"a link the other user made", [&] { fs::create_symlink(Root() / "elsewhere", file); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(file);
    c.prepare();
    const bool link = fs::is_symlink(fs::symlink_status(file));
    // The other user (nobody) holds a lock on whatever it can open under the name.
    std::unique_ptr<TestSupport::ChildProcess> holder;
    if (!link) {
      holder = std::make_unique<TestSupport::ChildProcess>(
          "/usr/bin/setpriv", std::vector<std::string>{"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/flock",
                                                       "-x", "-o", file.string(), "-c", "echo locked; exec cat"});
      ASSERT_EQ(holder->ReadLine(), "locked");
    }
    EXPECT_FALSE(IsNamedMutexHeld(name));
    NamedMutex mutex;
    ASSERT_EQ(NamedMutex::Create(name, mutex), NamedMutexStatus::Created);
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(IsNamedMutexHeld(name));
    // The other user can no longer even open the new lock file.
    TestSupport::ChildProcess probe("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                                         "/usr/bin/flock", "-n", "-x", file.string(), "-c", "true"});
    EXPECT_NE(probe.Wait(), 0);
    if (holder) {
      kill(holder->Pid(), SIGKILL);
      holder->Wait();
    }
  }
}

}  // namespace
}  // namespace Platform
