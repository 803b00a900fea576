// The single-instance guard across processes, and what it does with its lock files.
#include "gui/one_instance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "config/identity.h"
#include "gui/window_activation.h"
#include "tests/gui/guard_fixture.h"
#include "tests/support/x_client.h"
#include "tests/support/xvfb.h"

namespace GuardTests {
namespace {

using CustomInstaller::Gui::CProductNameSpecificGenerator;
using CustomInstaller::Gui::COneInstance;

std::unique_ptr<CProductNameSpecificGenerator> Suite() { return std::make_unique<CProductNameSpecificGenerator>(); }

std::wstring Guid(const std::wstring& name) {
  const auto slash = name.find(L'\\');
  return name.substr(slash + 1, 36);
}

TEST(OneInstanceNamesTest, PrefixThenSuffixAndDifferentGuids) {
  const CProductNameSpecificGenerator suite;
  const std::wstring global = COneInstance::MutexName(false, &suite);
  const std::wstring local = COneInstance::MutexName(true, &suite);
  EXPECT_EQ(global, L"Global\\d98c16c8-cd12-45e9-b22f-54a39b5b1fe0OMK");
  EXPECT_EQ(local, L"Local\\68c82283-9090-4178-bfa5-a89db1c54543OMK");
  EXPECT_EQ(COneInstance::MutexName(false, nullptr), L"Global\\d98c16c8-cd12-45e9-b22f-54a39b5b1fe0");
  EXPECT_EQ(COneInstance::MutexName(true, nullptr), L"Local\\68c82283-9090-4178-bfa5-a89db1c54543");
  // Not merely the same mutex seen from two namespaces.
  EXPECT_NE(Guid(global), Guid(local));
}

class OneInstanceTest : public GuardTest {
 protected:
  void TearDown() override { COneInstance().Release(); }
  fs::path GlobalLockFile() const { return LockFolder() / "omk-mutex-d98c16c8-cd12-45e9-b22f-54a39b5b1fe0OMK"; }
};

TEST_F(OneInstanceTest, OneProcessHoldsItAndAnotherIsRefused) {
  COneInstance guard;
  ASSERT_TRUE(guard.Acquire(false, Suite()));
  EXPECT_TRUE(guard.Acquire(false, Suite()));           // already held: true again
  EXPECT_TRUE(COneInstance().Acquire(false, Suite()));  // the handles are the process's
  EXPECT_TRUE(fs::exists(GlobalLockFile()));

  EXPECT_EQ(HelperSays({"--instance"}), "instance refused");
  // The session-local guard is another mutex, in the session's folder.
  EXPECT_EQ(HelperSays({"--instance", "--local"}), "instance acquired");
  EXPECT_TRUE(fs::exists(RuntimeFolder() / "omk-mutex-68c82283-9090-4178-bfa5-a89db1c54543OMK"));

  guard.Release();
  EXPECT_FALSE(COneInstance::IsHeld(false));
  {
    std::vector<std::string> lines;
    auto other = StartHelper({"--instance"}, &lines);
    ASSERT_EQ(lines, std::vector<std::string>{"instance acquired"});
    EXPECT_FALSE(guard.Acquire(false, Suite()));
    EXPECT_FALSE(COneInstance::IsHeld(false));
    other->CloseStdin();
    EXPECT_EQ(other->Wait(), 0);
  }
  // Its holder's end frees it, also when the holder never released it.
  {
    auto other = StartHelper({"--instance"});
    EXPECT_FALSE(guard.Acquire(false, Suite()));
    kill(other->Pid(), SIGKILL);
    other->Wait();
  }
  EXPECT_TRUE(guard.Acquire(false, Suite()));
}

// A program started while the guard is held must not keep it after this process lets go.
TEST_F(OneInstanceTest, StartedProgramsDoNotInheritTheLock) {
  COneInstance guard;
  ASSERT_TRUE(guard.Acquire(false, Suite()));
  // It inherits every descriptor not closed on exec; once it prints, its exec is complete.
  TestSupport::ChildProcess child("/bin/sh", {"-c", "echo started; exec cat"});
  ASSERT_EQ(child.ReadLine(), "started");
  guard.Release();
  EXPECT_EQ(HelperSays({"--instance"}), "instance acquired");
  child.CloseStdin();
  child.Wait();
}

// No one can make this program open another file through the lock file's name, and nothing put
// in its place blocks the guard: a link or a FIFO is replaced by a lock file of this user's. A
// lock that cannot be made counts as acquired, with nothing held.
TEST_F(OneInstanceTest, LockFolderAndFileThatCannotBeUsed) {
  const fs::path target = Root() / "target";
  struct Case {
    const char* what;
    std::function<void()> prepare;
    bool held;  // the guard got a lock file of its own
  };
  const std::vector<Case> cases = {
      {"no lock folder", [&] { m_env.Set("OMK_LOCK_DIR", (Root() / "missing").string()); }, false},
      {"folder others may write to, without the sticky bit",
       [&] { fs::permissions(LockFolder(), fs::perms::all, fs::perm_options::replace); }, false},
      {"lock file is a folder", [&] { fs::create_directory(GlobalLockFile()); }, false},
      {"lock file is a link", [&] { fs::create_symlink(target, GlobalLockFile()); }, true},
      {"lock file is a FIFO", [&] { ASSERT_EQ(mkfifo(GlobalLockFile().c_str(), 0666), 0); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(LockFolder());
    fs::create_directory(LockFolder());
    m_env.Set("OMK_LOCK_DIR", LockFolder().string());
    c.prepare();
    COneInstance guard;
    EXPECT_TRUE(guard.Acquire(false, Suite()));
    EXPECT_EQ(COneInstance::IsHeld(false), c.held);
    if (c.held) {
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(GlobalLockFile())));
    }
    EXPECT_FALSE(fs::exists(target));
    guard.Release();
  }
  // A folder everyone may write to is fine with the sticky bit, as /run/lock has it.
  fs::remove_all(LockFolder());
  fs::create_directory(LockFolder());
  fs::permissions(LockFolder(), fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
  const mode_t oldMask = umask(0);
  COneInstance guard;
  EXPECT_TRUE(guard.Acquire(false, Suite()));
  umask(oldMask);
  EXPECT_TRUE(COneInstance::IsHeld(false));
  // Only its owner may open it, whatever the umask: no other user can take or hold its lock.
  EXPECT_EQ(fs::status(GlobalLockFile()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

// The second start does not get the guard and brings the first one's window forward.
TEST_F(OneInstanceTest, SecondProcessBringsTheFirstOnesWindowForward) {
  TestSupport::Xvfb xvfb;
  m_env.Set("DISPLAY", xvfb.Display());
  std::vector<std::string> lines;
  auto first = StartHelper({"--instance", "--window", "Quarro Omnikit Setup"}, &lines);
  ASSERT_EQ(lines.size(), 2u);
  ASSERT_EQ(lines[0], "instance acquired");
  const TestSupport::XWindowId setupWindow = std::stoul(lines[1].substr(7));

  // Another program's window covers it and has the focus.
  TestSupport::XClient desktop(xvfb.Display());
  const auto cover = desktop.CreateWindow({.title = "Text editor"});
  ASSERT_EQ(desktop.StackingTopFirst().front(), cover);

  COneInstance guard;
  EXPECT_FALSE(guard.Acquire(false, Suite()));
  CustomInstaller::Gui::CWindowActivation windows;
  const auto found = windows.FindTopLevelWindow(Config::kSetupWindowTitle);
  EXPECT_EQ(found, setupWindow);
  windows.BringWindowToFront(found);

  EXPECT_EQ(desktop.StackingTopFirst().front(), setupWindow);
  EXPECT_EQ(desktop.Focus(), setupWindow);
  const auto requests = desktop.ActivationRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].first, setupWindow);
  EXPECT_EQ(requests[0].second, 2);  // on the user's behalf
  first->CloseStdin();
  EXPECT_EQ(first->Wait(), 0);
}

}  // namespace
}  // namespace GuardTests
