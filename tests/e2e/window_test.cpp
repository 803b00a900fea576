// The windowed installation through the built program (its test build with short waits), as a
// user sees it: a real WebKitGTK window on a private Xvfb, driven by synthesized X input, against
// the local services on the demo ports. Screenshots of every state go to the build folder.
// The page's states and buttons are read from the screen by its layout (tests/e2e/page_look.h).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <future>
#include <optional>

#include "config/identity.h"
#include "config/profile.h"
#include "platform/md5.h"
#include "platform/text.h"
#include "tests/e2e/setup_run.h"
#include "tests/support/child_process.h"
#include "tests/support/dev_server.h"
#include "tests/support/file_wait.h"
#include "tests/support/fixtures.h"
#include "tests/support/hit_log.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/x_client.h"
#include "tests/support/x_screen.h"
#include "tests/support/xvfb.h"
#include "tests/e2e/page_look.h"
#include OMK_DEMO_MD5_HEADER

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TestSupport::ScreenImage;
using TestSupport::XWindowId;
using Hit = std::map<std::string, std::string>;
using namespace PageLook;

const std::string kDemoOrigin = "http://127.0.0.1:47801";
const fs::path kPki = OMK_DEMO_PKI;
const std::string kTitle = "Quarro Omnikit Setup";
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

// --- the fixture ----------------------------------------------------------------------------

// The component service's record for the suite.
std::string SuiteComponent(const std::string& md5) {
  return R"({"components": [{"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/downloads/product.bin", "md5": ")" +
         md5 + R"("}]})";
}

struct Services {
  std::string componentAnswers = R"("answer": )" + SuiteComponent(OMK_DEMO_FALLBACK_MD5);
  fs::path product = OMK_DEMO_PRODUCT;
  bool holdDownload = false;  // the download waits until ReleaseDownload
};

class WindowTest : public testing::Test {
 protected:
  WindowTest() : m_xvfb(kScreenWidth, kScreenHeight), m_screen(m_xvfb.Display()) {
    m_env = E2E::PrivateRunEnvironment(Root());
    m_env["DISPLAY"] = m_xvfb.Display();
    m_env["LANG"] = "C.UTF-8";
    m_inotify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    inotify_add_watch(m_inotify, Root().c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO);
  }
  ~WindowTest() override {
    if (m_holdFd >= 0) ::close(m_holdFd);
    ::close(m_inotify);
  }
  // Every run leaves its temporary folder empty: the page files and the fetched installer go.
  void TearDown() override {
    if (m_setup) {
      m_setup.reset();
    }
    EXPECT_TRUE(fs::is_empty(Root() / "tmp"));
  }

  const fs::path& Root() const { return m_dir.Path(); }
  fs::path ArgsLog() const { return Root() / "installer-args.txt"; }
  std::string InstallerArgs() const { return fs::exists(ArgsLog()) ? TestSupport::ReadFile(ArgsLog()) : ""; }
  size_t InstallerRuns() const {
    const std::string args = InstallerArgs();
    return static_cast<size_t>(std::count(args.begin(), args.end(), '\n'));
  }

  void Serve(const Services& services) {
    const std::string fallbackPath = Platform::WideToUtf8(Config::kFallbackComponentUrl).substr(kDemoOrigin.size());
    const std::string hold = services.holdDownload ? R"(, "hold_file": ")" + (Root() / "release-download").string() + R"(")" : "";
    const std::string scenario = R"({"routes": [
      {"method": "POST", "path": "/component", "kind": "component", )" + services.componentAnswers + R"(},
      {"path": "/downloads/product.bin", "body_file": ")" + services.product.string() + "\"" + hold + R"(},
      {"path": ")" + fallbackPath + R"(", "body_file": ")" OMK_DEMO_PRODUCT R"("},
      {"kind": "collector", "method": "POST", "path": "/collect", "hits_log": ")" + (Root() / "hits.jsonl").string() + R"("}]})";
    auto options = E2E::DemoServerOptions(kPki);
    m_server = std::make_unique<TestSupport::DevServer>(scenario, options);
  }
  void ReleaseDownload() { TestSupport::WriteFile(Root() / "release-download", ""); }

  // The product installer waits, once started, until ReleaseInstaller.
  void HoldInstaller() {
    const fs::path fifo = Root() / "hold-installer";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    m_env["OMK_DEMO_HOLD_FIFO"] = fifo.string();
  }
  // Returns once the product installer has started and waits.
  bool WaitForHeldInstaller() {
    const fs::path fifo = m_env.at("OMK_DEMO_HOLD_FIFO");
    auto opened = std::async(std::launch::async, [fifo] { return ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC); });
    if (opened.wait_for(60s) != std::future_status::ready) {
      ::close(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));  // lets the open above end
      ::close(opened.get());
      return false;
    }
    m_holdFd = opened.get();
    return m_holdFd >= 0;
  }
  void ReleaseInstaller() {
    ::close(m_holdFd);
    m_holdFd = -1;
  }

  void Start(std::vector<std::string> args = {}) {
    m_setup = std::make_unique<TestSupport::ChildProcess>(OMK_SETUP_E2E_PATH, args, m_env);
  }
  // The setup's window once it is on the screen.
  XWindowId Window() {
    const XWindowId window = m_screen.WaitForMappedWindow(kTitle, 60s);
    if (window == 0) ADD_FAILURE() << "the window never showed: " << m_setup->Err();
    return window;
  }
  // The screen inside the window once `ready` holds for it, saved as <name>.png.
  template <typename Ready>
  Look Shot(XWindowId window, const std::string& name, Ready ready) {
    bool ok = false;
    const ScreenImage image = m_screen.CaptureWhen(window, [&](const ScreenImage& i) { return ready(LookAt(i)); }, 30s, ok);
    const fs::path file = fs::path(OMK_WINDOW_SCREENSHOTS) / (name + ".png");
    EXPECT_TRUE(image.SavePng(file)) << file;
    EXPECT_TRUE(ok) << name << " did not show; the screen is in " << file;
    return LookAt(image);
  }
  void Click(XWindowId window, int x, int y) {
    m_screen.Click(window, x, y);
    m_screen.MovePointer(window, 4, kPageHeight - 4);  // no hover colour on what comes next
  }
  void Click(XWindowId window, const Box& box) { Click(window, box.CenterX(), box.CenterY()); }
  // The page's own close button, in the title strip's top right corner.
  void ClickCloseButton(XWindowId window) { Click(window, kCloseX, kCloseY); }

  // Ends the run: the window goes, the setup exits with 0.
  void ExpectEnd(XWindowId window) {
    EXPECT_TRUE(m_screen.WaitForGone(window, 60s));
    EXPECT_EQ(m_setup->Wait(), 0) << m_setup->Err();
  }

  // The hits the collector received, in order.
  std::vector<Hit> Hits() const {
    std::vector<Hit> hits;
    for (const auto& logged : TestSupport::ReadHitLog(Root() / "hits.jsonl")) {
      hits.emplace_back(logged.parameters.begin(), logged.parameters.end());
    }
    return hits;
  }
  static std::string Field(const Hit& hit, const std::string& name) {
    const auto it = hit.find(name);
    return it == hit.end() ? "" : it->second;
  }
  // Index of the first hit from `from` on of this type whose `field` is `value`, or -1.
  static int Find(const std::vector<Hit>& hits, const std::string& type, const std::string& field,
                  const std::string& value, int from = 0) {
    for (int i = std::max(from, 0); i < static_cast<int>(hits.size()); ++i) {
      if (Field(hits[static_cast<size_t>(i)], "t") == type && Field(hits[static_cast<size_t>(i)], field).rfind(value, 0) == 0) return i;
    }
    return -1;
  }
  static size_t Count(const std::vector<Hit>& hits, const std::string& type, const std::string& field, const std::string& value) {
    size_t n = 0;
    for (const auto& hit : hits) n += Field(hit, "t") == type && Field(hit, field) == value;
    return n;
  }
  // Waits until the collector has received the screen view or event (woken by the log's
  // changes); false after a minute.
  bool WaitForHit(const std::string& type, const std::string& field, const std::string& value) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (Find(Hits(), type, field, value) < 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ADD_FAILURE() << "no " << type << " hit with " << field << "=" << value;
        return false;
      }
      pollfd fd{m_inotify, POLLIN, 0};
      poll(&fd, 1, 200);
      char buffer[4096];
      while (::read(m_inotify, buffer, sizeof buffer) > 0) {
      }
    }
    return true;
  }
  bool WaitForScreen(const std::string& name) { return WaitForHit("screenview", "cd", name); }
  bool WaitForEvent(const std::string& action) { return WaitForHit("event", "ea", action); }

  TestSupport::TempDir m_dir;
  TestSupport::Xvfb m_xvfb;
  TestSupport::XScreen m_screen;
  std::map<std::string, std::string> m_env;
  std::unique_ptr<TestSupport::DevServer> m_server;
  std::unique_ptr<TestSupport::ChildProcess> m_setup;
  int m_inotify = -1;
  int m_holdFd = -1;
};

// The test process works in a folder while it starts the setup, which inherits it.
class InFolder {
 public:
  explicit InFolder(const fs::path& folder) : m_before(fs::current_path()) { fs::current_path(folder); }
  ~InFolder() {
    std::error_code ignored;
    fs::current_path(m_before, ignored);
  }
  InFolder(const InFolder&) = delete;
  InFolder& operator=(const InFolder&) = delete;

 private:
  fs::path m_before;
};

// --- the tests ------------------------------------------------------------------------------

TEST_F(WindowTest, InstallFromTheWindow) {
  Serve({.holdDownload = true});
  HoldInstaller();
  Start({"/BUILD_ID=12", "/LANG=en"});
  const XWindowId window = Window();
  ASSERT_NE(window, 0u);

  // Centred, with the page's size.
  const auto g = m_screen.Geometry(window);
  EXPECT_EQ(g.width, kPageWidth);
  EXPECT_EQ(g.height, kPageHeight);
  EXPECT_NEAR(g.x, (kScreenWidth - kPageWidth) / 2, 1);
  EXPECT_NEAR(g.y, (kScreenHeight - kPageHeight) / 2, 1);
  // The page files the window shows, by the names the page uses.
  for (const char* file : {"index.html", "index/js/installer.js", "index/js/supress-errors.js",
                           "index/rc/succeeded_page/checmark-icon.png", "index/translations/zh-tw.json"}) {
    EXPECT_TRUE(fs::exists(Root() / "tmp" / file)) << file;
  }

  const Look welcome = Shot(window, "welcome", IsWelcome);
  ASSERT_TRUE(IsWelcome(welcome));
  ASSERT_TRUE(WaitForScreen("Welcome"));
  Click(window, welcome.buttons.filled.front());

  // 0 %: the download is held.
  const Look started = Shot(window, "progress_0", [](const Look& l) { return IsProgress(l) && *l.progress < 0.01; });
  ASSERT_TRUE(WaitForScreen("Progress_page1"));
  ReleaseDownload();

  // 50 % and on towards 97 %: the product installer runs (held).
  ASSERT_TRUE(WaitForHeldInstaller()) << m_setup->Err();
  ASSERT_TRUE(WaitForScreen("Progress_page2"));
  const Look half = Shot(window, "progress_50", [](const Look& l) { return IsProgress(l) && *l.progress >= 0.49; });
  ASSERT_TRUE(half.progress);
  EXPECT_LT(*half.progress, 0.97);
  const double at = *half.progress;
  const Look later = Shot(window, "progress_later", [at](const Look& l) { return IsProgress(l) && *l.progress > at + 0.01; });
  ASSERT_TRUE(later.progress);
  EXPECT_LT(*later.progress, 0.97);

  // The installer's end finishes the run: the page closes the window (end code 1, no fallback).
  ReleaseInstaller();
  ExpectEnd(window);

  const std::string args = InstallerArgs();
  EXPECT_EQ(InstallerRuns(), 1u) << args;
  EXPECT_NE(args.find("[/BUILD_ID=12]"), std::string::npos) << args;
  EXPECT_TRUE(args.ends_with("[/NO_UI]\n")) << args;

  // The funnel as the collector recorded it, in order.
  const auto hits = Hits();
  const int start = Find(hits, "event", "ea", "InstallerStartW");
  ASSERT_GE(start, 0);
  EXPECT_EQ(Field(hits[static_cast<size_t>(start)], "ev"), "1");
  const int screenWelcome = Find(hits, "screenview", "cd", "Welcome", start);
  const int installNow = Find(hits, "event", "ea", "InstallNow", screenWelcome);
  const int page1 = Find(hits, "screenview", "cd", "Progress_page1", installNow);
  const int page2 = Find(hits, "screenview", "cd", "Progress_page2", page1);
  const int duration = Find(hits, "timing", "utv", "InstallDuration", page2);
  const int success = Find(hits, "event", "ea", "InstallerSuccessW", page2);
  const int finish = Find(hits, "event", "ea", "InstallerFinishW", std::max(duration, success));
  for (const int index : {screenWelcome, installNow, page1, page2, duration, success, finish}) EXPECT_GE(index, 0);
  ASSERT_GE(installNow, 0);
  EXPECT_EQ(Field(hits[static_cast<size_t>(installNow)], "ec"), "Install");
  EXPECT_EQ(Field(hits[static_cast<size_t>(installNow)], "cd"), "Welcome");
  ASSERT_GE(duration, 0);
  EXPECT_EQ(Field(hits[static_cast<size_t>(duration)], "utc"), "Install");
  EXPECT_EQ(Count(hits, "timing", "utv", "InstallDuration"), 1u);
  EXPECT_EQ(Find(hits, "exception", "exd", "IJ"), -1);
  EXPECT_EQ(Find(hits, "event", "ea", "InstallerFailureW"), -1);
  (void)started;
}

// A failed download shows the failed state; "Try again" starts over and installs.
TEST_F(WindowTest, DownloadFailureThenTryAgain) {
  // The first answer names a digest that no download matches, the second the right one.
  Serve({.componentAnswers = R"("answers": [)" + SuiteComponent("00000000000000000000000000000000") + ", " +
                             SuiteComponent(OMK_DEMO_FALLBACK_MD5) + "]"});
  Start({"/LANG=en"});
  const XWindowId window = Window();
  ASSERT_NE(window, 0u);
  const Look welcome = Shot(window, "welcome_before_failure", IsWelcome);
  ASSERT_TRUE(IsWelcome(welcome));
  Click(window, welcome.buttons.filled.front());

  const Look failed = Shot(window, "failed", IsFailed);
  ASSERT_TRUE(IsFailed(failed));
  ASSERT_TRUE(WaitForScreen("InstallFailure"));
  EXPECT_EQ(InstallerRuns(), 0u);
  Click(window, failed.buttons.filled.front());  // "Try again"
  ExpectEnd(window);

  EXPECT_EQ(InstallerRuns(), 1u);
  EXPECT_TRUE(InstallerArgs().ends_with("[/NO_UI]\n")) << InstallerArgs();
  const auto hits = Hits();
  const int failure = Find(hits, "event", "ea", "InstallerFailureW");
  const int tryAgain = Find(hits, "event", "ea", "TryAgain", failure);
  const int success = Find(hits, "event", "ea", "InstallerSuccessW", tryAgain);
  EXPECT_GE(failure, 0);
  EXPECT_GE(tryAgain, 0);
  EXPECT_GE(success, 0);
  EXPECT_EQ(Count(hits, "screenview", "cd", "Progress_page1"), 2u);
  EXPECT_EQ(Count(hits, "timing", "utv", "InstallDuration"), 1u);  // only the run that finished
  size_t componentRequests = 0;
  for (const auto& request : m_server->Requests()) componentRequests += request.path == "/component";
  EXPECT_EQ(componentRequests, 2u);
}

// An installer whose digest matches but whose signer is another company's: the broken-installer
// pop-up; its "No" closes the window, and nothing runs.
TEST_F(WindowTest, BadlySignedInstallerShowsTheBrokenInstallerPopup) {
  const fs::path other = Root() / "other.bin";
  fs::copy_file(OMK_DEMO_PRODUCT_UNSIGNED, other);
  const auto sign = TestSupport::RunProcess(OMK_SIGN_PATH, {"--key", (kPki / "other.key").string(), "--cert",
                                                            (kPki / "other.pem").string(), "--chain",
                                                            (kPki / "chain.pem").string(), other.string()});
  ASSERT_EQ(sign.exitCode, 0) << sign.err;
  Serve({.componentAnswers = R"("answer": )" + SuiteComponent(Platform::Md5Hex(TestSupport::ReadFile(other))),
         .product = other});
  Start({"/LANG=en"});
  const XWindowId window = Window();
  ASSERT_NE(window, 0u);
  const Look welcome = Shot(window, "welcome_before_broken", IsWelcome);
  ASSERT_TRUE(IsWelcome(welcome));
  Click(window, welcome.buttons.filled.front());

  const Look broken = Shot(window, "broken_installer", IsBrokenInstaller);
  ASSERT_TRUE(IsBrokenInstaller(broken));
  ASSERT_TRUE(WaitForScreen("InstallFailure"));
  Click(window, broken.buttons.outlined.front());  // "No"
  ExpectEnd(window);

  EXPECT_EQ(InstallerRuns(), 0u);  // neither this run nor a fallback started it
  const auto hits = Hits();
  EXPECT_GE(Find(hits, "exception", "exd", "ID5_2_"), 0);
  EXPECT_GE(Find(hits, "event", "ea", "InstallerFailureW"), 0);
  EXPECT_EQ(Find(hits, "exception", "exd", "IJ"), -1);
}

// Closing while the product installer runs only shows the wait message: the installation goes
// on to its end.
TEST_F(WindowTest, CloseDuringTheInstallationShowsTheWaitMessage) {
  Serve({});
  HoldInstaller();
  Start({"/LANG=en"});
  const XWindowId window = Window();
  ASSERT_NE(window, 0u);
  const Look welcome = Shot(window, "welcome_before_close", IsWelcome);
  ASSERT_TRUE(IsWelcome(welcome));
  Click(window, welcome.buttons.filled.front());
  ASSERT_TRUE(WaitForHeldInstaller()) << m_setup->Err();

  ClickCloseButton(window);
  const Look wait = Shot(window, "wait_message", IsWaitMessage);
  EXPECT_TRUE(IsWaitMessage(wait));
  ASSERT_TRUE(WaitForEvent("Close"));
  EXPECT_NE(m_screen.FindMappedWindow(kTitle), 0u);

  ReleaseInstaller();
  ExpectEnd(window);
  EXPECT_EQ(InstallerRuns(), 1u);
  const auto hits = Hits();
  EXPECT_GE(Find(hits, "event", "ea", "InstallerSuccessW"), 0);
  EXPECT_EQ(Find(hits, "event", "ea", "InstallerCancelW"), -1);
}

// Alt+F4 (the window manager's close request) asks the page, which asks the user; "Yes" quits
// without installing.
TEST_F(WindowTest, AltF4AsksThePage) {
  Serve({});
  Start({"/LANG=en"});
  const XWindowId window = Window();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(IsWelcome(Shot(window, "welcome_before_alt_f4", IsWelcome)));

  // The test's X connection stands in for the window manager, which turns Alt+F4 into the close
  // request; the keys themselves are real input.
  m_screen.CloseOnAltF4(window);
  m_screen.MovePointer(window, kPageWidth / 2, kPageHeight / 2);
  m_screen.Keys({"Alt_L", "F4"});
  const Look confirm = Shot(window, "quit_confirmation", IsQuitConfirmation);
  ASSERT_TRUE(IsQuitConfirmation(confirm));
  ASSERT_TRUE(WaitForEvent("Close"));
  EXPECT_NE(m_screen.FindMappedWindow(kTitle), 0u);  // still there: the page decides

  Click(window, confirm.buttons.outlined.front());  // "Yes"
  ExpectEnd(window);
  EXPECT_EQ(InstallerRuns(), 0u);
  const auto hits = Hits();
  EXPECT_GE(Find(hits, "event", "ea", "InstallerCancelW"), 0);
  EXPECT_EQ(Find(hits, "exception", "exd", "IJ"), -1);
}

// A second start while the window is open brings that window forward and ends with 0, sending
// nothing of its own.
TEST_F(WindowTest, SecondStartBringsTheWindowForward) {
  Serve({});
  Start({"/LANG=en"});
  const XWindowId window = Window();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(IsWelcome(Shot(window, "welcome_before_second_start", IsWelcome)));
  ASSERT_TRUE(WaitForScreen("Welcome"));
  const size_t hitsBefore = Hits().size();

  TestSupport::XClient desktop(m_xvfb.Display());
  const auto cover = desktop.CreateWindow({.title = "Text editor"});
  ASSERT_NE(desktop.StackingTopFirst().front(), window);
  const auto second = TestSupport::RunProcess(OMK_SETUP_E2E_PATH, {"/LANG=en"}, m_env);
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(desktop.StackingTopFirst().front(), window);
  EXPECT_EQ(Hits().size(), hitsBefore);
  desktop.DestroyWindow(cover);

  // The first one goes on as before.
  ClickCloseButton(window);
  const Look confirm = Shot(window, "quit_confirmation_after_second_start", IsQuitConfirmation);
  ASSERT_TRUE(IsQuitConfirmation(confirm));
  Click(window, confirm.buttons.outlined.front());  // "Yes"
  ExpectEnd(window);
  EXPECT_EQ(InstallerRuns(), 0u);
}

// Ended by SIGTERM while the window shows: the page files go with it (the temporary folder is
// left empty, which TearDown checks).
TEST_F(WindowTest, TerminationSignalRemovesThePageFiles) {
  Serve({});
  Start({"/LANG=en"});
  const XWindowId window = Window();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(IsWelcome(Shot(window, "welcome_before_sigterm", IsWelcome)));
  ASSERT_TRUE(fs::exists(Root() / "tmp" / "index.html"));
  ASSERT_TRUE(fs::exists(Root() / "tmp" / "index" / "js" / "installer.js"));

  ASSERT_EQ(::kill(m_setup->Pid(), SIGTERM), 0);
  EXPECT_EQ(m_setup->Wait(), -1) << m_setup->Err();  // ended by the signal
  EXPECT_FALSE(fs::exists(Root() / "tmp" / "index.html"));
  EXPECT_FALSE(fs::exists(Root() / "tmp" / "index"));
  EXPECT_EQ(InstallerRuns(), 0u);
}

// A language without a translation file: the page never shows the window. After the show
// time-out the run reports it and falls back to the installer with its own interface.
TEST_F(WindowTest, LanguageWithoutTranslationFallsBack) {
  Serve({});
  Start({"/LANG=xx"});
  auto ended = std::async(std::launch::async, [this] { return m_setup->Wait(); });
  std::vector<std::string> mapped;
  while (ended.wait_for(50ms) != std::future_status::ready) {
    for (auto& title : m_screen.MappedTitles()) mapped.push_back(std::move(title));
  }
  for (auto& title : m_screen.MappedTitles()) mapped.push_back(std::move(title));
  EXPECT_EQ(ended.get(), 0) << m_setup->Err();
  EXPECT_EQ(mapped, std::vector<std::string>{});  // no window of any kind showed

  const std::string args = InstallerArgs();
  EXPECT_EQ(InstallerRuns(), 1u) << args;
  EXPECT_EQ(args.find("/NO_UI"), std::string::npos) << args;
  EXPECT_NE(args.find("[/LANG=xx]"), std::string::npos) << args;
  const auto hits = Hits();
  const int timeout = Find(hits, "exception", "exd", "IJ");
  ASSERT_GE(timeout, 0);
  EXPECT_GE(Find(hits, "event", "ea", "InstallerSuccessW", timeout), 0);
  EXPECT_EQ(Find(hits, "screenview", "cd", "Welcome"), -1);
}

// The licence link, clicked in the window of a setup run as root. A link only ever opens in the
// desktop user's browser: with no such user nothing starts at all (never a browser as root),
// with one xdg-open runs as that user with the link as its one argument. A program in the
// setup's working folder named like the link never runs, and the page's call returns while
// xdg-open is still busy.
struct LinkRow {
  const char* name;
  const char* desktopUid;  // SUDO_UID, or none
  int browserDelaySeconds;  // the fake xdg-open's time before it logs
};

void PrintTo(const LinkRow& row, std::ostream* out) { *out << row.name; }

class LinkTest : public WindowTest, public testing::WithParamInterface<LinkRow> {};

TEST_P(LinkTest, LicenceLinkOpensOnlyForTheDesktopUser) {
  const LinkRow& row = GetParam();
  const std::string desktopUid = row.desktopUid;
  // The licence link as the page fills it in from this run's details.
  const std::string url = "https://" OMK_LINK_REDIRECT_HOST "/action/?product=" +
                          Platform::WideToUtf8(Config::kProductCode) +
                          "&LinkType=EULA&Language=en&BuildID=12&UID=&version=" +
                          Platform::WideToUtf8(Config::kProductVersion);

  // Reachable by user nobody: a fake xdg-open first on PATH that logs who ran it with what, a
  // folder for what runs to write to, and the working folder with the planted program.
  TestSupport::TempDir shared;
  fs::permissions(shared.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
  const fs::path bin = shared.Path() / "bin", out = shared.Path() / "out", work = shared.Path() / "work";
  for (const auto& folder : {bin, out, work}) fs::create_directory(folder);
  ASSERT_EQ(::chown(out.c_str(), 65534, 65534), 0);
  const fs::path opened = out / "xdg-open.log", planted = out / "planted-ran";
  const auto executable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
  const std::string sleep = row.browserDelaySeconds > 0 ? "sleep " + std::to_string(row.browserDelaySeconds) + "\n" : "";
  TestSupport::WriteFile(bin / "xdg-open", "#!/bin/sh\n" + sleep + "echo \"$(id -u) $1\" >> '" + opened.string() + "'\n");
  fs::permissions(bin / "xdg-open", executable);
  const fs::path trap = work / url;  // "https:/<host>/action/?product=..." read as a path
  fs::create_directories(trap.parent_path());
  TestSupport::WriteFile(trap, "#!/bin/sh\nid -u >> '" + planted.string() + "'\n");
  fs::permissions(trap, executable);

  const char* path = std::getenv("PATH");
  m_env["PATH"] = bin.string() + ":" + (path ? path : "/usr/bin:/bin");
  ::unsetenv("SUDO_UID");
  ::unsetenv("PKEXEC_UID");
  if (!desktopUid.empty()) {
    m_env["SUDO_UID"] = desktopUid;
  } else {
    // No one else at the desktop: the private X server's socket is root's.
    struct stat x11 {};
    ASSERT_EQ(::lstat(("/tmp/.X11-unix/X" + m_xvfb.Display().substr(1)).c_str(), &x11), 0);
    ASSERT_EQ(x11.st_uid, 0u);
  }

  Serve({});
  {
    const InFolder in(work);
    // The link's text read as a path from the setup's working folder names the planted program.
    ASSERT_EQ(::access(url.c_str(), X_OK), 0);
    Start({"/BUILD_ID=12", "/LANG=en"});
  }
  const XWindowId window = Window();
  ASSERT_NE(window, 0u);
  const std::string name = row.name;
  const Look welcome = Shot(window, "welcome_links_" + name, [](const Look& l) { return IsWelcome(l) && l.links.size() == 2; });
  ASSERT_TRUE(IsWelcome(welcome));
  ASSERT_EQ(welcome.links.size(), 2u);  // the licence, then the privacy policy

  const auto clicked = std::chrono::steady_clock::now();
  Click(window, welcome.links.front());
  ASSERT_TRUE(WaitForEvent("EULA"));  // the page has handed the link on
  // The window still answers: the close button asks.
  ClickCloseButton(window);
  const Look confirm = Shot(window, "quit_confirmation_after_link_" + name, IsQuitConfirmation);
  const auto confirmed = std::chrono::steady_clock::now();
  ASSERT_TRUE(IsQuitConfirmation(confirm));

  if (!desktopUid.empty()) {
    ASSERT_TRUE(TestSupport::WaitForLines(opened, 1, 60s)) << m_setup->Err();
    const auto logged = std::chrono::steady_clock::now();
    if (row.browserDelaySeconds > 0) {
      // The quit confirmation came long before xdg-open was done.
      const auto ms = [clicked](auto at) { return std::chrono::duration_cast<std::chrono::milliseconds>(at - clicked).count(); };
      RecordProperty("confirmation_ms", std::to_string(ms(confirmed)));
      RecordProperty("xdg_open_logged_ms", std::to_string(ms(logged)));
      EXPECT_LT(ms(confirmed) * 3, ms(logged));
    }
  }
  Click(window, confirm.buttons.outlined.front());  // "Yes"
  ExpectEnd(window);

  const std::string log = fs::exists(opened) ? TestSupport::ReadFile(opened) : "";
  if (desktopUid.empty()) {
    EXPECT_FALSE(fs::exists(opened)) << log;
    EXPECT_NE(m_setup->Err().find("could not open the link"), std::string::npos) << m_setup->Err();
  } else {
    EXPECT_EQ(log, desktopUid + " " + url + "\n");
    const std::string link = log.substr(std::min(log.find(' ') + 1, log.size()));
    EXPECT_TRUE(link.starts_with("http")) << link;
    EXPECT_EQ(link.find_first_of(" \t"), std::string::npos) << link;
  }
  EXPECT_FALSE(fs::exists(planted)) << TestSupport::ReadFile(planted);
}

INSTANTIATE_TEST_SUITE_P(WindowTest, LinkTest,
                         testing::Values(LinkRow{"NoDesktopUser", "", 0}, LinkRow{"DesktopUser", "65534", 0},
                                         LinkRow{"SlowBrowser", "65534", 5}),
                         [](const testing::TestParamInfo<LinkRow>& info) { return std::string(info.param.name); });

}  // namespace
