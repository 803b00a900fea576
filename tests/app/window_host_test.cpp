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
#include "tests/support/temp_dir.h"

namespace CustomInstaller {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct Log : IStartupAnalytics, IInstallGraphFactory {
  std::vector<std::string> entries;
  void SendEvent(const std::wstring& action, const std::wstring&, const std::wstring&, int64_t) override {
    entries.push_back("event " + Narrow(action));
  }
  void SendException(const std::wstring& context, const std::wstring& description, int32_t code,
                     int32_t severity) override {
    entries.push_back("exception " + Narrow(context) + "/" + Narrow(description) + "/" + std::to_string(code) + "/" +
                      std::to_string(severity));
  }
  void SetAutoSessionControl(bool) override {}

  struct Manager : Core::IInstallManager {
    Log& log;
    std::string name;
    Manager(Log& l, std::string n) : log(l), name(std::move(n)) {}
    bool Start(std::shared_ptr<Core::JS::IInstallProgressJSCallback> progress) override {
      log.entries.push_back(name + " start");
      if (progress) progress->OnFinish();
      return true;
    }
    bool Cancel() override { return false; }
    void Stop() override {}
  };
  std::shared_ptr<Core::IInstallManager> Build(EInstallGraph kind, const std::shared_ptr<IGASessionHandler>&,
                                               const InstallerOptions&, const InstallationDetails&) override {
    const char* names[] = {"windowed", "fallback", "silent"};
    entries.push_back(std::string("build ") + names[static_cast<int>(kind)]);
    return std::make_shared<Manager>(*this, names[static_cast<int>(kind)]);
  }
};

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

  auto log = std::make_shared<Log>();
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
