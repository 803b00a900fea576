#include "core/installer_launcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "core/installer_file.h"
#include "metrics/app_metrics.h"
#include "metrics/hits.h"
#include "platform/text.h"
#include "tests/core/fakes.h"
#include "tests/metrics/fakes.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace CustomInstaller::Core {
namespace {

namespace fs = std::filesystem;
using TestSupport::CFakeClock;
using Testing::CRecordingProgress;
using TestSupport::Event;

// Answers the given statuses in turn, repeating the last; status 3 leaves `error` in errno.
class CFakeInstaller final : public IInstaller {
 public:
  CFakeInstaller(std::wstring path, std::vector<int32_t> statuses, int error = 0, bool throws = false)
      : m_path(std::move(path)), m_statuses(std::move(statuses)), m_error(error), m_throws(throws) {}
  std::wstring GetPath() override { return m_path; }
  int32_t GetStatus() override {
    const size_t call = m_calls++;
    errno = m_error;
    if (m_throws) throw std::runtime_error("unreadable");
    return m_statuses[std::min(call, m_statuses.size() - 1)];
  }
  bool Save() override { return true; }
  size_t Calls() const { return m_calls; }

 private:
  std::wstring m_path;
  std::vector<int32_t> m_statuses;
  int m_error;
  bool m_throws;
  std::atomic<size_t> m_calls{0};
};

class CRecordingOutcome final : public IInstallerLauncherCallback {
 public:
  void OnLaunchSucceeded() override { Record("succeeded"); }
  void OnLaunchFailed(uint32_t flag) override { Record("failed " + std::to_string(flag)); }
  void OnLaunchCancelled() override { Record("cancelled"); }
  // The outcomes so far, after waiting for the first.
  std::vector<std::string> Wait() {
    EXPECT_TRUE(m_done.Wait());
    std::lock_guard lock(m_mutex);
    return m_outcomes;
  }
  std::vector<std::string> Outcomes() {
    std::lock_guard lock(m_mutex);
    return m_outcomes;
  }

 private:
  void Record(std::string outcome) {
    {
      std::lock_guard lock(m_mutex);
      m_outcomes.push_back(std::move(outcome));
    }
    m_done.Set();
  }
  std::mutex m_mutex;
  std::vector<std::string> m_outcomes;
  Event m_done;
};

class CFixedCommandLine final : public INSISCommandLine {
 public:
  explicit CFixedCommandLine(std::wstring text) : m_text(std::move(text)) {}
  std::wstring Build() override { return m_text; }

 private:
  std::wstring m_text;
};

// "exd=IN7_6.1&..." becomes "exd=IN7_OS&...": the system version part ("M.m", maybe "L").
std::string WithoutSystemVersion(std::string hit) {
  const size_t exd = hit.find("exd=");
  if (exd == std::string::npos) return hit;
  const size_t end = hit.find('&', exd);
  std::string value = hit.substr(exd, end - exd);
  for (size_t pos = value.find('_'); pos != std::string::npos; pos = value.find('_', pos + 1)) {
    size_t stop = pos + 1;
    while (stop < value.size() && (std::isdigit(static_cast<unsigned char>(value[stop])) || value[stop] == '.' ||
                                   value[stop] == 'L'))
      ++stop;
    const std::string part = value.substr(pos + 1, stop - pos - 1);
    if (part.find('.') != std::string::npos && (stop == value.size() || value[stop] == '_')) {
      value.replace(pos + 1, stop - pos - 1, "OS");
      break;
    }
  }
  return hit.substr(0, exd) + value + (end == std::string::npos ? "" : hit.substr(end));
}

class InstallerLauncherTest : public testing::Test {
 protected:
  void SetUp() override {
    AppMetrics::SetSessionOpen(false);
    const AppMetrics::CGoogleAnalyticsConfig config("UA-1-1", "0123456789abcdef0123456789abcdef", "3.10.1.2",
                                                    "Quarro Omnikit", "en", "OMK", {true, 6, 1, true});
    ASSERT_TRUE(AppMetrics::CreateGoogleAnalyticsMetrics(
        config, {std::make_shared<AppMetrics::Testing::CFakeClock>(), m_poster}));
    AppMetrics::SetEnabled(true);
    AppMetrics::SetAutoSessionControl(false);
    fs::create_directories(m_folder);
  }
  void TearDown() override { AppMetrics::DestroyGoogleAnalyticsMetrics(); }

  // A product installer stand-in in a folder whose name holds a blank: it records its program
  // path and arguments, one a line, beside itself and exits with `exitCode`.
  fs::path WriteInstaller(int exitCode) {
    const fs::path path = m_folder / "setup 1.tmp";
    std::ofstream(path) << "#!/bin/sh\n"
                           "out=\"$(dirname \"$0\")/argv.txt\"\n"
                           "printf '%s\\n' \"$0\" > \"$out\"\n"
                           "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$out\"; done\n"
                           "exit "
                        << exitCode << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }
  std::vector<std::string> RecordedArgv() {
    std::ifstream in(m_folder / "argv.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // The analytics hits sent, from their type on, with the system version written "OS".
  std::vector<std::string> Hits() {
    EXPECT_TRUE(AppMetrics::WaitForPendingHits(60));
    std::vector<std::string> hits;
    for (const auto& posted : m_poster->Posted()) {
      const std::string hit = posted.body.substr(posted.body.find("&t=") + 1);
      hits.push_back(WithoutSystemVersion(hit));
    }
    return hits;
  }

  struct Run {
    std::vector<std::string> outcomes;
    std::vector<std::string> hits;
  };
  // Launches, waits for the outcome and for the worker to end.
  Run LaunchAndWait(CInstallerLauncher& launcher, std::shared_ptr<IInstaller> installer) {
    auto outcome = std::make_shared<CRecordingOutcome>();
    EXPECT_TRUE(launcher.Launch(std::move(installer), outcome, m_page));
    outcome->Wait();
    launcher.Stop();
    return {outcome->Outcomes(), Hits()};
  }

  // The progress reports hold at their first pause, so only the launch loop's time moves.
  LaunchSettings Settings(std::shared_ptr<CFakeClock> clock) {
    return {3000, 120000, std::move(clock), std::make_shared<CFakeClock>(1)};
  }

  TestSupport::TempDir m_dir;
  fs::path m_folder = m_dir.Path() / "dir with space";
  std::shared_ptr<AppMetrics::Testing::CRecordingPoster> m_poster =
      std::make_shared<AppMetrics::Testing::CRecordingPoster>();
  std::shared_ptr<CRecordingProgress> m_page = std::make_shared<CRecordingProgress>();
};

TEST_F(InstallerLauncherTest, RunsTheInstallerWithThePassThroughArgumentsAndMapsItsExitCode) {
  struct Expect {
    int exitCode;
    std::string outcome;
    std::vector<std::string> hits;
  };
  const Expect cases[] = {
      {0, "succeeded", {}},
      {1, "cancelled", {"t=event&ec=Install&ea=InstallerCancelW&cd=NSIS"}},
      {7, "failed 0", {"t=exception&exd=IN7_OS&exf=1"}},
  };
  InstallerOptions options(L"/S /DELAY=5 /LANG=en /TRACKING=\"a b\"");
  auto commandLine = std::make_shared<CNSISOriginalCommandLine>(options, InstallationDetails(options));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exitCode);
    m_poster = std::make_shared<AppMetrics::Testing::CRecordingPoster>();
    TearDown();
    SetUp();
    m_page = std::make_shared<CRecordingProgress>();
    const fs::path path = WriteInstaller(c.exitCode);
    auto clock = std::make_shared<CFakeClock>();
    // Just written: the first status asks for one more pause before the start.
    auto installer = std::make_shared<CFakeInstaller>(path.wstring(), std::vector<int32_t>{kInstallerWritten,
                                                                                           kInstallerReady});
    CInstallerLauncher launcher(commandLine, Settings(clock));
    const Run run = LaunchAndWait(launcher, installer);

    EXPECT_EQ(run.outcomes, std::vector<std::string>{c.outcome});
    EXPECT_EQ(run.hits, c.hits);
    EXPECT_EQ(RecordedArgv(), (std::vector<std::string>{path.string(), "/TRACKING=a b", "/BUILD_ID=0",
                                                        "/LANG=en", "/DELAY=5", "/S"}));
    EXPECT_EQ(installer->Calls(), 2u);
    EXPECT_EQ(clock->Sleeps(), std::vector<uint64_t>{3000});
    EXPECT_EQ(m_page->Values(), std::vector<float>{97.0f});
  }
}

TEST_F(InstallerLauncherTest, AFileNeverReadyIsGivenUpAfterTheLimitWithItsStatus) {
  struct Expect {
    int32_t status;
    int error;
    std::string outcome;
    std::string hit;
  };
  const Expect cases[] = {
      {kInstallerRewritten, 0, "failed 1", "t=exception&exd=ID5_2_OS&exf=1"},
      {kInstallerUnreadable, EACCES, "failed 0", "t=exception&exd=ID6_d_OS&exf=1"},
      {kInstallerWritten, 0, "failed 0", "t=exception&exd=ID5_1_OS&exf=1"},
      {kInstallerWriteFailed, 0, "failed 0", "t=exception&exd=ID5_4_OS&exf=1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    m_poster = std::make_shared<AppMetrics::Testing::CRecordingPoster>();
    TearDown();
    SetUp();
    auto clock = std::make_shared<CFakeClock>();
    auto installer = std::make_shared<CFakeInstaller>(WriteInstaller(0).wstring(), std::vector<int32_t>{c.status},
                                                      c.error);
    CInstallerLauncher launcher(std::make_shared<CFixedCommandLine>(L""), Settings(clock));
    const Run run = LaunchAndWait(launcher, installer);

    EXPECT_EQ(run.outcomes, std::vector<std::string>{c.outcome});
    EXPECT_EQ(run.hits, std::vector<std::string>{c.hit});
    EXPECT_EQ(installer->Calls(), 40u);  // every 3 s until 120 s have passed
    EXPECT_EQ(clock->Sleeps(), std::vector<uint64_t>(40, 3000));
    EXPECT_FALSE(fs::exists(m_folder / "argv.txt"));
  }
}

TEST_F(InstallerLauncherTest, AReadyFileThatCannotBeStartedIsRetriedUntilTheLimit) {
  const fs::path script = WriteInstaller(0);
  struct Expect {
    std::wstring path;
    std::wstring arguments;
    std::string hit;
  };
  const Expect cases[] = {
      {(m_folder / "missing.tmp").wstring(), L" /S", "t=exception&exd=IR_2_OS&exf=1"},  // ENOENT
      // Without a path the arguments are never taken for a program to run.
      {L"", Platform::Utf8ToWide(script.string()), "t=exception&exd=IR__OS&exf=1"},
  };
  for (const auto& c : cases) {
    m_poster = std::make_shared<AppMetrics::Testing::CRecordingPoster>();
    TearDown();
    SetUp();
    auto clock = std::make_shared<CFakeClock>();
    auto installer = std::make_shared<CFakeInstaller>(c.path, std::vector<int32_t>{kInstallerReady});
    CInstallerLauncher launcher(std::make_shared<CFixedCommandLine>(c.arguments), Settings(clock));
    const Run run = LaunchAndWait(launcher, installer);

    EXPECT_EQ(run.outcomes, std::vector<std::string>{"failed 0"});
    EXPECT_EQ(run.hits, std::vector<std::string>{c.hit});
    EXPECT_EQ(installer->Calls(), 40u);
    EXPECT_FALSE(fs::exists(m_folder / "argv.txt"));
  }
}

TEST_F(InstallerLauncherTest, NoInstallerOrAFailingOneIsALaunchFailure) {
  CInstallerLauncher launcher(nullptr, Settings(std::make_shared<CFakeClock>()));
  Run run = LaunchAndWait(launcher, nullptr);
  EXPECT_EQ(run.outcomes, std::vector<std::string>{"failed 0"});
  EXPECT_EQ(run.hits, std::vector<std::string>{"t=exception&exd=IR__OS_!m_installer&exf=1"});

  m_poster = std::make_shared<AppMetrics::Testing::CRecordingPoster>();
  TearDown();
  SetUp();
  run = LaunchAndWait(launcher, std::make_shared<CFakeInstaller>(L"/x", std::vector<int32_t>{0}, EIO, true));
  EXPECT_EQ(run.outcomes, std::vector<std::string>{"failed 0"});
  EXPECT_EQ(run.hits, std::vector<std::string>{"t=exception&exd=IR_5_OS_catch(...)%20launchInstallerImpl&exf=1"});
  EXPECT_FALSE(launcher.Cancel());
}

TEST_F(InstallerLauncherTest, StopCutsShortOnlyThePauseAndTheRunStillEnds) {
  const fs::path path = WriteInstaller(0);
  auto clock = std::make_shared<CFakeClock>(1);
  auto installer = std::make_shared<CFakeInstaller>(path.wstring(), std::vector<int32_t>{kInstallerWritten,
                                                                                         kInstallerReady});
  auto outcome = std::make_shared<CRecordingOutcome>();
  CInstallerLauncher launcher(std::make_shared<CFixedCommandLine>(L"/S"), Settings(clock));
  ASSERT_TRUE(launcher.Launch(installer, outcome, m_page));
  ASSERT_TRUE(clock->held.Wait());
  launcher.Stop();

  // The interrupted pause was taken again without interruption, and the ready file was run.
  EXPECT_EQ(outcome->Outcomes(), std::vector<std::string>{"succeeded"});
  EXPECT_EQ(clock->PlainSleeps(), std::vector<uint64_t>{3000});
  EXPECT_EQ(installer->Calls(), 2u);
  EXPECT_EQ(RecordedArgv(), (std::vector<std::string>{path.string(), "/S"}));
}

TEST_F(InstallerLauncherTest, ANewLaunchDoesNotWaitForTheRunningOneAndRunsAfterIt) {
  // The first run is busy (as with a product installer that runs for minutes) until released.
  struct CBusyInstaller final : IInstaller {
    std::wstring path;
    Event entered, release;
    explicit CBusyInstaller(std::wstring p) : path(std::move(p)) {}
    std::wstring GetPath() override { return path; }
    int32_t GetStatus() override {
      entered.Set();
      EXPECT_TRUE(release.Wait());
      return kInstallerReady;
    }
    bool Save() override { return true; }
  };
  const fs::path script = WriteInstaller(0);
  auto busy = std::make_shared<CBusyInstaller>(script.wstring());
  auto first = std::make_shared<CRecordingOutcome>();
  auto second = std::make_shared<CRecordingOutcome>();
  CInstallerLauncher launcher(std::make_shared<CFixedCommandLine>(L"/S"), Settings(std::make_shared<CFakeClock>()));
  ASSERT_TRUE(launcher.Launch(busy, first, m_page));
  ASSERT_TRUE(busy->entered.Wait());

  // The page's or the download's thread launches again while the first run is busy.
  Event returned;
  std::thread again([&] {
    EXPECT_TRUE(launcher.Launch(std::make_shared<CFakeInstaller>(script.wstring(), std::vector<int32_t>{kInstallerReady}),
                                second, m_page));
    returned.Set();
  });
  EXPECT_TRUE(returned.Wait());
  EXPECT_TRUE(second->Outcomes().empty());
  busy->release.Set();
  again.join();

  EXPECT_EQ(second->Wait(), std::vector<std::string>{"succeeded"});
  EXPECT_EQ(first->Outcomes(), std::vector<std::string>{"succeeded"});  // ended before the second began
  launcher.Stop();
}

TEST_F(InstallerLauncherTest, TheLauncherMayBeDroppedFromItsOwnFinalCallback) {
  // The install manager owns the launcher; its last owner may let go inside the callback.
  struct CDroppingOutcome final : IInstallerLauncherCallback {
    std::unique_ptr<CInstallerLauncher> launcher;
    Event done;
    void OnLaunchSucceeded() override {
      launcher.reset();
      done.Set();
    }
    void OnLaunchFailed(uint32_t) override {}
    void OnLaunchCancelled() override {}
  };
  auto outcome = std::make_shared<CDroppingOutcome>();
  outcome->launcher = std::make_unique<CInstallerLauncher>(std::make_shared<CFixedCommandLine>(L""),
                                                           Settings(std::make_shared<CFakeClock>()));
  auto installer = std::make_shared<CFakeInstaller>(WriteInstaller(0).wstring(), std::vector<int32_t>{0});
  ASSERT_TRUE(outcome->launcher->Launch(installer, outcome, nullptr));
  EXPECT_TRUE(outcome->done.Wait());
}

}  // namespace
}  // namespace CustomInstaller::Core
