#include "core/install_manager_impl.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>
#include <vector>

#include <boost/thread/thread.hpp>

#include "tests/core/analytics_fixture.h"
#include "tests/core/install_fakes.h"

namespace CustomInstaller::Core {
namespace {

using namespace CustomInstaller::Core::Testing;
using JS::IInstallProgressJSCallback;

class InstallManagerTest : public CustomInstaller::Testing::RecordedAnalyticsTest {
 public:  // reached from the case tables' lambdas
  std::shared_ptr<CInstallManager> Make(bool withSource = true, bool withLauncher = true) {
    return CInstallManager::Create(
        withSource ? std::make_unique<FakeSource>(journal, handles) : nullptr,
        withLauncher ? std::make_unique<FakeLauncher>(journal, handles) : nullptr,
        std::make_shared<FakeSession>(journal));
  }
  std::shared_ptr<FakeProgress> Page(const std::string& name = "page") {
    return std::make_shared<FakeProgress>(journal, name);
  }
  void ReportReady() { handles.source.lock()->OnSourceReady(std::make_shared<FakeInstaller>()); }

  Journal journal;
  Handles handles;
};

const std::string kSuccess = "t=event&ec=Install&ea=InstallerSuccessW";
const std::string kFailure = "t=event&ec=Install&ea=InstallerFailureW";

TEST_F(InstallManagerTest, EachOutcomeReachesPageSessionAndFunnel) {
  struct Case {
    const char* what;
    std::function<void(InstallManagerTest&)> outcome;  // run after Start
    std::vector<std::string> calls;                    // after "source.start"
    std::vector<std::string> hits;
  };
  const auto launched = [](std::function<void(IInstallerLauncherCallback&)> report) {
    return [report](InstallManagerTest& t) {
      t.ReportReady();
      report(*t.handles.launcher.lock());
    };
  };
  const std::vector<Case> cases = {
      {"installed", launched([](auto& l) { l.OnLaunchSucceeded(); }),
       {"launcher.launch", "session.succeeded", "page.finish"}, {kSuccess}},
      {"signer check still failing at the limit", launched([](auto& l) { l.OnLaunchFailed(1); }),
       {"launcher.launch", "session.failed", "page.error 1"}, {kFailure}},
      {"launch failure flag 2 is not passed on", launched([](auto& l) { l.OnLaunchFailed(2); }),
       {"launcher.launch", "session.failed", "page.error 0"}, {kFailure}},
      {"launch failure flag 0", launched([](auto& l) { l.OnLaunchFailed(0); }),
       {"launcher.launch", "session.failed", "page.error 0"}, {kFailure}},
      {"launch cancelled (the launcher sent its own event)", launched([](auto& l) { l.OnLaunchCancelled(); }),
       {"launcher.launch", "session.cancelled", "page.cancel"}, {}},
      {"no component", [](auto& t) { t.handles.source.lock()->OnSourceFailed(); },
       {"session.failed", "page.error 0"}, {kFailure}},
      {"source cancelled", [](auto& t) { t.handles.source.lock()->OnSourceCancelled(); },
       {"session.cancelled", "page.cancel"}, {}},
      {"ready without a file", [](auto& t) { t.handles.source.lock()->OnSourceReady(nullptr); },
       {"session.failed", "page.error 0"}, {kFailure}},
      {"launch refused", [](auto& t) { t.handles.launchAnswer = false; t.ReportReady(); },
       {"launcher.launch", "session.failed", "page.error 0"}, {kFailure}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    handles = {};
    auto manager = Make();
    const auto page = Page();
    EXPECT_TRUE(manager->Start(page));
    EXPECT_EQ(journal.Take(), (std::vector<std::string>{"page.started", "page.progress 0", "source.start"}));
    EXPECT_EQ(handles.sourceProgress, page);
    c.outcome(*this);
    EXPECT_EQ(journal.Take(), c.calls);
    if (handles.launched) {
      EXPECT_EQ(handles.launcherProgress, page);
    }
    EXPECT_EQ(Hits(), c.hits);
    Restart();
  }
}

TEST_F(InstallManagerTest, MissingPartsFailAtOnceAndANeverStartedSourceIsAFailure) {
  struct Case {
    const char* what;
    bool source, launcher, startAnswer;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {"no source", false, true, true, {"page.started", "page.progress 0", "session.failed", "page.error 0"}},
      {"no launcher", true, false, true, {"page.started", "page.progress 0", "session.failed", "page.error 0"}},
      {"source does not start", true, true, false,
       {"page.started", "page.progress 0", "source.start", "session.failed", "page.error 0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    handles = {};
    handles.startAnswer = c.startAnswer;
    EXPECT_TRUE(Make(c.source, c.launcher)->Start(Page()));
    EXPECT_EQ(journal.Take(), c.calls);
  }
  EXPECT_EQ(Hits(), std::vector<std::string>(3, kFailure));
}

TEST_F(InstallManagerTest, WithoutAPageEventsAndSessionCallsStillHappen) {
  auto manager = Make();
  EXPECT_TRUE(manager->Start(nullptr));
  EXPECT_EQ(handles.sourceProgress, nullptr);
  ReportReady();
  handles.launcher.lock()->OnLaunchSucceeded();
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"source.start", "launcher.launch", "session.succeeded"}));
  EXPECT_EQ(Hits(), std::vector<std::string>{kSuccess});
}

TEST_F(InstallManagerTest, CancelOnlyTellsTheSessionWhileTheWorkersGoOn) {
  auto manager = Make();
  manager->Start(Page());
  journal.Take();
  EXPECT_FALSE(manager->Cancel());
  handles.cancelAnswer = true;
  EXPECT_TRUE(manager->Cancel());
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"session.cancelled", "source.cancel", "launcher.cancel",
                                                      "session.cancelled", "source.cancel", "launcher.cancel"}));
  manager->Stop();
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"source.stop", "launcher.stop"}));
  // The download goes on and ends normally.
  ReportReady();
  handles.launcher.lock()->OnLaunchSucceeded();
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"launcher.launch", "session.succeeded", "page.finish"}));
}

TEST_F(InstallManagerTest, ASecondStartSendsEverythingToTheNewPageCallback) {
  auto manager = Make();
  manager->Start(Page("first"));
  handles.source.lock()->OnSourceFailed();
  manager->Start(Page("second"));
  ReportReady();
  handles.launcher.lock()->OnLaunchSucceeded();
  EXPECT_EQ(journal.Take(),
            (std::vector<std::string>{"first.started", "first.progress 0", "source.start", "session.failed",
                                      "first.error 0", "second.started", "second.progress 0", "source.start",
                                      "launcher.launch", "session.succeeded", "second.finish"}));
}

TEST_F(InstallManagerTest, WorkersHoldTheManagerOnlyWeakly) {
  auto manager = Make();
  manager->Start(Page());
  ReportReady();
  EXPECT_EQ(handles.source.lock(), std::static_pointer_cast<IInstallerSourceCallback>(manager));
  EXPECT_EQ(handles.launcher.lock(), std::static_pointer_cast<IInstallerLauncherCallback>(manager));
  manager.reset();
  EXPECT_TRUE(handles.source.expired());
  EXPECT_TRUE(handles.launcher.expired());
}

// The outcome arrives on worker threads, as in a real run.
TEST_F(InstallManagerTest, OutcomesFromWorkerThreads) {
  struct Done final : IInstallProgressJSCallback {
    std::promise<void> finished;
    void OnStarted() override {}
    void OnProgress(float) override {}
    void OnError(int) override {}
    void OnCancel() override {}
    void OnFinish() override { finished.set_value(); }
  };
  auto manager = Make();
  const auto page = std::make_shared<Done>();
  auto finished = page->finished.get_future();
  manager->Start(page);
  boost::thread download([this] {
    ReportReady();
    boost::thread run([this] { handles.launcher.lock()->OnLaunchSucceeded(); });
    run.join();
  });
  finished.wait();
  download.join();
  EXPECT_EQ(Hits(), std::vector<std::string>{kSuccess});
}

}  // namespace
}  // namespace CustomInstaller::Core
