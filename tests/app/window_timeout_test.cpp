// The start-up with the real installer window and page under a private X server: a language
// without a translation keeps the page from showing the window, which ends with 32000 after
// the show time-out; the start-up reports the "timeout" hit and runs the window-less fallback.
// With its translation the page shows the window and its end code ends the run.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/installers.h"
#include "app/startup.h"
#include "app/window_host.h"
#include "browser/browser_emulation.h"
#include "browser/main_thread.h"
#include "gui/browser_emulation_setting.h"
#include "tests/app/startup_log.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"

namespace CustomInstaller {
namespace {

TEST(WindowTimeoutTest, ThePageShowsTheWindowOnlyWithItsTranslationElseTheFallbackRuns) {
  TestSupport::Xvfb xvfb;
  setenv("DISPLAY", xvfb.Display().c_str(), 1);
  setenv("GDK_BACKEND", "x11", 1);
  unsetenv("WAYLAND_DISPLAY");
  setenv("NO_AT_BRIDGE", "1", 1);
  TestSupport::TempDir temp, registry;
  setenv("TMPDIR", temp.Path().c_str(), 1);
  setenv("OMK_REGISTRY_ROOT", registry.Path().c_str(), 1);
  // As while the program runs: the page's engine check passes, only the language fails.
  Gui::CBrowserEmulation().Set(BrowserControl::GetBrowserEmulationValueName());

  auto log = std::make_shared<StartupLog>();
  StartupWiring wiring;
  wiring.analytics = log;
  wiring.graphs = log;
  wiring.window = std::make_shared<CInstallerWindowHost>(1500);
  std::ostringstream notices;
  EXPECT_EQ(RunSetup(L"/LANG=xx", wiring, notices), 0);
  EXPECT_EQ(log->entries, (std::vector<std::string>{"event InstallerStartW", "build windowed",
                                                    "exception timeout/IJ/1/2", "build fallback", "fallback start",
                                                    "event InstallerFinishW"}));
  EXPECT_FALSE(std::filesystem::exists(temp.Path() / "index.html"));
  EXPECT_FALSE(std::filesystem::exists(temp.Path() / "index"));

  // The same page with its translation: once it has shown the window, it ends it with 7.
  log->entries.clear();
  wiring.window = std::make_shared<CInstallerWindowHost>(60000);
  bool shownWithTitle = false;
  BrowserControl::PostToMainThread([&] {
    GtkWindow* window = nullptr;
    BrowserControl::RunMainLoopUntil(
        [&] {
          GList* all = gtk_window_list_toplevels();
          for (GList* i = all; i; i = i->next) {
            if (gtk_widget_get_mapped(GTK_WIDGET(i->data))) window = GTK_WINDOW(i->data);
          }
          g_list_free(all);
          return window != nullptr;
        },
        30000);
    if (!window) return;
    shownWithTitle = std::string(gtk_window_get_title(window)) == "Quarro Omnikit Setup";
    GtkWidget* layer = gtk_bin_get_child(GTK_BIN(window));
    GtkWidget* view = layer ? gtk_bin_get_child(GTK_BIN(layer)) : nullptr;
    if (view && WEBKIT_IS_WEB_VIEW(view)) {
      const char* script = "window.external.basewnd.closeWithExitCode(7)";
      webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view), script, -1, nullptr, nullptr, nullptr, nullptr,
                                          nullptr);
    }
  });
  EXPECT_EQ(RunSetup(L"/LANG=en", wiring, notices), 0);
  EXPECT_TRUE(shownWithTitle);
  EXPECT_EQ(log->entries, (std::vector<std::string>{"event InstallerStartW", "build windowed",
                                                    "event InstallerFinishW"}));
  EXPECT_FALSE(std::filesystem::exists(temp.Path() / "index"));

  // Without page files (none could be written) there is nothing to show: at once, never shown.
  const InstallerOptions options(L"");
  EXPECT_EQ(CInstallerWindowHost(3600 * 1000).RunModal(L"", nullptr, InstallationDetails(options)), kExitNotShown);
}

}  // namespace
}  // namespace CustomInstaller
