// The start-up with the real installer window on a machine without a display: the window
// counts as never shown at once, the time-out is reported and the window-less fallback runs.
#include "app/window_host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/installers.h"
#include "app/startup.h"
#include "platform/text.h"
#include "tests/app/startup_log.h"
#include "tests/support/temp_dir.h"

namespace CustomInstaller {
namespace {

TEST(WindowHostTest, WithoutADisplayTheWindowCountsAsNeverShownAndTheFallbackRuns) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  TestSupport::TempDir temp;
  setenv("TMPDIR", temp.Path().c_str(), 1);

  // A show time-out far beyond the test's own: only an answer at once lets the test end.
  CInstallerWindowHost host(3600 * 1000);
  CInstallerPageFiles files;
  EXPECT_EQ(host.ExtractPageResources(files), Platform::Utf8ToWide((temp.Path() / "index.html").string()));
  EXPECT_TRUE(std::filesystem::exists(temp.Path() / "index/js/installer.js"));
  host.RemovePageFiles(files);
  EXPECT_FALSE(std::filesystem::exists(temp.Path() / "index"));
  const InstallerOptions options(L"");
  EXPECT_EQ(host.RunModal(files.indexHtml, nullptr, InstallationDetails(options)), kExitNotShown);

  auto log = std::make_shared<StartupLog>();
  StartupWiring wiring;
  wiring.analytics = log;
  wiring.graphs = log;
  wiring.window = std::make_shared<CInstallerWindowHost>(3600 * 1000);
  std::ostringstream notices;
  EXPECT_EQ(RunSetup(L"/BUILD_ID=3", wiring, notices), 0);
  EXPECT_EQ(log->entries, (std::vector<std::string>{"event InstallerStartW", "build windowed",
                                                    "exception timeout/IJ/1/2", "build fallback", "fallback start",
                                                    "event InstallerFinishW"}));
  // The page files are gone again.
  EXPECT_FALSE(std::filesystem::exists(temp.Path() / "index.html"));
  EXPECT_FALSE(std::filesystem::exists(temp.Path() / "index"));
}

}  // namespace
}  // namespace CustomInstaller
