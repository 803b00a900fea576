#include "tests/browser/host_fixture.h"

#include <memory>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>

#include "browser/glib_page_thread.h"
#include "browser/main_thread.h"
#include "browser/web_dialog.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"


namespace TestSupport {

namespace {
std::filesystem::path g_sandbox;
}

std::filesystem::path OpenedUrlLog() { return g_sandbox / "opened-urls.txt"; }

std::filesystem::path ScreenshotFolder() {
  return OMK_HOST_TEST_OUTPUT;
}

CTestBrowser::CTestBrowser(std::shared_ptr<BrowserControl::JS::CJSObjects> objects, const std::filesystem::path& page,
                           int width, int height, std::shared_ptr<BrowserControl::IContextMenuHandler> contextMenu)
    : m_window(gtk_window_new(GTK_WINDOW_TOPLEVEL)),
      m_browser(std::make_unique<BrowserControl::CBrowserWindow>(std::move(objects), page.wstring(),
                                                                 std::move(contextMenu))),
      m_waiter(std::make_shared<BrowserControl::CDocumentWaiter>()) {
  g_object_ref_sink(m_window);
  gtk_window_set_default_size(GTK_WINDOW(m_window), width, height);
  gtk_window_move(GTK_WINDOW(m_window), 0, 0);
  m_browser->SetDocumentWaiter(m_waiter);
  EXPECT_TRUE(m_browser->Create(m_window));
  m_browser->Show();
  gtk_widget_show(m_window);
}

CTestBrowser::~CTestBrowser() {
  m_browser.reset();
  gtk_widget_destroy(m_window);
  g_object_unref(m_window);
}

bool CTestBrowser::WaitLoaded() {
  return BrowserControl::RunMainLoopUntil([this] { return m_waiter->IsSignalled(); }, 20000);
}

std::string TestPageHtml(const std::string& body) {
  return "<!DOCTYPE html><html><head><meta charset='utf-8'><script>\n"
         "function call(f) { try { return {v: f()}; } catch (e) {"
         " return {e: e.number === undefined ? String(e) : e.number}; } }\n"
         "</script></head><body>" +
         body + "</body></html>";
}

}  // namespace TestSupport

namespace {

// Tells GDK, as a window manager would, that a 40-pixel panel runs along the bottom of the
// screen, so the work area differs from the monitor. The connection stays open (the check
// window lives with it).
Display* g_panelConnection = nullptr;

bool AnnounceBottomPanel(const std::string& display) {
  Display* x = g_panelConnection = XOpenDisplay(display.c_str());
  if (!x) return false;
  const Window root = DefaultRootWindow(x);
  const Window check = XCreateSimpleWindow(x, root, 0, 0, 1, 1, 0, 0, 0);
  const Atom checkAtom = XInternAtom(x, "_NET_SUPPORTING_WM_CHECK", False);
  const Atom supported = XInternAtom(x, "_NET_SUPPORTED", False);
  const Atom workArea = XInternAtom(x, "_NET_WORKAREA", False);
  XChangeProperty(x, root, checkAtom, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&check), 1);
  XChangeProperty(x, check, checkAtom, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&check), 1);
  long atoms[] = {static_cast<long>(workArea)};
  XChangeProperty(x, root, supported, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(atoms), 1);
  const int width = DisplayWidth(x, DefaultScreen(x)), height = DisplayHeight(x, DefaultScreen(x));
  long area[] = {0, 0, width, height - TestSupport::kPanelHeight};
  XChangeProperty(x, root, workArea, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(area), 4);
  XSync(x, False);
  return true;
}

}  // namespace

// One X server and GTK for the whole program; listing the tests needs neither.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing = listing || std::strstr(argv[i], "gtest_list_tests");
  if (listing || testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();

  std::unique_ptr<TestSupport::Xvfb> xvfb;
  try {
    xvfb = std::make_unique<TestSupport::Xvfb>(1280, 800);
  } catch (const std::exception& e) {
    fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  const TestSupport::Xvfb& server = *xvfb;
  setenv("DISPLAY", server.Display().c_str(), 1);
  if (!AnnounceBottomPanel(server.Display())) {
    fprintf(stderr, "cannot open display %s\n", server.Display().c_str());
    return 1;
  }
  setenv("GDK_BACKEND", "x11", 1);
  unsetenv("WAYLAND_DISPLAY");
  setenv("NO_AT_BRIDGE", "1", 1);
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "no display %s\n", server.Display().c_str());
    return 1;
  }
  BrowserControl::CGlibPageThread::Main();

  // The program's own registry, and an xdg-open that only notes what it was asked to open.
  TestSupport::TempDir sandbox;
  TestSupport::g_sandbox = sandbox.Path();
  std::filesystem::create_directories(sandbox.Path() / "bin");
  setenv("OMK_REGISTRY_ROOT", (sandbox.Path() / "registry").c_str(), 1);
  const std::filesystem::path opener = sandbox.Path() / "bin" / "xdg-open";
  TestSupport::WriteFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + TestSupport::OpenedUrlLog().string() + "'\n");
  std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
  const char* path = std::getenv("PATH");
  setenv("PATH", ((sandbox.Path() / "bin").string() + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
  const int result = RUN_ALL_TESTS();
  BrowserControl::CWebBaseModelessDlg::CloseAll();
  XCloseDisplay(g_panelConnection);
  return result;
}
