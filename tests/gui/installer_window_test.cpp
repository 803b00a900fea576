// The installer window under a private X server with the real WebKitGTK: hidden until the page
// shows it, the page's size, centred, its title and icon, the show time-out, the close request
// handed to the page, the drag strip, the script objects, and a teardown that never waits for
// a page that is gone. Screenshots go to the build folder.
#include "gui/installer_window.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <boost/thread/thread.hpp>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "browser/browser_emulation.h"
#include "browser/main_thread.h"
#include "gui/browser_emulation_setting.h"
#include "gui/page_resources.h"
#include "platform/text.h"
#include "tests/browser/web_view_support.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"

namespace CustomInstaller::Gui {
namespace {

namespace fs = std::filesystem;
using namespace BrowserControl;

constexpr int kScreenWidth = 1280, kScreenHeight = 800;

using TestSupport::EvalJson;
using TestSupport::SaveScreenshot;
using TestSupport::WaitForScript;

bool Mapped(GtkWidget* window) { return window && gtk_widget_get_mapped(window); }

// An install manager that, once started, keeps reporting progress from a worker that cannot
// be interrupted (as the launcher reports its outcome) until it is stopped.
class CBusyManager : public Core::IInstallManager {
 public:
  ~CBusyManager() override { Stop(); }
  bool Start(std::shared_ptr<Core::JS::IInstallProgressJSCallback> progress) override {
    if (m_worker.joinable() || !progress) return false;
    started = true;
    m_worker = boost::thread([this, progress] {
      boost::this_thread::disable_interruption noInterruption;
      progress->OnStarted();
      float percent = 0;
      while (!m_stop.load()) {
        progress->OnProgress(percent);
        percent = percent >= 49 ? 1 : percent + 1;
      }
    });
    return true;
  }
  bool Cancel() override { return false; }
  void Stop() override {
    m_stop = true;
    if (m_worker.joinable()) {
      m_worker.interrupt();
      m_worker.join();
    }
  }
  std::atomic<bool> started{false};

 private:
  std::atomic<bool> m_stop{false};
  boost::thread m_worker;
};

// The window with its protected parts open to the tests, and window moves recorded.
class CTestWindow : public CInstallerWindow {
 public:
  using CInstallerWindow::CInstallerWindow;
  using CInstallerWindow::RegisterJSObjects;
  struct Move {
    int32_t button, x, y;
  };
  std::vector<Move> moves;

 protected:
  void StartWindowMove(int32_t button, int32_t rootX, int32_t rootY, uint32_t) override {
    moves.push_back({button, rootX, rootY});
  }
};

// Runs the window; `steps` runs inside its modal loop once it has started.
int32_t RunWith(CInstallerWindow& window, const std::function<void()>& steps) {
  PostToMainThread(steps);
  return window.Run();
}

InstallationDetails Details(const wchar_t* commandLine) { return InstallationDetails(InstallerOptions(commandLine)); }

class InstallerWindowTest : public testing::Test {
 protected:
  fs::path Page(const std::string& name, const std::string& body) {
    const fs::path path = dir.Path() / name;
    TestSupport::WriteFile(path, "<!DOCTYPE html><html><body style='margin:0;background:#1e5bd8'>" + body +
                                     "</body></html>");
    return path;
  }
  static std::wstring Url(const fs::path& path) { return Platform::Utf8ToWide(path.string()); }

  TestSupport::TempDir dir;
  std::shared_ptr<CBusyManager> manager = std::make_shared<CBusyManager>();
};

TEST_F(InstallerWindowTest, HiddenUntilThePageShowsItThenThePagesSizeCentredWithTitleAndIcon) {
  const fs::path page =
      Page("show.html", "<script>window.showNow = () => window.external.basewnd.show(500, 300);</script>");
  CTestWindow window(Url(page), manager, Details(L""), 20000);
  bool hiddenFirst = false, icon = false, decorated = true;
  int width = 0, height = 0, x = -1, y = -1;
  std::string title;
  const int32_t code = RunWith(window, [&] {
    GtkWidget* w = window.Window();
    ASSERT_NE(window.MainBrowser(), nullptr);
    WebKitWebView* view = window.MainBrowser()->View();
    EXPECT_TRUE(WaitForScript(view, "typeof window.showNow == 'function'"));
    hiddenFirst = !Mapped(w) && !window.IsShown();
    EvalJson(view, "window.showNow()");
    EXPECT_TRUE(RunMainLoopUntil([&] { return Mapped(w) && gtk_widget_get_allocated_width(w) == 500; }, 20000));
    width = gtk_widget_get_allocated_width(w);
    height = gtk_widget_get_allocated_height(w);
    gtk_window_get_position(GTK_WINDOW(w), &x, &y);
    title = gtk_window_get_title(GTK_WINDOW(w));
    icon = gtk_window_get_icon(GTK_WINDOW(w)) != nullptr;
    decorated = gtk_window_get_decorated(GTK_WINDOW(w));
    EvalJson(view, "window.external.basewnd.closeWithExitCode(5)");
  });
  EXPECT_EQ(code, 5);
  EXPECT_TRUE(hiddenFirst);
  EXPECT_EQ(width, 500);
  EXPECT_EQ(height, 300);
  EXPECT_EQ(x, (kScreenWidth - 500) / 2);
  EXPECT_EQ(y, (kScreenHeight - 300) / 2);
  EXPECT_EQ(title, "Quarro Omnikit Setup");
  EXPECT_TRUE(icon);
  EXPECT_FALSE(decorated);
}

TEST_F(InstallerWindowTest, APageThatNeverShowsEndsWith32000AfterTheShowTimeOut) {
  CTestWindow window(Url(Page("silent.html", "<p>never shown</p>")), manager, Details(L""), 300);
  EXPECT_EQ(window.Run(), 32000);
  EXPECT_FALSE(window.IsShown());
  CTestWindow missing(Url(dir.Path() / "absent.html"), manager, Details(L""), 300);
  EXPECT_EQ(missing.Run(), 32000);
}

TEST_F(InstallerWindowTest, TheSevenScriptObjectsInOrderAndTheLinkPlaceholders) {
  CTestWindow window(Url(Page("objects.html", "")), manager, Details(L""), 20000);
  std::vector<std::wstring> names;
  RunWith(window, [&] {
    JS::CJSObjectsSimpleContainer container;
    window.RegisterJSObjects(container);
    for (int32_t i = 0; i < container.Count(); ++i) names.push_back(container.GetName(i));
    window.PostMessage(WM_WEB_END, 1);
  });
  EXPECT_EQ(names, (std::vector<std::wstring>{L"system", L"process", L"download", L"childWindow", L"basewnd",
                                              L"installer", L"ga"}));

  const PresetParams filled = PresetUrlParams(Details(L"/BUILD_ID=42 /OSOURCE=web /TRACKING=t7 /LANG=de"));
  EXPECT_EQ(filled, (PresetParams{{L"buildid", L"42"},
                                  {L"osource", L"web"},
                                  {L"trackid", L"t7"},
                                  {L"version", L"3.10.1.2"},
                                  {L"langid", L"de"},
                                  {L"product", L"OMK"},
                                  {L"uid", L""}}));
}

TEST(DragStripTest, TheStripIs83TimesTheScaleHighLessTheWindowButtons) {
  EXPECT_EQ(DragStripHeight(1.0f), 83);
  EXPECT_EQ(DragStripHeight(1.25f), 103);
  EXPECT_EQ(DragStripHeight(1.5f), 124);  // 124.5 truncated
  EXPECT_EQ(DragStripHeight(2.0f), 166);
  struct Case {
    double x, y;
    float scale;
    bool moves;
  };
  const int32_t width = 600;  // buttons: x 525..585, y 15..45 at scale 1
  const Case cases[] = {
      {10, 10, 1, true},    {300, 82, 1, true},  {300, 83, 1, false},     {300, 123, 1.5, true},
      {300, 124, 1.5, false}, {550, 30, 1, false}, {526, 16, 1, false},   {524, 30, 1, true},
      {586, 30, 1, true},   {550, 10, 1, true},  {550, 46, 1, true},      {500, 40, 1.5, false},
      {485, 40, 1.5, true}, {-1, 10, 1, false},  {600, 10, 1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StartsWindowMove(c.x, c.y, width, c.scale), c.moves) << c.x << "," << c.y << " at " << c.scale;
  }
}

// A press on the page at (x, y), as the pointer gives it.
void Press(GtkWidget* view, int x, int y, int button = 1) {
  GdkEvent* event = gdk_event_new(GDK_BUTTON_PRESS);
  event->button.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(view)));
  event->button.send_event = TRUE;
  event->button.x = x;
  event->button.y = y;
  event->button.x_root = 1000 + x;
  event->button.y_root = 2000 + y;
  event->button.button = static_cast<guint>(button);
  event->button.time = GDK_CURRENT_TIME;
  gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
  gtk_widget_event(view, event);
  gdk_event_free(event);
}

TEST_F(InstallerWindowTest, APressInTheTitleStripMovesTheWindowButNotOnTheButtons) {
  const fs::path page = Page("drag.html", "<script>window.external.basewnd.show(600, 400);</script>");
  CTestWindow window(Url(page), manager, Details(L""), 20000);
  RunWith(window, [&] {
    GtkWidget* w = window.Window();
    EXPECT_TRUE(RunMainLoopUntil([&] { return Mapped(w) && gtk_widget_get_allocated_width(w) == 600; }, 20000));
    GtkWidget* view = window.MainBrowser()->Widget();
    const float scale = window.Scale();
    Press(view, 20, 20);                                                            // the strip
    Press(view, 600 - static_cast<int>(45 * scale), static_cast<int>(30 * scale));  // the buttons
    Press(view, 300, DragStripHeight(scale) + 5);                                   // below the strip
    Press(view, 300, 20, 3);                                                        // another button
    window.PostMessage(WM_WEB_END, 1);
  });
  ASSERT_EQ(window.moves.size(), 1u);
  EXPECT_EQ(window.moves[0].button, 1);
  EXPECT_EQ(window.moves[0].x, 1020);
  EXPECT_EQ(window.moves[0].y, 2020);
}

// The real page, extracted from the program's resources, with the real script objects.
TEST_F(InstallerWindowTest, TheInstallerPageShowsItselfAndACloseRequestAsksThePage) {
  CInstallerPageFiles files;
  const std::wstring index = ExtractPageResourcesTo(dir.Path(), files);
  ASSERT_FALSE(index.empty());
  CTestWindow window(index, manager, Details(L"/LANG=en /BUILD_ID=7"), 20000);
  int width = 0, height = 0;
  bool askedAndStillOpen = false;
  std::string asked;
  const int32_t code = RunWith(window, [&] {
    GtkWidget* w = window.Window();
    EXPECT_TRUE(RunMainLoopUntil([&] { return window.IsShown() && Mapped(w); }, 20000));
    WebKitWebView* view = window.MainBrowser()->View();
    EXPECT_TRUE(WaitForScript(view, "$('#welcome_page').is(':visible')"));
    width = gtk_widget_get_allocated_width(w);
    height = gtk_widget_get_allocated_height(w);
    // What the page asked for: its container's width and its body's height + 1.
    asked = EvalJson(view, "[Math.round($('#container').outerWidth()), Math.round($('body').outerHeight()) + 1]");
    EXPECT_TRUE(SaveScreenshot(w, fs::path(OMK_WINDOW_TEST_OUTPUT) / "installer-window-welcome.png"));

    // The window manager's close (Alt+F4): the page is asked, the window stays.
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(w)));
    gtk_main_do_event(event);
    gdk_event_free(event);
    askedAndStillOpen = WaitForScript(view, "$('#exitPopup').is(':visible')") && Mapped(w) && window.IsShown();
    EXPECT_TRUE(SaveScreenshot(w, fs::path(OMK_WINDOW_TEST_OUTPUT) / "installer-window-close-asked.png"));
    window.PostMessage(WM_WEB_END, 1);
  });
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(askedAndStillOpen);
  EXPECT_EQ("[" + std::to_string(width) + "," + std::to_string(height) + "]", asked);
  RemovePageFiles(files);
}

// The page starts an installation whose worker reports without pause and cannot be
// interrupted; the window ends while the worker waits for the page. Stopping the worker
// afterwards from this thread must not wait for a page that nobody serves any more.
TEST_F(InstallerWindowTest, AfterTheWindowEndsWorkersWaitingForThePageAreLetGo) {
  const fs::path page = Page("busy.html",
                             "<script>window.count = 0; window.external.basewnd.show(300, 200);"
                             "window.external.installer.start({onProgress: () => { window.count++; }});</script>");
  CTestWindow window(Url(page), manager, Details(L""), 20000);
  const int32_t code = RunWith(window, [&] {
    EXPECT_TRUE(RunMainLoopUntil([&] { return window.IsShown(); }, 20000));
    EXPECT_TRUE(WaitForScript(window.MainBrowser()->View(), "window.count > 20"));
    window.PostMessage(WM_WEB_END, 1);
  });
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(manager->started);
  manager->Stop();  // returns: the worker's waiting call was dropped
}

}  // namespace
}  // namespace CustomInstaller::Gui

// One X server and GTK for the whole program; listing the tests needs neither.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing = listing || std::strstr(argv[i], "gtest_list_tests");
  if (listing || testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  std::unique_ptr<TestSupport::Xvfb> xvfb;
  try {
    xvfb = std::make_unique<TestSupport::Xvfb>(CustomInstaller::Gui::kScreenWidth,
                                               CustomInstaller::Gui::kScreenHeight);
  } catch (const std::exception& e) {
    fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  setenv("DISPLAY", xvfb->Display().c_str(), 1);
  setenv("GDK_BACKEND", "x11", 1);
  unsetenv("WAYLAND_DISPLAY");
  setenv("NO_AT_BRIDGE", "1", 1);
  TestSupport::TempDir sandbox;
  setenv("OMK_REGISTRY_ROOT", (sandbox.Path() / "registry").c_str(), 1);
  // As while the program runs: the page's engine check passes.
  CustomInstaller::Gui::CBrowserEmulation().Set(BrowserControl::GetBrowserEmulationValueName());
  if (!CustomInstaller::Gui::CInstallerWindow::OpenDisplay()) {
    fprintf(stderr, "no display %s\n", xvfb->Display().c_str());
    return 1;
  }
  return RUN_ALL_TESTS();
}
