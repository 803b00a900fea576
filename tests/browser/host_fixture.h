#pragma once
// What the browser host tests share: a private X server and GTK for the whole program, a test
// window with one browser window; script evaluation and screenshots (web_view_support.h).
#include <filesystem>
#include <memory>
#include <string>

#include <boost/json.hpp>

#include "browser/browser_window.h"
#include "browser/js_objects.h"
#include "tests/browser/web_view_support.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;

namespace TestSupport {

// The test screen: 1280 x 800 with a panel along the bottom (the work area ends above it).
inline constexpr int kScreenWidth = 1280;
inline constexpr int kScreenHeight = 800;
inline constexpr int kPanelHeight = 40;

// The file the test program's xdg-open appends each URL it is given to.
std::filesystem::path OpenedUrlLog();

// The folder for screenshots (the test's build folder).
std::filesystem::path ScreenshotFolder();

// A shown top-level window (width x height at 0,0) holding one browser window on a page.
class CTestBrowser {
 public:
  CTestBrowser(std::shared_ptr<BrowserControl::JS::CJSObjects> objects, const std::filesystem::path& page,
               int width = 640, int height = 480,
               std::shared_ptr<BrowserControl::IContextMenuHandler> contextMenu = nullptr);
  ~CTestBrowser();

  // Waits for the document to complete; false after 20 s.
  bool WaitLoaded();
  WebKitWebView* View() const { return m_browser->View(); }
  GtkWidget* Window() const { return m_window; }
  BrowserControl::CBrowserWindow& Browser() { return *m_browser; }
  std::shared_ptr<BrowserControl::CDocumentWaiter> Waiter() const { return m_waiter; }

 private:
  GtkWidget* m_window;
  std::unique_ptr<BrowserControl::CBrowserWindow> m_browser;
  std::shared_ptr<BrowserControl::CDocumentWaiter> m_waiter;
};

// HTML of a test page with the helper `call(f)`: {"v": result} or {"e": the thrown number, or
// the message when it has none}.
std::string TestPageHtml(const std::string& body = "");

}  // namespace TestSupport
