// The web dialogs with the default script objects, driven by their pages through the real
// bridge: every built-in member with good and bad arguments, show and close requests and the
// end codes, child windows and where they appear.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <fstream>

#include "browser/main_thread.h"
#include "browser/page_address.h"
#include "browser/web_dialog.h"
#include "browser/window_wrappers.h"
#include "tests/browser/host_fixture.h"
#include "tests/support/dev_server.h"
#include "tests/support/env.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace BrowserControl;
using TestSupport::Eval;

constexpr int32_t kNotImpl = static_cast<int32_t>(0x80004001);
constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057);
constexpr int32_t kFail = static_cast<int32_t>(0x80004005);

boost::json::value V(boost::json::value v) { return boost::json::object{{"v", std::move(v)}}; }
boost::json::value E(int32_t code) { return boost::json::object{{"e", code}}; }
const boost::json::value kNothing = boost::json::object{};  // a call whose value is undefined

// The page of a child window: shows itself 300 x 200.
const char kChildPage[] =
    "<!DOCTYPE html><html><body style='margin:0;background:#2d6cdf;color:white;font:20px sans-serif'>"
    "<p>child</p><script>window.external.basewnd.show(300, 200);</script></body></html>";

class WebDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    folder = dir.Path() / "pages";
    TestSupport::WriteFile(folder / "child.html", kChildPage);
  }
  void TearDown() override { CWebBaseModelessDlg::CloseAll(); }

  std::filesystem::path Page(const std::string& name, const std::string& body) {
    TestSupport::WriteFile(folder / name, TestSupport::TestPageHtml(body));
    return folder / name;
  }

  // A modeless dialog with the default objects on `page`, loaded.
  std::shared_ptr<CWebBaseModelessDlg> Open(const std::filesystem::path& page, int32_t mode = kPositionCenter) {
    auto dialog = CWebBaseModelessDlg::Make(page.wstring(), L"", mode, 60000);
    EXPECT_TRUE(dialog->Create());
    auto waiter = std::make_shared<CDocumentWaiter>();
    EXPECT_NE(dialog->MainBrowser(), nullptr);
    if (!dialog->MainBrowser()) return dialog;
    dialog->MainBrowser()->SetDocumentWaiter(waiter);
    EXPECT_TRUE(RunMainLoopUntil([&] { return waiter->IsSignalled(); }, 20000));
    return dialog;
  }

  boost::json::value Call(const std::shared_ptr<CWebBaseModelessDlg>& dialog, const std::string& expression) {
    return Eval(dialog->MainBrowser()->View(), "call(() => " + expression + ")");
  }

  // Runs a modal dialog on `url` and returns its end code.
  int32_t RunModal(const std::wstring& url, uint32_t timeoutMs = 20000, std::wstring second = L"") {
    CWebBaseModalDlg dialog(url, second, kPositionCenter, timeoutMs);
    return dialog.DoModal();
  }

  TestSupport::TempDir dir;
  std::filesystem::path folder;
};

struct MemberCase {
  const char* expression;
  boost::json::value expected;
};

TEST_F(WebDialogTest, EveryBuiltInMemberWithGoodAndBadArguments) {
  auto dialog = Open(Page("members.html", "<p>members</p>"));
  const MemberCase cases[] = {
      {"window.external.engine.version()", V("3.2.0")},
      {"window.external.engine.version == '3.2.0'", V(true)},
      {"window.external.engine.version(1)", E(kInvalidArg)},
      {"window.external.engine.Version", E(kNotImpl)},
      {"window.external.basewnd.getDPI()", V(100)},
      {"window.external.basewnd.getDPI(1)", E(kInvalidArg)},
      {"window.external.basewnd.isMinimizeSupported()", V(true)},
      {"window.external.basewnd.show(1)", E(kFail)},
      {"window.external.basewnd.show('400', 300)", E(kInvalidArg)},
      {"window.external.basewnd.show(1, 2, 3)", E(kFail)},
      {"window.external.basewnd.hide(1)", E(kInvalidArg)},
      {"window.external.basewnd.close(1)", E(kInvalidArg)},
      {"window.external.basewnd.minimize(1)", E(kInvalidArg)},
      {"window.external.basewnd.closeWithExitCode()", E(kInvalidArg)},
      {"window.external.basewnd.closeWithExitCode('5')", E(kInvalidArg)},
      {"window.external.system.isInstalled('OMK')", V("")},
      {"window.external.system.isInstalled()", E(kInvalidArg)},
      {"window.external.system.isInstalled(5)", E(kInvalidArg)},
      {"window.external.system.getMainExecutablePath('OMK')", V("")},
      {"window.external.system.getMainExecutablePath(null)", E(kInvalidArg)},
      {"window.external.system.openInDefaultBrowser('')", E(kInvalidArg)},
      {"window.external.system.openInDefaultBrowser()", E(kInvalidArg)},
      {"window.external.process.execute('', '')", V(false)},
      {"window.external.process.execute('/bin/true', '')", V(true)},
      {"window.external.process.executeAndWait('/bin/sh', '-c \"exit 3\"')", V(true)},
      {"window.external.process.execute('/bin/true')", E(kInvalidArg)},
      {"window.external.process.execute(1, '')", E(kInvalidArg)},
      {"window.external.download.start()", E(kInvalidArg)},
      {"window.external.download.start('')", E(kInvalidArg)},
      {"window.external.download.start('http://127.0.0.1:9/x', 5)", E(kInvalidArg)},
      {"window.external.download.cancel('never issued')", kNothing},
      {"window.external.download.cancel('')", E(kInvalidArg)},
      {"window.external.childWindow.createWindow('child.html', '', 'Elsewhere')", E(kInvalidArg)},
      {"window.external.childWindow.createWindow('child.html', '')", E(kInvalidArg)},
      {"window.external.childWindow.createWindow('', '', 'Center')", E(kInvalidArg)},
  };
  for (const MemberCase& c : cases) EXPECT_EQ(Call(dialog, c.expression), c.expected) << c.expression;
  EXPECT_FALSE(dialog->IsShown());
}

TEST_F(WebDialogTest, LinksOpenInTheDefaultBrowserWithItsArguments) {
  auto dialog = Open(Page("links.html", "<p>links</p>"));
  const std::filesystem::path log = TestSupport::OpenedUrlLog();
  std::filesystem::remove(log);
  // A root setup opens links only for a desktop user, never as root: here user nobody.
  TestSupport::ScopedEnv env;
  if (::geteuid() == 0) {
    env.Set("SUDO_UID", "65534");
    namespace fs = std::filesystem;
    const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec;
    for (const auto& path : {log.parent_path(), log.parent_path() / "bin", log.parent_path() / "bin" / "xdg-open"}) {
      fs::permissions(path, open, fs::perm_options::replace);
    }
    TestSupport::WriteFile(log, "");
    ASSERT_EQ(::chown(log.c_str(), 65534, 65534), 0);
  }
  EXPECT_EQ(Call(dialog, "window.external.system.openInDefaultBrowser('https://example.invalid/a?b=1')"), kNothing);
  ASSERT_TRUE(RunMainLoopUntil([&] { return std::filesystem::exists(log) && std::filesystem::file_size(log) > 0; },
                               20000));
  EXPECT_EQ(TestSupport::ReadFile(log), "https://example.invalid/a?b=1\n");
}

TEST_F(WebDialogTest, DownloadCallbacksReachThePage) {
  TestSupport::DevServer server(
      R"({"routes": [{"path": "/file", "body_size": 300000, "trickle": {"bytes": 30000, "delay_ms": 5}}]})");
  auto dialog = Open(Page("download.html", "<p>download</p>"));
  auto start = [&](const std::string& url) {
    return Call(dialog, "(() => { window.events = []; const cb = {"
                        " onProgress: p => events.push(typeof p + ':' + p), onFinished: () => events.push('finished'),"
                        " onError: () => events.push('error'), onCancelled: () => events.push('cancelled')};"
                        " return window.external.download.start('" + url + "', cb); })()");
  };
  boost::json::value started = start(server.HttpUrl("/file"));
  ASSERT_TRUE(started.as_object().contains("v")) << started;
  const std::string target(started.at("v").as_string());
  ASSERT_TRUE(TestSupport::WaitForScript(dialog->MainBrowser()->View(), "events.includes('finished')"));
  boost::json::array events = Eval(dialog->MainBrowser()->View(), "events").as_array();
  EXPECT_EQ(events.back(), "finished");
  EXPECT_EQ(events.at(events.size() - 2), "string:100");
  for (size_t i = 0; i + 1 < events.size(); ++i) EXPECT_EQ(std::string(events[i].as_string()).substr(0, 7), "string:") << events[i];
  EXPECT_EQ(std::filesystem::file_size(target), 300000u);
  std::filesystem::remove(target);

  started = start(server.HttpUrl("/missing"));
  ASSERT_TRUE(started.as_object().contains("v"));
  ASSERT_TRUE(TestSupport::WaitForScript(dialog->MainBrowser()->View(), "events.length > 0"));
  EXPECT_EQ(Eval(dialog->MainBrowser()->View(), "events"), (boost::json::array{"error"}));
  EXPECT_FALSE(std::filesystem::exists(std::string(started.at("v").as_string())));
}

struct EndCase {
  const char* name;
  const char* script;
  int32_t code;
};

TEST_F(WebDialogTest, ShowAndCloseRequestsGiveTheEndCode) {
  const EndCase cases[] = {
      {"show then close", "ext.basewnd.show(400, 300); ext.basewnd.close();", 1},
      {"close before show", "ext.basewnd.close();", kExitNotShown},
      {"show then code 5", "ext.basewnd.show(400, 300); ext.basewnd.closeWithExitCode(5);", 5},
      {"code 5 before show", "ext.basewnd.closeWithExitCode(5);", kExitNotShown},
      {"zero width", "ext.basewnd.show(0, 300);", 0},
      {"negative height", "ext.basewnd.show(400, -3);", 0},
      {"never shown", "", kExitNotShown},
  };
  int i = 0;
  for (const EndCase& c : cases) {
    const auto page = Page("end" + std::to_string(i++) + ".html",
                           std::string("<script>const ext = window.external;") + c.script + "</script>");
    EXPECT_EQ(RunModal(page.wstring(), 1500), c.code) << c.name;
  }
  EXPECT_EQ(RunModal(L""), 0) << "no page";
  EXPECT_EQ(RunModal((folder / "absent.html").wstring(), 300), kExitNotShown) << "page missing";
}

TEST_F(WebDialogTest, TheWindowManagersCloseEndsTheDialogWithCodeZero) {
  const auto page = Page("wmclose.html", "<script>window.external.basewnd.show(300, 200);</script>");
  CWebBaseModalDlg dialog(page.wstring(), L"", kPositionCenter, 20000);
  // Once the page has shown the dialog, the window manager asks it to close.
  g_timeout_add(
      20,
      [](gpointer data) -> gboolean {
        auto* d = static_cast<CWebBaseModalDlg*>(data);
        if (!d->IsShown() || !d->Window() || !gtk_widget_get_mapped(d->Window())) return G_SOURCE_CONTINUE;
        GdkEvent* event = gdk_event_new(GDK_DELETE);
        event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(d->Window())));
        gtk_main_do_event(event);
        gdk_event_free(event);
        return G_SOURCE_REMOVE;
      },
      &dialog);
  EXPECT_EQ(dialog.DoModal(), 0);
}

TEST_F(WebDialogTest, TheSecondPageShowsAndClosesThroughItsOwnMessages) {
  const auto main = Page("main2.html", "<p>main</p>");
  const auto second = Page("second.html",
                           "<script>window.external.basewnd.show(320, 240);"
                           " setTimeout(() => window.external.basewnd.close(), 50);</script>");
  EXPECT_EQ(RunModal(main.wstring(), 20000, second.wstring()), 1);
}

// Waits for the only child window other than `parent` to be shown and mapped.
std::shared_ptr<CWebBaseModelessDlg> WaitForChild(const std::shared_ptr<CWebBaseModelessDlg>& parent) {
  std::shared_ptr<CWebBaseModelessDlg> child;
  RunMainLoopUntil(
      [&] {
        for (auto& d : CWebBaseModelessDlg::OpenDialogs()) {
          if (d != parent && d->IsShown() && d->Window() && gtk_widget_get_mapped(d->Window())) child = d;
        }
        return child != nullptr;
      },
      20000);
  return child;
}

TEST_F(WebDialogTest, ChildWindowsOpenCentredOrBesideTheTaskbar) {
  const int workHeight = TestSupport::kScreenHeight - TestSupport::kPanelHeight;
  struct Case {
    const char* placement;
    int x, y;
  } cases[] = {
      {"Center", (TestSupport::kScreenWidth - 300) / 2, (workHeight - 200) / 2},
      {"center", (TestSupport::kScreenWidth - 300) / 2, (workHeight - 200) / 2},
      // The panel is below the work area, not inside it: the bottom-right corner of the work area.
      {"Tray", TestSupport::kScreenWidth - 300, workHeight - 200},
      {"tRaY", TestSupport::kScreenWidth - 300, workHeight - 200},
  };
  auto parent = Open(Page("opener.html", "<p>opener</p>"));
  for (const Case& c : cases) {
    EXPECT_EQ(Call(parent, std::string("window.external.childWindow.createWindow('child.html', 'unused', '") +
                               c.placement + "')"),
              V(true));
    auto child = WaitForChild(parent);
    ASSERT_NE(child, nullptr) << c.placement;
    int x = -1, y = -1, w = 0, h = 0;
    gtk_window_get_position(GTK_WINDOW(child->Window()), &x, &y);
    gtk_window_get_size(GTK_WINDOW(child->Window()), &w, &h);
    EXPECT_EQ(x, c.x) << c.placement;
    EXPECT_EQ(y, c.y) << c.placement;
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 200);
    if (std::string(c.placement) == "tRaY") {
      EXPECT_TRUE(TestSupport::SaveScreenshot(child->Window(), TestSupport::ScreenshotFolder() / "child_tray.png"));
    }
    // Its page closes it; it is gone afterwards.
    EXPECT_EQ(Eval(child->MainBrowser()->View(), "setTimeout(() => window.external.basewnd.close(), 0), 1"), 1);
    ASSERT_TRUE(RunMainLoopUntil([&] { return child->Window() == nullptr; }, 20000));
  }
}

// A child window shows only a page of its opener's folder: every other address, however it is
// spelt or linked, is an error to the page, makes no window and fetches nothing.
TEST_F(WebDialogTest, ChildWindowsShowOnlyPagesOfTheOpenersFolder) {
  namespace fs = std::filesystem;
  TestSupport::DevServer server(R"({"routes": [{"path": "/x.html", "body": "<p>remote</p>"}]})");
  const fs::path outside = dir.Path() / "outside.html";
  TestSupport::WriteFile(outside, kChildPage);
  TestSupport::WriteFile(dir.Path() / "pages-other" / "x.html", kChildPage);
  TestSupport::WriteFile(dir.Path() / "elsewhere" / "x.html", kChildPage);
  TestSupport::WriteFile(folder / "sub" / "inner.html", kChildPage);
  fs::create_symlink(outside, folder / "link.html");
  fs::create_directory_symlink(dir.Path() / "elsewhere", folder / "linked");
  const std::string childUri = PageUriFromTarget((folder / "child.html").string());
  auto parent = Open(Page("opener.html", "<p>opener</p>"));
  auto create = [&](const std::string& url) {
    return Call(parent, "window.external.childWindow.createWindow(" + boost::json::serialize(boost::json::string(url)) +
                            ", '', 'Center')");
  };

  const std::string refused[] = {
      server.HttpUrl("/x.html"),
      server.HttpsUrl("/x.html"),
      "//127.0.0.1/x.html",
      "../outside.html",
      "../pages-other/x.html",
      "sub/../../outside.html",
      "%2e%2e/outside.html",
      "sub/%2E%2E/%2e%2e/outside.html",
      "..%2foutside.html",
      outside.string(),
      PageUriFromTarget(outside.string()),
      "link.html",
      "linked/x.html",
      "file://elsewhere.invalid" + (folder / "child.html").string(),
      "missing.html",
      "sub/",
      "data:text/html,<script>window.external.basewnd.show(300, 200)</script>",
      "javascript:window.external.basewnd.show(300, 200)",
      "about:blank",
  };
  for (const std::string& url : refused) {
    EXPECT_EQ(create(url), E(kInvalidArg)) << url;
    EXPECT_EQ(CWebBaseModelessDlg::OpenDialogs().size(), 1u) << url;
  }
  EXPECT_TRUE(server.Requests().empty());

  for (const std::string& url : {std::string("sub/inner.html"), childUri, (folder / "child.html").string()}) {
    ASSERT_EQ(create(url), V(true)) << url;
    auto child = WaitForChild(parent);
    ASSERT_NE(child, nullptr) << url;
    EXPECT_EQ(Eval(child->MainBrowser()->View(), "setTimeout(() => window.external.basewnd.close(), 0), 1"), 1);
    ASSERT_TRUE(RunMainLoopUntil([&] { return child->Window() == nullptr; }, 20000));
  }
}

TEST_F(WebDialogTest, AShownDialogLooksRight) {
  const auto page = folder / "look.html";
  TestSupport::WriteFile(page,
                         "<!DOCTYPE html><html><head><meta charset='utf-8'><style>"
                         "body{margin:0;font:16px sans-serif;background:#f4f6fa}"
                         "header{background:#1b4f9c;color:#fff;padding:14px 18px;font-size:20px}"
                         "main{padding:18px} button{padding:8px 22px;font-size:15px}</style></head><body>"
                         "<header>Quarro Omnikit Setup</header><main><p>Engine <b id=v></b>, DPI <b id=d></b>%</p>"
                         "<button>Install</button></main><script>"
                         "document.getElementById('v').textContent = window.external.engine.version();"
                         "document.getElementById('d').textContent = window.external.basewnd.getDPI();"
                         "window.external.basewnd.show(480, 260);</script></body></html>");
  auto dialog = CWebBaseModelessDlg::Make(page.wstring(), L"", kPositionCenter, 20000);
  ASSERT_TRUE(dialog->Create());
  ASSERT_TRUE(RunMainLoopUntil([&] { return dialog->IsShown() && gtk_widget_get_mapped(dialog->Window()); }, 20000));
  ASSERT_TRUE(TestSupport::WaitForScript(dialog->MainBrowser()->View(), "document.getElementById('d').textContent"));
  EXPECT_TRUE(TestSupport::SaveScreenshot(dialog->Window(), TestSupport::ScreenshotFolder() / "web_dialog.png"));
}

}  // namespace

namespace {

using namespace BrowserControl;

TEST(WindowWrapperTest, MinimisingIsForPlainTopLevelWindowsOnly) {
  auto make = [] {
    GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(w);
    return w;
  };
  GtkWidget* plain = make();
  GtkWidget* tool = make();
  gtk_window_set_type_hint(GTK_WINDOW(tool), GDK_WINDOW_TYPE_HINT_UTILITY);
  GtkWidget* owned = make();
  gtk_window_set_transient_for(GTK_WINDOW(owned), GTK_WINDOW(plain));
  GtkWidget* gone = make();
  CSingleWindowWrapper goneWrapper(gone);
  gtk_widget_destroy(gone);
  g_object_unref(gone);

  EXPECT_TRUE(CSingleWindowWrapper(plain).IsMinimizeSupported());
  EXPECT_FALSE(CSingleWindowWrapper(tool).IsMinimizeSupported());
  EXPECT_FALSE(CSingleWindowWrapper(owned).IsMinimizeSupported());
  EXPECT_FALSE(goneWrapper.IsMinimizeSupported());
  // A window that has gone away takes every request without effect.
  goneWrapper.Show();
  goneWrapper.ShowSized(100, 100);
  goneWrapper.Hide();
  goneWrapper.Minimize();
  goneWrapper.CloseWithExitCode(3);
  TestSupport::Drain();

  // Shown sized: that size, centred on the work area.
  CSingleWindowWrapper wrapper(plain);
  wrapper.ShowSized(200, 100);
  ASSERT_TRUE(RunMainLoopUntil([&] { return gtk_widget_get_mapped(plain); }, 20000));
  int x = 0, y = 0;
  gtk_window_get_position(GTK_WINDOW(plain), &x, &y);
  EXPECT_EQ(x, (TestSupport::kScreenWidth - 200) / 2);
  EXPECT_EQ(y, (TestSupport::kScreenHeight - TestSupport::kPanelHeight - 100) / 2);
  wrapper.Hide();
  EXPECT_FALSE(gtk_widget_get_visible(plain));
  for (GtkWidget* w : {owned, tool, plain}) {
    gtk_widget_destroy(w);
    g_object_unref(w);
  }
}

}  // namespace
