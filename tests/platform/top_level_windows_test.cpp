// Window search and activation against a test X server (no window manager runs there).
#include "platform/top_level_windows.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/env.h"
#include "tests/support/x_client.h"
#include "tests/support/xvfb.h"

namespace Platform {
namespace {

TEST(TopLevelWindowsNoDisplayTest, FindNothingAndDoNothing) {
  for (const std::optional<std::string>& display : {std::optional<std::string>(), std::optional<std::string>(""),
                                                   std::optional<std::string>(":4711")}) {
    TestSupport::ScopedEnv env;
    env.Set("DISPLAY", display);
    EXPECT_FALSE(HasDisplay());
    EXPECT_TRUE(ListTopLevelWindows().empty());
    EXPECT_EQ(FindTopLevelWindow(L"Quarro Omnikit Setup"), 0u);
    EXPECT_EQ(FindTopLevelWindowOfProcesses({getpid()}), 0u);
    BringWindowToFront(0x400001);
  }
}

class TopLevelWindowsTest : public testing::Test {
 protected:
  TopLevelWindowsTest() : m_desktop(m_xvfb.Display()) { m_env.Set("DISPLAY", m_xvfb.Display()); }

  TestSupport::Xvfb m_xvfb;
  TestSupport::XClient m_desktop;
  TestSupport::ScopedEnv m_env;
};

TEST_F(TopLevelWindowsTest, ListedTopmostFirstWithTitleOwnerAndState) {
  const auto bottom = m_desktop.CreateWindow({.title = "Quarro Omnikit Setup \u2013 \u00e9t\u00e9", .pid = 4242});
  const auto latin1 = m_desktop.CreateWindow({.title = "Caf\u00e9", .netWmName = false, .pid = 0});
  const auto hidden = m_desktop.CreateWindow({.title = "hidden", .map = false});
  m_desktop.CreateWindow({.title = "menu", .overrideRedirect = true});
  const auto foreign = m_desktop.CreateWindow({.title = "remote", .host = "elsewhere.example"});

  const auto windows = ListTopLevelWindows();
  ASSERT_EQ(windows.size(), 4u);  // the override-redirect menu is no top-level window
  EXPECT_EQ(windows[0].window, foreign);
  EXPECT_EQ(windows[0].pid, 0);  // a process id of another host means nothing here
  EXPECT_EQ(windows[1].window, hidden);
  EXPECT_FALSE(windows[1].shown);
  EXPECT_EQ(windows[1].pid, getpid());
  EXPECT_EQ(windows[2].window, latin1);
  EXPECT_EQ(windows[2].title, L"Caf\u00e9");
  EXPECT_TRUE(windows[2].shown);
  EXPECT_EQ(windows[3].window, bottom);
  EXPECT_EQ(windows[3].title, L"Quarro Omnikit Setup \u2013 \u00e9t\u00e9");
  EXPECT_EQ(windows[3].pid, 4242);
}

TEST_F(TopLevelWindowsTest, FindByExactTitleTopmostFirst) {
  const auto lower = m_desktop.CreateWindow({.title = "Quarro Omnikit Setup"});
  const auto upper = m_desktop.CreateWindow({.title = "Quarro Omnikit Setup"});
  m_desktop.CreateWindow({.title = "Quarro Omnikit Setup 2"});
  EXPECT_EQ(FindTopLevelWindow(L"Quarro Omnikit Setup"), upper);
  EXPECT_EQ(FindTopLevelWindow(L"quarro omnikit setup"), 0u);
  EXPECT_EQ(FindTopLevelWindow(L"Quarro Omnikit"), 0u);
  m_desktop.DestroyWindow(upper);
  EXPECT_EQ(FindTopLevelWindow(L"Quarro Omnikit Setup"), lower);
}

// Under a window manager each client sits in a frame of the manager's; the client is the
// top-level window, found inside its frame.
TEST_F(TopLevelWindowsTest, ClientInsideAFrame) {
  const auto frame = m_desktop.CreateWindow({.title = "", .pid = 0});
  const auto client = m_desktop.CreateWindow({.title = "Quarro Omnikit Uninstall", .parent = frame, .wmState = true});
  EXPECT_EQ(FindTopLevelWindow(L"Quarro Omnikit Uninstall"), client);
  EXPECT_EQ(FindTopLevelWindowOfProcesses({getpid()}), client);
}

TEST_F(TopLevelWindowsTest, WindowOfProcessesPrefersShownOnes) {
  const auto shown = m_desktop.CreateWindow({.title = "wizard", .pid = 5001});
  const auto hidden = m_desktop.CreateWindow({.title = "leader", .pid = 5001, .map = false});
  const auto other = m_desktop.CreateWindow({.title = "other", .pid = 5002});
  EXPECT_EQ(FindTopLevelWindowOfProcesses({5001}), shown);
  EXPECT_EQ(FindTopLevelWindowOfProcesses({4000, 5002}), other);
  m_desktop.DestroyWindow(shown);
  EXPECT_EQ(FindTopLevelWindowOfProcesses({5001}), hidden);
  EXPECT_EQ(FindTopLevelWindowOfProcesses({4000}), 0u);
  EXPECT_EQ(FindTopLevelWindowOfProcesses({}), 0u);
}

TEST_F(TopLevelWindowsTest, BringToFrontRaisesFocusesAndAsksForActivation) {
  const auto target = m_desktop.CreateWindow({.title = "target"});
  const auto cover = m_desktop.CreateWindow({.title = "cover"});
  ASSERT_EQ(m_desktop.StackingTopFirst().front(), cover);
  BringWindowToFront(target);
  EXPECT_EQ(m_desktop.StackingTopFirst().front(), target);
  EXPECT_EQ(m_desktop.Focus(), target);
  const auto requests = m_desktop.ActivationRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], std::make_pair(target, 2L));
}

// Ids that name no window (gone, never made, "none") do nothing and end nothing.
TEST_F(TopLevelWindowsTest, NoWindowNoEffect) {
  const auto cover = m_desktop.CreateWindow({.title = "cover"});
  const auto gone = m_desktop.CreateWindow({.title = "gone"});
  m_desktop.DestroyWindow(gone);
  for (const NativeWindow window : {NativeWindow{0}, NativeWindow{gone}, NativeWindow{0x1fffffff}, ~NativeWindow{0}}) {
    BringWindowToFront(window);
  }
  EXPECT_EQ(m_desktop.StackingTopFirst().front(), cover);
  EXPECT_TRUE(m_desktop.ActivationRequests().empty());
  EXPECT_TRUE(HasDisplay());  // the connection survived the errors
}

// A window its program keeps hidden is not shown from outside.
TEST_F(TopLevelWindowsTest, HiddenWindowStaysHidden) {
  const auto hidden = m_desktop.CreateWindow({.title = "Quarro Omnikit Setup", .map = false});
  BringWindowToFront(hidden);
  const auto windows = ListTopLevelWindows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_FALSE(windows[0].shown);
  EXPECT_EQ(m_desktop.ActivationRequests().size(), 1u);
}

// With a window manager the activation is its business: the request goes out, the focus is
// not taken behind its back.
TEST_F(TopLevelWindowsTest, WindowManagerDecidesTheFocus) {
  const auto target = m_desktop.CreateWindow({.title = "target"});
  m_desktop.CreateWindow({.title = "cover"});
  m_desktop.PretendWindowManager();
  BringWindowToFront(target);
  EXPECT_NE(m_desktop.Focus(), target);
  EXPECT_EQ(m_desktop.ActivationRequests().size(), 1u);
}

}  // namespace
}  // namespace Platform
