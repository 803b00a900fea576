#pragma once
// The installer window: a frameless modal web dialog whose whole area is the installer page.
// It stays hidden until the page shows it, ends with 32000 when the page has not done so
// within the show time-out, asks the page (instead of closing) when the user closes it, and
// lets the user move it by the page's title strip.
#include <cstdint>
#include <memory>
#include <string>

#include "browser/open_in_default_browser.h"
#include "browser/web_dialog.h"
#include "core/install_manager.h"
#include "core/installer_options.h"

typedef struct _GdkEventButton GdkEventButton;

namespace CustomInstaller::Gui {

class CWindowPageThread;

// Height of the title strip that moves the window: 83 x scale, truncated.
int32_t DragStripHeight(float scale);
// True when a press at client point (x, y) of a window `width` pixels wide starts a window
// move: inside the title strip, outside the window buttons' area (75 to 15 pixels from the
// right edge, 15 to 45 from the top, times the scale).
bool StartsWindowMove(double x, double y, int32_t width, float scale);

// The placeholders the page's links are filled with: buildid, osource, trackid, version
// (the product version when the details carry none), langid, product, uid (empty).
BrowserControl::PresetParams PresetUrlParams(InstallationDetails details);

class CInstallerWindow : public BrowserControl::CWebBaseModalDlg {
 public:
  // `pageUrl`: the extracted "index.html". The window holds the install manager weakly.
  CInstallerWindow(std::wstring pageUrl, const std::shared_ptr<Core::IInstallManager>& installManager,
                   InstallationDetails details, uint32_t showTimeoutMs = BrowserControl::kShowTimeoutMs);
  ~CInstallerWindow() override;

  // Opens the default display for the windows (once; later calls give the first answer).
  // False when there is none: no window can be shown. Main thread.
  static bool OpenDisplay();

  // Runs the dialog (DoModal) and returns its end code. The page's calls made from other
  // threads are served while it runs; once it has ended, calls still waiting for the page
  // are dropped, so the installation's workers can be stopped from this thread.
  int32_t Run(GtkWidget* parent = nullptr);

  // Screen DPI / 96, taken at construction.
  float Scale() const { return m_scale; }

 protected:
  void OnInitDialog() override;
  void RegisterJSObjects(BrowserControl::JS::CJSObjects& container) override;
  // The user's close request goes to the page's "closeDialogRequested".
  void OnClose(int32_t code) override;
  // Lets the window manager move the window from a press of `button` at a root position.
  virtual void StartWindowMove(int32_t button, int32_t rootX, int32_t rootY, uint32_t time);

 private:
  static int OnButtonPress(GtkWidget* widget, GdkEventButton* event, void* data);
  // Stops watching the web view's presses.
  void ForgetView();

  std::wstring m_pageUrl;
  std::weak_ptr<Core::IInstallManager> m_installManager;
  InstallationDetails m_details;
  float m_scale = 1.0f;
  std::shared_ptr<CWindowPageThread> m_pageThread;
  GtkWidget* m_view = nullptr;  // the web view whose presses are watched (null once finalised)
};

}  // namespace CustomInstaller::Gui
