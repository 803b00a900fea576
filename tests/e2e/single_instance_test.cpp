// A second omk-setup while another copy (or the suite's uninstaller) is on screen: it shows
// that window and ends at once, with exit code 0, touching nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/child_process.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/x_client.h"
#include "tests/support/xvfb.h"

namespace {

namespace fs = std::filesystem;

class SingleInstanceTest : public testing::Test {
 protected:
  SingleInstanceTest() {
    for (const char* folder : {"lock", "run", "tmp", "registry"}) {
      fs::create_directories(Root() / folder);
      fs::permissions(Root() / folder, fs::perms::owner_all, fs::perm_options::replace);
    }
    m_env = {{"OMK_LOCK_DIR", (Root() / "lock").string()},   {"XDG_RUNTIME_DIR", (Root() / "run").string()},
             {"TMPDIR", (Root() / "tmp").string()},           {"OMK_REGISTRY_ROOT", (Root() / "registry").string()},
             {"OMK_PROGRAMDATA", (Root() / "pd").string()}, {"DISPLAY", m_xvfb.Display()}};
  }
  const fs::path& Root() const { return m_dir.Path(); }

  // The helper program holding what `args` say, with its window's id when it has one.
  std::unique_ptr<TestSupport::ChildProcess> Hold(const std::vector<std::string>& args, TestSupport::XWindowId& window) {
    auto helper = std::make_unique<TestSupport::ChildProcess>(OMK_GUARD_HELPER, args, m_env);
    for (std::string line = helper->ReadLine(); line != "ready"; line = helper->ReadLine()) {
      if (line.empty()) {
        ADD_FAILURE() << helper->Err();
        break;
      }
      if (line.rfind("window ", 0) == 0) window = std::stoul(line.substr(7));
      if (line.rfind("instance ", 0) == 0) {
        EXPECT_EQ(line, "instance acquired");
      }
    }
    return helper;
  }
  // What a start may leave behind: nothing but lock files.
  void ExpectNothingTouched() {
    EXPECT_TRUE(fs::is_empty(Root() / "tmp"));
    EXPECT_TRUE(fs::is_empty(Root() / "registry"));
    EXPECT_FALSE(fs::exists(Root() / "pd"));
  }

  TestSupport::TempDir m_dir;
  TestSupport::Xvfb m_xvfb;
  std::map<std::string, std::string> m_env;
};

TEST_F(SingleInstanceTest, SecondStartShowsTheFirstOnesWindow) {
  TestSupport::XWindowId setupWindow = 0;
  auto first = Hold({"--instance", "--window", "Quarro Omnikit Setup"}, setupWindow);
  ASSERT_NE(setupWindow, 0u);
  TestSupport::XClient desktop(m_xvfb.Display());
  for (const std::vector<std::string>& args : {std::vector<std::string>{"/S"}, {"/VS", "/BUILD_ID=3"}, {}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    const auto cover = desktop.CreateWindow({.title = "Text editor"});
    const auto second = TestSupport::RunProcess(OMK_SETUP_PATH, args, m_env);
    EXPECT_EQ(second.exitCode, 0);
    // Only why it ended: nothing reported missing, nothing else said.
    EXPECT_EQ(second.err, "omk-setup: another setup is already running; this one ends\n");
    EXPECT_EQ(desktop.StackingTopFirst().front(), setupWindow);
    EXPECT_EQ(desktop.Focus(), setupWindow);
    EXPECT_EQ(desktop.ActivationRequests(), (std::vector<std::pair<TestSupport::XWindowId, long>>{{setupWindow, 2}}));
    desktop.DestroyWindow(cover);
  }
  ExpectNothingTouched();
  first->CloseStdin();
  EXPECT_EQ(first->Wait(), 0);
}

// Without a display (a silent run from a service or CI) the second start just ends.
TEST_F(SingleInstanceTest, SecondStartWithoutDisplay) {
  TestSupport::XWindowId window = 0;
  auto first = Hold({"--instance"}, window);
  m_env["DISPLAY"] = "";
  const auto second = TestSupport::RunProcess(OMK_SETUP_PATH, {"/S"}, m_env);
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.err, "omk-setup: another setup is already running; this one ends\n");
  ExpectNothingTouched();
}

// The suite's uninstaller on screen ends the start too, and its window comes forward.
TEST_F(SingleInstanceTest, UninstallerWindowEndsTheStart) {
  TestSupport::XWindowId uninstallWindow = 0;
  auto uninstaller = Hold({"--window", "Quarro Omnikit Uninstall"}, uninstallWindow);
  TestSupport::XClient desktop(m_xvfb.Display());
  desktop.CreateWindow({.title = "Text editor"});
  const auto setup = TestSupport::RunProcess(OMK_SETUP_PATH, {"/S"}, m_env);
  EXPECT_EQ(setup.exitCode, 0);
  EXPECT_EQ(setup.err, "omk-setup: the uninstaller's window is open; this setup ends\n");
  EXPECT_EQ(desktop.StackingTopFirst().front(), uninstallWindow);
  EXPECT_EQ(desktop.ActivationRequests().size(), 1u);
  ExpectNothingTouched();
  // Its guard went with it.
  TestSupport::XWindowId none = 0;
  Hold({"--instance"}, none)->CloseStdin();
}

}  // namespace
