#include "app/startup.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include <boost/thread/thread.hpp>

#include "app/installers.h"
#include "tests/support/fake_clock.h"

namespace CustomInstaller {
namespace {

using Log = std::vector<std::string>;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Every collaborator of the start-up sequence, recording its calls in one shared log.
struct Recorder : ITrackingUidAnswer,
                  ISingleInstanceGuard,
                  IWindowActivation,
                  IUninstallerCheck,
                  ISessionHandlerFactory,
                  IBrowserEmulation,
                  IStartupAnalytics,
                  IInstallGraphFactory,
                  IInstallerWindowHost {
  Log log;
  bool extractResult = true;
  bool firstInstance = true;
  WindowHandle uninstallWindow = kNoWindow;
  bool uninstallerRunning = false;
  int endCode = 0;
  bool throwFromModal = false;
  bool throwFromBuild = false;

  struct Session : IGASessionHandler {
    Log& log;
    explicit Session(Log& l) : log(l) {}
    void OnInstallSucceeded() override { log.push_back("session succeeded"); }
    void OnInstallFailed() override { log.push_back("session failed"); }
    void OnInstallCancelled() override { log.push_back("session cancelled"); }
    void FinishSession() override { log.push_back("finish session"); }
  };
  struct Manager : Core::IInstallManager, std::enable_shared_from_this<Manager> {
    Log& log;
    std::string name;
    TestSupport::Event& letGo;
    boost::thread::id mainThread = boost::this_thread::get_id();
    Manager(Log& l, std::string n, TestSupport::Event& go) : log(l), name(std::move(n)), letGo(go) {}
    ~Manager() override {
      log.push_back(name + " destroyed" + (boost::this_thread::get_id() == mainThread ? "" : " off the main thread"));
      if (worker.get_id() == boost::this_thread::get_id()) worker.detach();
    }
    bool Start(std::shared_ptr<Core::JS::IInstallProgressJSCallback> progress) override {
      log.push_back(name + " start");
      // The outcome arrives later, from a worker, as it does in a real installation.
      worker = boost::thread([this, progress] {
        boost::this_thread::yield();
        log.push_back(name + " outcome");
        if (progress) progress->OnFinish();
      });
      return true;
    }
    // Like a download thread inside its final callback: the worker holds the graph until it
    // is stopped or the start-up has moved on to its finish.
    void StartHoldingTheGraph() {
      worker = boost::thread([this, self = shared_from_this()]() mutable {
        letGo.Wait();
        self.reset();
      });
    }
    bool Cancel() override { return false; }
    void Stop() override {
      log.push_back(name + " stop");
      letGo.Set();
      if (worker.joinable()) worker.join();
    }
    boost::thread worker;
  };
  TestSupport::Event letGo;
  bool pageStartsTheInstallation = false;

  bool ExtractTrackingUid(const std::wstring& path) override {
    log.push_back("extract [" + Narrow(path) + "]");
    return extractResult;
  }
  bool Acquire(bool local, std::unique_ptr<IMNSuffixGenerator> generator) override {
    log.push_back(std::string("acquire ") + (local ? "local " : "global ") +
                  (generator ? Narrow(generator->GetSuffix()) : "-"));
    return firstInstance;
  }
  void Release() override {
    log.push_back("release");
    letGo.Set();
  }
  WindowHandle FindTopLevelWindow(const std::wstring& title) override {
    log.push_back("find [" + Narrow(title) + "]");
    return title == L"Quarro Omnikit Uninstall" ? uninstallWindow : WindowHandle{7};
  }
  void BringWindowToFront(WindowHandle window) override {
    log.push_back("front " + std::to_string(window));
  }
  bool IsUninstallerRunning() override {
    log.push_back("uninstaller check");
    return uninstallerRunning;
  }
  std::shared_ptr<IGASessionHandler> Create(const InstallerOptions& options) override {
    log.push_back("session for build " + Narrow(options.buildId));
    return std::make_shared<Session>(log);
  }
  bool Set(const std::wstring& valueName) override {
    log.push_back("emulation set " + Narrow(valueName));
    return true;
  }
  bool Remove(const std::wstring& valueName) override {
    log.push_back("emulation remove " + Narrow(valueName));
    return true;
  }
  void SendEvent(const std::wstring& action, const std::wstring& category,
                 const std::wstring& label, int64_t value) override {
    log.push_back("event " + Narrow(action) + "/" + Narrow(category) + "/" + Narrow(label) + "/" +
                  std::to_string(value));
  }
  void SendException(const std::wstring& context, const std::wstring& description, int32_t code,
                     int32_t severity) override {
    log.push_back("exception " + Narrow(context) + "/" + Narrow(description) + "/" +
                  std::to_string(code) + "/" + std::to_string(severity));
  }
  void SetAutoSessionControl(bool on) override {
    log.push_back(std::string("auto session ") + (on ? "on" : "off"));
  }
  std::shared_ptr<Core::IInstallManager> Build(EInstallGraph kind,
                                               const std::shared_ptr<IGASessionHandler>& session,
                                               const InstallerOptions&,
                                               const InstallationDetails&) override {
    const char* names[] = {"windowed", "fallback", "silent"};
    const std::string name = names[static_cast<int>(kind)];
    log.push_back("build " + name + (session ? "" : " without session"));
    if (throwFromBuild) throw std::runtime_error("no graph");
    return std::make_shared<Manager>(log, name, letGo);
  }
  std::wstring ExtractPageResources(CInstallerPageFiles& files) override {
    log.push_back("extract pages");
    files.indexHtml = L"/tmp/p/index.html";
    files.indexFolder = L"/tmp/p/index";
    return files.indexHtml;
  }
  int RunModal(const std::wstring& pageUrl, const std::shared_ptr<Core::IInstallManager>& manager,
               const InstallationDetails&) override {
    log.push_back("modal " + Narrow(pageUrl) + (manager ? "" : " without manager"));
    if (pageStartsTheInstallation) std::static_pointer_cast<Manager>(manager)->StartHoldingTheGraph();
    if (throwFromModal) throw std::runtime_error("window failed");
    return endCode;
  }
  void RemovePageFiles(const CInstallerPageFiles& files) override {
    log.push_back("remove pages " + Narrow(files.indexFolder));
  }
};

class StartupTest : public testing::Test {
 protected:
  StartupTest() : rec(std::make_shared<Recorder>()) {
    wiring.trackingUid = rec;
    wiring.singleInstance = rec;
    wiring.windows = rec;
    wiring.uninstaller = rec;
    wiring.sessions = rec;
    wiring.browserEmulation = rec;
    wiring.analytics = rec;
    wiring.graphs = rec;
    wiring.window = rec;
    clock->onSleep = [this](size_t) { rec->log.push_back("sleep " + std::to_string(clock->Sleeps().back())); };
    wiring.clock = clock;
    wiring.programFileName = L"omk-setup-copy";
  }
  int Run(const std::wstring& commandLine) { return RunSetup(commandLine, wiring, notices); }
  Log Tail(size_t from) const { return Log(rec->log.begin() + static_cast<long>(from), rec->log.end()); }
  size_t Find(const std::string& entry) const {
    return static_cast<size_t>(std::find(rec->log.begin(), rec->log.end(), entry) - rec->log.begin());
  }

  std::shared_ptr<Recorder> rec;
  std::shared_ptr<TestSupport::CFakeClock> clock = std::make_shared<TestSupport::CFakeClock>();
  StartupWiring wiring;
  std::ostringstream notices;
};

TEST_F(StartupTest, WindowedRunInOrder) {
  EXPECT_EQ(Run(L"/BUILD_ID=42"), 0);
  const Log expected = {
      "acquire global OMK",
      "find [Quarro Omnikit Uninstall]",
      "uninstaller check",
      "session for build 42",
      "emulation set omk-setup-copy",
      "event InstallerStartW/Install//1",
      "build windowed",
      "extract pages",
      "modal /tmp/p/index.html",
      "remove pages /tmp/p/index",
      "windowed stop",
      "windowed destroyed",
      "release",
      "emulation remove omk-setup-copy",
      "event InstallerFinishW/Install//-1",
      "finish session",
  };
  EXPECT_EQ(rec->log, expected);
  EXPECT_EQ(notices.str(), "");
}

TEST_F(StartupTest, TheWindowedGraphIsStoppedAndReleasedOnTheMainThread) {
  rec->pageStartsTheInstallation = true;
  EXPECT_EQ(Run(L""), 0);
  EXPECT_LT(Find("windowed destroyed"), Find("release"));
  EXPECT_EQ(Find("windowed destroyed off the main thread"), rec->log.size());
}

TEST_F(StartupTest, WindowNeverShownFallsBackToANewGraph) {
  rec->endCode = kExitNotShown;
  EXPECT_EQ(Run(L""), 0);
  const size_t modal = Find("modal /tmp/p/index.html");
  ASSERT_LT(modal, rec->log.size());
  const Log expected = {
      "modal /tmp/p/index.html",
      "exception timeout/IJ/1/2",
      "remove pages /tmp/p/index",
      "windowed stop",
      "windowed destroyed",
      "build fallback",
      "fallback start",
      "fallback outcome",
      "fallback stop",
      "fallback destroyed",
      "release",
      "emulation remove omk-setup-copy",
      "event InstallerFinishW/Install//-1",
      "finish session",
  };
  EXPECT_EQ(Tail(modal), expected);
}

TEST_F(StartupTest, OtherEndCodesDoNotFallBack) {
  for (int endCode : {0, 1, -1, 31999, 32001}) {
    rec->log.clear();
    rec->endCode = endCode;
    Run(L"");
    EXPECT_EQ(Find("build fallback"), rec->log.size()) << endCode;
  }
}

TEST_F(StartupTest, ModeChoice) {
  struct Case {
    const wchar_t* commandLine;
    const char* startEvent;
    const char* graph;
    bool autoSession;
  };
  const Case cases[] = {
      {L"", "event InstallerStartW/Install//1", "build windowed", false},
      {L"/S", "event InstallerStartW/Install//0", "build silent", false},
      {L"/VS", "event InstallerStartW/Install//0", "build silent", true},
      {L"/S /VS", "event InstallerStartW/Install//0", "build silent", true},
      {L"/VS/S", "event InstallerStartW/Install//0", "build silent", true},
      {L"/s /vs", "event InstallerStartW/Install//1", "build windowed", false},
  };
  for (const auto& c : cases) {
    rec->log.clear();
    SCOPED_TRACE(Narrow(c.commandLine));
    EXPECT_EQ(Run(c.commandLine), 0);
    EXPECT_LT(Find(c.startEvent), rec->log.size());
    const size_t build = Find(c.graph);
    ASSERT_LT(build, rec->log.size());
    const size_t autoSession = Find("auto session on");
    if (c.autoSession) {
      EXPECT_EQ(autoSession + 1, build);
    } else {
      EXPECT_EQ(autoSession, rec->log.size());
    }
    if (std::string(c.graph) == "build silent") {
      EXPECT_EQ(Tail(build + 1), (Log{"silent start", "silent outcome", "silent stop", "silent destroyed",
                                      "release", "emulation remove omk-setup-copy",
                                      "event InstallerFinishW/Install//-1", "finish session"}));
    }
  }
}

TEST_F(StartupTest, DelayOnlyWhenPositive) {
  const std::pair<const wchar_t*, const char*> cases[] = {
      {L"/S /DELAY=5", "sleep 5000"}, {L"/S /DELAY=\"12\"", "sleep 12000"}, {L"/S /DELAY=0", nullptr},
      {L"/S /DELAY=\"-3\"", nullptr}, {L"/S /DELAY=abc", nullptr},    {L"/S", nullptr},
  };
  for (const auto& [commandLine, sleep] : cases) {
    rec->log.clear();
    Run(commandLine);
    SCOPED_TRACE(Narrow(commandLine));
    if (sleep) {
      // The wait comes after the start event and before the installation.
      EXPECT_EQ(Find(sleep), Find("event InstallerStartW/Install//0") + 1);
      EXPECT_EQ(Find(sleep) + 1, Find("build silent"));
    } else {
      EXPECT_EQ(std::count_if(rec->log.begin(), rec->log.end(),
                              [](const std::string& e) { return e.rfind("sleep", 0) == 0; }),
                0);
    }
  }
}

TEST_F(StartupTest, ExtractTrackingUidAnswersAndEnds) {
  const std::tuple<const wchar_t*, bool, int, const char*> cases[] = {
      {L"-extractTrackingUID=\"/tmp/a b/trackingUID.txt\"", true, 0, "extract [/tmp/a b/trackingUID.txt]"},
      {L"-extractTrackingUID=\"/tmp/x\" /S", false, 1, "extract [/tmp/x]"},
      // An unquoted value may not start with "/", so this request carries no path.
      {L"-extractTrackingUID=/tmp/x", true, 0, "extract []"},
      {L"/S -extractTrackingUID", false, 1, "extract []"},
  };
  for (const auto& [commandLine, result, exitCode, entry] : cases) {
    rec->log.clear();
    rec->extractResult = result;
    EXPECT_EQ(Run(commandLine), exitCode);
    EXPECT_EQ(rec->log, Log{entry});  // no guard, no analytics, no window
  }
}

TEST_F(StartupTest, SecondInstanceBringsTheFirstForward) {
  rec->firstInstance = false;
  EXPECT_EQ(Run(L"/S"), 0);
  EXPECT_EQ(rec->log, (Log{"acquire global OMK", "find [Quarro Omnikit Setup]", "front 7"}));
}

TEST_F(StartupTest, UninstallerOnScreenEndsTheStart) {
  const std::pair<WindowHandle, bool> cases[] = {{kNoWindow, false}, {kInvalidWindow, false}, {99, true}};
  for (const auto& [window, ends] : cases) {
    rec->log.clear();
    rec->uninstallWindow = window;
    EXPECT_EQ(Run(L"/S"), 0);
    if (ends) {
      EXPECT_EQ(rec->log, (Log{"acquire global OMK", "find [Quarro Omnikit Uninstall]", "front 99"}));
    } else {
      EXPECT_LT(Find("build silent"), rec->log.size()) << window;
    }
  }
  rec->log.clear();
  rec->uninstallWindow = kNoWindow;
  rec->uninstallerRunning = true;
  EXPECT_EQ(Run(L"/S"), 0);
  EXPECT_EQ(rec->log.back(), "uninstaller check");
}

// An exception escaping the start-up still runs every finish step, in order, after the mode's
// objects are gone.
TEST_F(StartupTest, FinishStepsRunWhenAPortThrows) {
  struct Case {
    const wchar_t* commandLine;
    bool Recorder::*thrower;
    std::string lastBeforeFinish;
  };
  for (const Case& c : {Case{L"", &Recorder::throwFromModal, "remove pages /tmp/p/index"},
                        Case{L"/S", &Recorder::throwFromBuild, "build silent"}}) {
    SCOPED_TRACE(Narrow(c.commandLine));
    rec = std::make_shared<Recorder>();
    wiring.singleInstance = rec;
    wiring.windows = rec;
    wiring.uninstaller = rec;
    wiring.sessions = rec;
    wiring.browserEmulation = rec;
    wiring.analytics = rec;
    wiring.graphs = rec;
    wiring.window = rec;
    (*rec).*c.thrower = true;
    EXPECT_THROW(Run(c.commandLine), std::runtime_error);
    const size_t last = Find(c.lastBeforeFinish);
    ASSERT_LT(last, rec->log.size());
    Log tail = Tail(last + 1);
    std::erase_if(tail, [](const std::string& entry) { return entry.ends_with(" destroyed"); });
    EXPECT_EQ(tail, (Log{"release", "emulation remove omk-setup-copy", "event InstallerFinishW/Install//-1",
                         "finish session"}));
  }
}

TEST_F(StartupTest, ARunThatCanInstallNothingOpensNoSessionAndSendsNothing) {
  struct Case {
    const wchar_t* commandLine;
    bool graphs, window;
  };
  const Case cases[] = {{L"", true, false}, {L"", false, true}, {L"/S", false, true}};
  for (const Case& c : cases) {
    rec->log.clear();
    notices.str("");
    wiring.graphs = c.graphs ? rec : nullptr;
    wiring.window = c.window ? rec : nullptr;
    EXPECT_EQ(Run(c.commandLine), 0);
    EXPECT_EQ(rec->log, (Log{"acquire global OMK", "find [Quarro Omnikit Uninstall]", "uninstaller check", "release"}))
        << Narrow(c.commandLine) << c.graphs << c.window;
    EXPECT_NE(notices.str().find("nothing was installed"), std::string::npos);
  }
}

TEST(InstallerModeTest, BasicInstallerWithExpiredManagerReturnsFalse) {
  std::weak_ptr<Core::IInstallManager> expired;
  EXPECT_FALSE(CBasicInstaller(expired).Run());
}

TEST(StartupWithoutPartsTest, SaysWhatThisBuildCannotDo) {
  const StartupWiring empty;
  std::ostringstream notices;
  EXPECT_EQ(RunSetup(L"-extractTrackingUID=/tmp/x", empty, notices), 1);
  EXPECT_NE(notices.str().find("cannot answer -extractTrackingUID"), std::string::npos);

  for (const wchar_t* commandLine : {L"/S", L""}) {
    std::ostringstream out;
    EXPECT_EQ(RunSetup(commandLine, empty, out), 0);
    EXPECT_NE(out.str().find("nothing was installed"), std::string::npos) << out.str();
  }
}

}  // namespace
}  // namespace CustomInstaller
