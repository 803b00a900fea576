// The browser window's policy in a real view: keys the page never sees, no context menu,
// navigation kept to the page's folder, the bridge refused to any other page, the engine
// version in the user agent, document completion; and the pure rules behind them.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <vector>

#include "browser/browser_emulation.h"
#include "browser/main_thread.h"
#include "browser/page_address.h"
#include "browser/script_bridge.h"
#include "browser/tray_placement.h"
#include "browser/window_wrappers.h"
#include "tests/browser/host_fixture.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace BrowserControl;
using TestSupport::Eval;

constexpr int32_t kAccessDenied = static_cast<int32_t>(0x80070005);

class BrowserPolicyTest : public testing::Test {
 protected:
  std::unique_ptr<TestSupport::CTestBrowser> Load(const std::string& body,
                                                  std::shared_ptr<IContextMenuHandler> menu = nullptr) {
    page = dir.Path() / "site" / "index.html";
    TestSupport::WriteFile(page, TestSupport::TestPageHtml(body));
    auto browser = std::make_unique<TestSupport::CTestBrowser>(std::make_shared<JS::CJSObjectsSimpleContainer>(),
                                                               page, 640, 480, std::move(menu));
    EXPECT_TRUE(browser->WaitLoaded());
    return browser;
  }

  TestSupport::TempDir dir;
  std::filesystem::path page;
};

// Sends a key press and release to the window as the X server would.
void SendKey(GtkWidget* window, guint keyval, GdkModifierType state) {
  GdkDisplay* display = gtk_widget_get_display(window);
  GdkKeymapKey* keys = nullptr;
  gint count = 0;
  guint16 code = 0;
  if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count) && count > 0) {
    code = static_cast<guint16>(keys[0].keycode);
  }
  g_free(keys);
  for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->key.send_event = TRUE;
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = keyval;
    event->key.state = state;
    event->key.hardware_keycode = code;
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
    gtk_main_do_event(event);
    gdk_event_free(event);
  }
}

TEST_F(BrowserPolicyTest, BrowserKeysNeverReachThePage) {
  auto browser = Load("<script>window.keys = []; addEventListener('keydown', e => keys.push(e.key));</script>");
  gtk_window_present(GTK_WINDOW(browser->Window()));
  gtk_widget_grab_focus(GTK_WIDGET(browser->View()));
  ASSERT_TRUE(RunMainLoopUntil([&] { return gtk_window_has_toplevel_focus(GTK_WINDOW(browser->Window())); }, 20000));
  // A key the page may see, first: proves keys arrive at all.
  SendKey(browser->Window(), GDK_KEY_a, GdkModifierType(0));
  ASSERT_TRUE(TestSupport::WaitForScript(browser->View(), "keys.includes('a')"));
  struct {
    guint keyval;
    GdkModifierType state;
  } filtered[] = {
      {GDK_KEY_F5, GdkModifierType(0)},        {GDK_KEY_F5, GDK_CONTROL_MASK},
      {GDK_KEY_n, GDK_CONTROL_MASK},           {GDK_KEY_p, GDK_CONTROL_MASK},
      {GDK_KEY_o, GDK_CONTROL_MASK},           {GDK_KEY_l, GDK_CONTROL_MASK},
      {GDK_KEY_f, GDK_CONTROL_MASK},           {GDK_KEY_N, GdkModifierType(GDK_CONTROL_MASK | GDK_SHIFT_MASK)},
      {GDK_KEY_Left, GDK_MOD1_MASK},           {GDK_KEY_Right, GDK_MOD1_MASK},
      {GDK_KEY_F10, GdkModifierType(0)},       {GDK_KEY_Menu, GdkModifierType(0)},
      {GDK_KEY_Back, GdkModifierType(0)},      {GDK_KEY_Forward, GdkModifierType(0)},
      {GDK_KEY_Refresh, GdkModifierType(0)},   {GDK_KEY_HomePage, GdkModifierType(0)},
  };
  for (const auto& key : filtered) SendKey(browser->Window(), key.keyval, key.state);
  // Keys that are not browser keys pass: Left without Alt, Ctrl+A, b.
  SendKey(browser->Window(), GDK_KEY_Left, GdkModifierType(0));
  SendKey(browser->Window(), GDK_KEY_b, GdkModifierType(0));
  ASSERT_TRUE(TestSupport::WaitForScript(browser->View(), "keys.includes('b')"));
  EXPECT_EQ(Eval(browser->View(), "keys"), (boost::json::array{"a", "ArrowLeft", "b"}));
}

TEST(BrowserKeyFilterTest, TheKeysAndTheirModifiers) {
  const GdkModifierType none = GdkModifierType(0);
  struct {
    guint keyval;
    GdkModifierType state;
    bool filtered;
  } cases[] = {
      {GDK_KEY_F5, none, true},           {GDK_KEY_F5, GDK_SHIFT_MASK, true},   {GDK_KEY_F10, none, true},
      {GDK_KEY_F10, GDK_SHIFT_MASK, true}, {GDK_KEY_Menu, none, true},          {GDK_KEY_Search, none, true},
      {GDK_KEY_Stop, none, true},          {GDK_KEY_Favorites, none, true},     {GDK_KEY_Reload, none, true},
      {GDK_KEY_P, GDK_CONTROL_MASK, true}, {GDK_KEY_l, GDK_CONTROL_MASK, true}, {GDK_KEY_a, GDK_CONTROL_MASK, false},
      {GDK_KEY_p, none, false},            {GDK_KEY_p, GDK_MOD1_MASK, false},   {GDK_KEY_Left, GDK_MOD1_MASK, true},
      {GDK_KEY_KP_Right, GDK_MOD1_MASK, true}, {GDK_KEY_Left, GDK_CONTROL_MASK, false}, {GDK_KEY_Up, GDK_MOD1_MASK, false},
      {GDK_KEY_F4, GDK_MOD1_MASK, false},  {GDK_KEY_F6, none, false},           {GDK_KEY_Return, none, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsFilteredBrowserKey(c.keyval, c.state), c.filtered) << gdk_keyval_name(c.keyval) << " " << c.state;
  }
}

class CRecordingMenu : public IContextMenuHandler {
 public:
  void ShowContextMenu(int x, int y) override { points.emplace_back(x, y); }
  std::vector<std::pair<int, int>> points;
};

void RightClick(WebKitWebView* view, int x, int y) {
  GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(view));
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(view));
  int ox = 0, oy = 0;
  gdk_window_get_origin(window, &ox, &oy);
  for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    event->button.window = GDK_WINDOW(g_object_ref(window));
    event->button.send_event = TRUE;
    event->button.time = GDK_CURRENT_TIME;
    event->button.x = x;
    event->button.y = y;
    event->button.x_root = ox + x;
    event->button.y_root = oy + y;
    event->button.button = 3;
    gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(display)));
    gtk_main_do_event(event);
    gdk_event_free(event);
  }
}

int VisiblePopups() {
  int count = 0;
  GList* windows = gtk_window_list_toplevels();
  for (GList* w = windows; w; w = w->next) {
    GtkWindow* window = GTK_WINDOW(w->data);
    if (gtk_window_get_window_type(window) == GTK_WINDOW_POPUP && gtk_widget_get_visible(GTK_WIDGET(window))) ++count;
  }
  g_list_free(windows);
  return count;
}

TEST_F(BrowserPolicyTest, ARightClickShowsNoMenuButReachesTheHandler) {
  auto menu = std::make_shared<CRecordingMenu>();
  auto browser = Load("<div style='height:400px' oncontextmenu='window.menus = (window.menus || 0) + 1'>x</div>", menu);
  RightClick(browser->View(), 50, 60);
  ASSERT_TRUE(RunMainLoopUntil([&] { return !menu->points.empty(); }, 20000));
  int ox = 0, oy = 0;
  gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(browser->View())), &ox, &oy);
  EXPECT_EQ(menu->points.front(), std::make_pair(ox + 50, oy + 60));
  EXPECT_EQ(VisiblePopups(), 0);

  auto plain = Load("<div style='height:400px' oncontextmenu='window.menus = 1'>no handler</div>");
  RightClick(plain->View(), 40, 40);
  // The page's own contextmenu event comes first; the view's menu request reaches this process
  // before the answer to that script.
  EXPECT_TRUE(TestSupport::WaitForScript(plain->View(), "window.menus === 1"));
  EXPECT_EQ(VisiblePopups(), 0);
}

// Records the addresses of documents the view commits.
struct CommitLog {
  static void OnLoad(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    auto* log = static_cast<CommitLog*>(data);
    if (event == WEBKIT_LOAD_COMMITTED) log->committed.push_back(webkit_web_view_get_uri(view));
    if (event == WEBKIT_LOAD_FINISHED) ++log->finished;
  }
  std::vector<std::string> committed;
  int finished = 0;
};

TEST_F(BrowserPolicyTest, NavigationStaysInsideThePagesFolder) {
  TestSupport::WriteFile(dir.Path() / "outside.html", "<p>outside</p>");
  TestSupport::WriteFile(dir.Path() / "site" / "sub" / "inside.html", "<p>inside</p>");
  auto browser = Load("<a id=out href='../outside.html'>out</a><a id=web href='http://127.0.0.1:9/'>web</a>"
                      "<a id=blank target=_blank href='sub/inside.html'>blank</a>");
  CommitLog log;
  g_signal_connect(browser->View(), "load-changed", G_CALLBACK(CommitLog::OnLoad), &log);
  EXPECT_EQ(Eval(browser->View(), "document.getElementById('out').click(); document.getElementById('web').click();"
                                  "document.getElementById('blank').click(); window.open('sub/inside.html') === null"),
            true);
  Eval(browser->View(), "location.href = 'file:///etc/hostname'; 1");
  Eval(browser->View(), "location.href = 'data:text/html,<p>data</p>'; 1");
  // Navigations are decided in order: once this allowed one has finished, the others were refused.
  Eval(browser->View(), "location.href = 'sub/inside.html?x#y'; 1");
  ASSERT_TRUE(RunMainLoopUntil([&] { return log.finished > 0; }, 20000));
  ASSERT_EQ(log.committed.size(), 1u);
  EXPECT_NE(log.committed[0].find("/site/sub/inside.html?x"), std::string::npos);
  g_signal_handlers_disconnect_by_data(browser->View(), &log);
  GList* windows = gtk_window_list_toplevels();
  EXPECT_EQ(g_list_length(windows), 1u) << "no window was opened";
  g_list_free(windows);
}

TEST_F(BrowserPolicyTest, AnotherPageInTheViewCannotUseTheBridge) {
  auto browser = Load("<p>ours</p>");
  const std::string token = browser->Browser().Bridge()->Token();
  // Should the policy ever let another page in, that page has neither window.external nor the
  // bridge's ear, even with the token.
  const guint signal = g_signal_lookup("decide-policy", WEBKIT_TYPE_WEB_VIEW);
  g_signal_handlers_block_matched(browser->View(), GSignalMatchType(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_DATA), signal, 0,
                                  nullptr, nullptr, &browser->Browser());
  g_signal_connect(browser->View(), "decide-policy",
                   G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* d, WebKitPolicyDecisionType, gpointer) -> gboolean {
                     webkit_policy_decision_use(d);
                     return TRUE;
                   }),
                   nullptr);
  const auto other = dir.Path() / "elsewhere" / "other.html";
  TestSupport::WriteFile(other, TestSupport::TestPageHtml());
  browser->Waiter()->Reset();
  const std::string uri = PageUriFromTarget(other.string());
  webkit_web_view_load_uri(browser->View(), uri.c_str());
  ASSERT_TRUE(browser->WaitLoaded());
  ASSERT_EQ(std::string(webkit_web_view_get_uri(browser->View())), uri);
  EXPECT_EQ(Eval(browser->View(), "typeof window.external"), "undefined");
  const uint64_t refused = browser->Browser().Bridge()->RefusedRequests();
  EXPECT_EQ(Eval(browser->View(),
                 "(() => { const x = new XMLHttpRequest(); x.open('POST', 'omk-bridge://call/', false);"
                 " x.send(JSON.stringify({t: '" + token + "', g: 'd', op: 'n', n: 'probe'}));"
                 " return [x.status, JSON.parse(x.responseText).e]; })()"),
            (boost::json::array{403, kAccessDenied}));
  EXPECT_EQ(browser->Browser().Bridge()->RefusedRequests(), refused + 1);
}

TEST_F(BrowserPolicyTest, OneViewsTokenIsNoGoodInAnother) {
  auto first = Load("<p>first</p>");
  auto second = Load("<p>second</p>");
  const std::string token = first->Browser().Bridge()->Token();
  EXPECT_EQ(Eval(second->View(),
                 "(() => { const x = new XMLHttpRequest(); x.open('POST', 'omk-bridge://call/', false);"
                 " x.send(JSON.stringify({t: '" + token + "', g: 'd', op: 'n', n: 'x'})); return x.status; })()"),
            403);
}

TEST_F(BrowserPolicyTest, TheUserAgentNamesEngineElevenExactlyWhileTheEmulationValueIsSet) {
  const std::wstring name = GetBrowserEmulationValueName();
  ASSERT_FALSE(name.empty());
  DeleteBrowserEmulation(name);
  {
    auto browser = Load("<p>ua</p>");
    EXPECT_EQ(Eval(browser->View(), "navigator.userAgent.includes('rv:11.0')"), false);
  }
  ASSERT_TRUE(SetBrowserEmulation(name, kBrowserEmulationIE11));
  {
    auto browser = Load("<p>ua</p>");
    EXPECT_EQ(Eval(browser->View(), "[navigator.userAgent.includes('rv:11.0'), navigator.appVersion.includes('rv:11.0')]"),
              (boost::json::array{true, true}));
  }
  EXPECT_TRUE(DeleteBrowserEmulation(name));
}

TEST_F(BrowserPolicyTest, ADocumentCompletesButAboutBlankDoesNot) {
  auto browser = Load("<p>doc</p>");
  CommitLog log;
  g_signal_connect(browser->View(), "load-changed", G_CALLBACK(CommitLog::OnLoad), &log);
  browser->Waiter()->Reset();
  // The view's own load of about:blank is allowed but never reported as a document.
  webkit_web_view_load_uri(browser->View(), "about:blank");
  ASSERT_TRUE(RunMainLoopUntil([&] { return log.finished > 0; }, 20000));
  EXPECT_FALSE(browser->Waiter()->IsSignalled());
  webkit_web_view_load_uri(browser->View(), PageUriFromTarget(page.string()).c_str());
  EXPECT_TRUE(browser->WaitLoaded());
  g_signal_handlers_disconnect_by_data(browser->View(), &log);
}

TEST_F(BrowserPolicyTest, TheViewKeepsNothingOnDiskDrawsInSoftwareAndShowsImages) {
  // An image beside the page, 3 x 2 pixels.
  std::filesystem::create_directories(dir.Path() / "site");
  GdkPixbuf* dot = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 3, 2);
  gdk_pixbuf_fill(dot, 0x336699ff);
  ASSERT_TRUE(gdk_pixbuf_save(dot, (dir.Path() / "site" / "dot.png").c_str(), "png", nullptr, nullptr));
  g_object_unref(dot);
  auto browser = Load("<img id=dot src='dot.png'>");
  WebKitWebView* view = browser->View();
  EXPECT_TRUE(webkit_web_view_is_ephemeral(view));
  EXPECT_TRUE(webkit_web_context_is_ephemeral(webkit_web_view_get_context(view)));
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  EXPECT_EQ(webkit_settings_get_hardware_acceleration_policy(settings), WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  EXPECT_FALSE(webkit_settings_get_enable_developer_extras(settings));
  EXPECT_TRUE(TestSupport::WaitForScript(view, "document.getElementById('dot').naturalWidth === 3"));
}

TEST(PageAddressTest, WhatLiesInsideTheFolder) {
  const std::string folder = PageFolderOf("file:///tmp/omk-1/index.html");
  EXPECT_EQ(folder, "file:///tmp/omk-1/");
  EXPECT_EQ(PageFolderOf("http://Host:80/a/b/page.html?q=1#f"), "http://host/a/b/");
  EXPECT_EQ(PageFolderOf("http://host:8080/p"), "http://host:8080/");
  EXPECT_EQ(PageFolderOf("about:blank"), "");
  struct {
    const char* uri;
    bool inside;
  } cases[] = {
      {"file:///tmp/omk-1/index.html", true},
      {"file:///tmp/omk-1/index/rc/bg.png?x#y", true},
      {"file://localhost/tmp/omk-1/index.html", true},
      {"FILE:///tmp/omk-1/a%20b.html", true},
      {"file:///tmp/omk-1", false},
      {"file:///tmp/omk-12/index.html", false},
      {"file:///tmp/omk-1/../etc/passwd", false},
      {"file:///tmp/omk-1/%2e%2e/etc/passwd", false},
      {"file:///tmp/omk-1/a%2fb", false},
      {"file:///tmp/omk-1/a%5cb", false},
      {"file:///tmp/omk-1/./x", true},
      {"file:///tmp/omk-1/%2e/x", true},
      {"file://evil/tmp/omk-1/index.html", false},
      {"http:///tmp/omk-1/index.html", false},
      {"javascript:alert(1)", false},
      {"data:text/html,x", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsInsideFolder(folder, c.uri), c.inside) << c.uri;
  EXPECT_TRUE(IsInsideFolder("http://host:8080/a/", "http://HOST:8080/a/b"));
  EXPECT_FALSE(IsInsideFolder("http://host:8080/a/", "http://host:8081/a/b"));
  EXPECT_TRUE(IsInsideFolder("http://host/a/", "http://host:80/a/b"));
  EXPECT_FALSE(IsInsideFolder("http://host/a/", "https://host/a/b"));
  EXPECT_FALSE(IsInsideFolder("", "file:///x"));
}

TEST(PageAddressTest, TargetsPatternsAndRelativeAddresses) {
  EXPECT_EQ(PageUriFromTarget("/tmp/a b/index.html"), "file:///tmp/a%20b/index.html");
  EXPECT_EQ(PageUriFromTarget("http://h/x"), "http://h/x");
  EXPECT_EQ(PageUriFromTarget("index.html"), "");
  EXPECT_EQ(PageUriFromTarget(""), "");
  EXPECT_EQ(FolderUrlPattern("file:///tmp/omk-1/"), "file:///tmp/omk-1/*");
  EXPECT_EQ(FolderUrlPattern("file:///tmp/a%20b/"), "");
  EXPECT_EQ(ResolvePageUri("file:///tmp/p/index.html", "child.html?x"), "file:///tmp/p/child.html?x");
  EXPECT_EQ(ResolvePageUri("file:///tmp/p/index.html", "/tmp/q/c.html"), "file:///tmp/q/c.html");
  EXPECT_EQ(ResolvePageUri("", "child.html"), "");
  // Pages for windows of their own come only from a local page's folder.
  EXPECT_EQ(LocalPageInsideFolderOf("http://127.0.0.1/p/index.html", "child.html"), "");
  EXPECT_EQ(LocalPageInsideFolderOf("", "/tmp/child.html"), "");
}

TEST(TrayPlacementTest, BesideTheTaskbarOrInTheWorkAreasCorner) {
  const ScreenRect screen{0, 0, 1920, 1080};
  struct {
    const char* name;
    ScreenRect taskbar, work;
    ScreenPoint at;
  } cases[] = {
      {"no taskbar", {}, {0, 0, 1920, 1080}, {1920 - 300, 1080 - 200}},
      {"taskbar outside the work area", {0, 1040, 1920, 1080}, {0, 0, 1920, 1040}, {1620, 840}},
      {"bottom, over the work area", {0, 1040, 1920, 1080}, screen, {1920 - 300, 1040 - 200}},
      {"top, over the work area", {0, 0, 1920, 40}, screen, {1920 - 300, 40}},
      {"right, over the work area", {1860, 0, 1920, 1080}, screen, {1860 - 300, 1080 - 200}},
      {"left, over the work area", {0, 0, 60, 1080}, screen, {60, 1080 - 200}},
  };
  for (const auto& c : cases) EXPECT_EQ(TrayPosition(c.taskbar, c.work, 300, 200), c.at) << c.name;
  EXPECT_TRUE(Intersects({0, 0, 10, 10}, {5, 5, 20, 20}));
  EXPECT_FALSE(Intersects({0, 0, 10, 10}, {10, 0, 20, 10})) << "a shared edge is no overlap";
}

TEST(TrayPlacementTest, TheTaskbarIsWhatTheWorkAreaLeavesOut) {
  const ScreenRect m{0, 0, 1280, 800};
  EXPECT_TRUE(TaskbarFromWorkArea(m, m).IsEmpty());
  EXPECT_EQ(TaskbarFromWorkArea(m, {0, 0, 1280, 760}), (ScreenRect{0, 760, 1280, 800}));
  EXPECT_EQ(TaskbarFromWorkArea(m, {0, 32, 1280, 800}), (ScreenRect{0, 0, 1280, 32}));
  EXPECT_EQ(TaskbarFromWorkArea(m, {48, 0, 1280, 800}), (ScreenRect{0, 0, 48, 800}));
  EXPECT_EQ(TaskbarFromWorkArea(m, {0, 0, 1230, 800}), (ScreenRect{1230, 0, 1280, 800}));
  EXPECT_EQ(TaskbarFromWorkArea(m, {0, 24, 1280, 752}), (ScreenRect{0, 752, 1280, 800})) << "the larger panel";
}

TEST(ScreenDpiTest, ScaleTimesResolution) {
  EXPECT_EQ(DpiFromScale(1, 96), 96);
  EXPECT_EQ(DpiFromScale(1, -1), 96);
  EXPECT_EQ(DpiFromScale(1, 120), 120);
  EXPECT_EQ(DpiFromScale(2, 96), 192);
  EXPECT_EQ(DpiFromScale(0, 144.5), 144);
  EXPECT_EQ(ScreenDpi(), 96) << "the test server at its default resolution";
}

}  // namespace
