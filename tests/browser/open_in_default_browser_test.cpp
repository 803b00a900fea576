// Placeholder filling and the browser launch with its fallbacks.
#include "browser/open_in_default_browser.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>

#include "platform/text.h"
#include "tests/support/env.h"
#include "tests/support/file_wait.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace BrowserControl;

TEST(FillUrlTest, FillsPlaceholdersAndDropsUnfilledQueryItems) {
  const PresetParams params = {{L"buildid", L"12"}, {L"langid", L"de"}, {L"uid", L""}, {L"product", L"OMK"}};
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {L"https://x/p?a={{missing}}&b=1", L"https://x/p?b=1"},
      {L"https://x/p?a={{missing}}&c={{other}}", L"https://x/p"},
      {L"https://x/{{missing}}/{{product}}", L"https://x/{{missing}}/OMK"},
      {L"https://x/?b={{buildid}}&l={{langid}}&l2={{langid}}&u={{uid}}", L"https://x/?b=12&l=de&l2=de&u="},
      {L"https://x/?a=}}&b={{&c=1", L"https://x/?c=1"},
      {L"https://x/?a=1&&b=2", L"https://x/?a=1&&b=2"},
      {L"https://x/?", L"https://x/?"},
      {L"https://x/?q=1?r={{missing}}&s=2", L"https://x/?s=2"},
      {L"", L""},
  };
  for (const auto& [url, filled] : cases) EXPECT_EQ(FillUrl(url, params), filled) << url.size();
}

// Records what would have been started.
class FakeEnvironment : public ILaunchEnvironment {
 public:
  bool CanOpenForDesktopUser() override { return mayOpen; }
  std::wstring FindBrowserProgram(const std::wstring& name) override { return programs.count(name) ? programs[name] : L""; }
  bool ShellOpen(const std::wstring& target, const std::wstring& parameters) override {
    calls.push_back(L"open[" + target + L"][" + parameters + L"]");
    return shellOpenWorks;
  }
  bool OpenUrl(const std::wstring& url, std::function<void(ILaunchEnvironment&)> failedLater) override {
    calls.push_back(L"open[" + url + L"][]");
    openedNothing = std::move(failedLater);
    return shellOpenWorks;
  }
  std::wstring GetUrlCommand(const std::wstring& scheme) override {
    calls.push_back(L"command " + scheme);
    return command;
  }
  bool StartCommandLine(const std::wstring& commandLine) override {
    calls.push_back(L"run[" + commandLine + L"]");
    return true;
  }
  void ReportFailure(const std::wstring& url) override { calls.push_back(L"report[" + url + L"]"); }
  std::map<std::wstring, std::wstring> programs;
  bool mayOpen = true;
  bool shellOpenWorks = true;
  std::wstring command;
  std::vector<std::wstring> calls;
  std::function<void(ILaunchEnvironment&)> openedNothing;
};

TEST(LaunchUrlTest, ChosenBrowsersAndTheDefaultHandler) {
  struct Case {
    std::wstring url;
    uint32_t browser;
    bool shellOpenWorks;
    std::wstring command;
    std::vector<std::wstring> calls;
    bool opened;
  };
  // The link reaches every program as one argument: blanks, quotes and backslashes are
  // encoded, and text without a scheme (a relative path, an option) becomes an http URL.
  const std::vector<Case> cases = {
      {L"", kDefaultBrowser, true, L"", {}, false},
      {L"  ", kDefaultBrowser, true, L"", {}, false},
      {L"https://x/", kDefaultBrowser, true, L"", {L"open[https://x/][]"}, true},
      {L"https://x/", 7, true, L"", {L"open[https://x/][]"}, true},
      {L"file:///home/u/a b.html", kDefaultBrowser, true, L"", {L"open[file:///home/u/a%20b.html][]"}, true},
      {L"file://licence.html", kDefaultBrowser, true, L"", {L"open[http://file://licence.html][]"}, true},
      {L"--help", kDefaultBrowser, true, L"", {L"open[http://--help][]"}, true},
      {L"https://x/", kChrome, true, L"", {L"open[/opt/chrome/google-chrome][ -- \"%1\" \"https://x/\"]"}, true},
      {L"https://x/\" --new-window \"y\\", kChrome, true, L"",
       {L"open[/opt/chrome/google-chrome][ -- \"%1\" \"https://x/%22%20--new-window%20%22y%5C\"]"}, true},
      {L"https://x/", kFirefox, true, L"", {L"open[https://x/][]"}, true},  // no Firefox here
      {L" https://x/\"y ", kDefaultBrowser, false, L"  /b/browser --new \"%1\" ",
       {L"open[https://x/%22y][]", L"command https", L"run[/b/browser --new \"https://x/%22y\"]"}, true},
      {L"http://x/", kDefaultBrowser, false, L"/b/browser", {L"open[http://x/][]", L"command http", L"run[/b/browser \"http://x/\"]"}, true},
      {L"x.org/a b", kInternetExplorer, false, L"b %1 %1",
       {L"open[http://x.org/a%20b][]", L"command http", L"run[b http://x.org/a%20b http://x.org/a%20b]"}, true},
      {L"https://x/", kDefaultBrowser, false, L"", {L"open[https://x/][]", L"command https"}, false},
      {L"https://x/", kDefaultBrowser, false, L"\"%1\" --x", {L"open[https://x/][]", L"command https"}, false},
  };
  for (const auto& c : cases) {
    FakeEnvironment environment;
    environment.programs[L"Chrome"] = L"/opt/chrome/google-chrome";
    environment.shellOpenWorks = c.shellOpenWorks;
    environment.command = c.command;
    EXPECT_EQ(LaunchUrl(c.url, c.browser, environment), c.opened) << c.url.size() << " " << c.browser;
    EXPECT_EQ(environment.calls, c.calls) << c.url.size() << " " << c.browser;
  }
  FakeEnvironment environment;
  environment.programs[L"Firefox"] = L"/usr/bin/firefox";
  LaunchUrl(L"https://x/", kFirefox, environment);
  EXPECT_EQ(environment.calls, std::vector<std::wstring>{L"open[/usr/bin/firefox][-requestPending -osint -url \"https://x/\"]"});

  // A root setup with no desktop user to act for tries nothing at all.
  FakeEnvironment root;
  root.mayOpen = false;
  root.programs[L"Chrome"] = L"/opt/chrome/google-chrome";
  EXPECT_FALSE(LaunchUrl(L"https://x/", kDefaultBrowser, root));
  EXPECT_FALSE(LaunchUrl(L"https://x/", kChrome, root));
  EXPECT_EQ(root.calls, std::vector<std::wstring>{});
}

// xdg-open tells only after the call returned that it opened nothing: the handler's command is
// tried then, and when there is none either the failure is reported.
TEST(LaunchUrlTest, AnOpenerFailingLaterFallsBackToTheHandlerThenReports) {
  for (const std::wstring command : {L"/b/browser %1", L""}) {
    FakeEnvironment environment;
    environment.command = command;
    ASSERT_TRUE(LaunchUrl(L"https://x/a b", kDefaultBrowser, environment));
    EXPECT_EQ(environment.calls, std::vector<std::wstring>{L"open[https://x/a%20b][]"});
    ASSERT_TRUE(environment.openedNothing);
    environment.openedNothing(environment);
    const std::wstring last = command.empty() ? L"report[https://x/a%20b]" : L"run[/b/browser https://x/a%20b]";
    EXPECT_EQ(environment.calls, (std::vector<std::wstring>{L"open[https://x/a%20b][]", L"command https", last}));
  }
}

TEST(LaunchUrlTest, OpenersFillTheUrlAndUseTheDefaultBrowser) {
  auto environment = std::make_shared<FakeEnvironment>();
  environment->programs[L"Chrome"] = L"/opt/chrome/google-chrome";
  COpenInDefaultBrowserWithPresetParams opener({{L"product", L"OMK"}}, environment);
  opener.Open(L"https://x/?p={{product}}&v={{version}}");
  opener.Open(L"https://y/", {});
  EXPECT_EQ(environment->calls, (std::vector<std::wstring>{L"open[https://x/?p=OMK][]", L"open[https://y/][]"}));

  // A failure known at once: Launch says so, Open reports it.
  environment->calls.clear();
  environment->shellOpenWorks = false;
  EXPECT_FALSE(opener.Launch(L"https://x/?p={{product}}"));
  opener.Open(L"https://y/ z");
  EXPECT_EQ(environment->calls, (std::vector<std::wstring>{L"open[https://x/?p=OMK][]", L"command https", L"open[https://y/%20z][]",
                                                           L"command https", L"report[https://y/%20z]"}));
}

TEST(LaunchUrlTest, FindsBrowsersOnPathAndServesOnlyWebSchemes) {
  TestSupport::TempDir dir;
  TestSupport::ScopedEnv env;
  env.Set("PATH", (dir.Path() / "bin").string()).Set("XDG_DATA_HOME", (dir.Path() / "data").string());
  TestSupport::WriteFile(dir.Path() / "bin/firefox-esr", "#!/bin/sh\nexit 0\n");
  chmod((dir.Path() / "bin/firefox-esr").c_str(), 0755);
  TestSupport::WriteFile(dir.Path() / "bin/xdg-mime", "#!/bin/sh\necho b.desktop\n");
  chmod((dir.Path() / "bin/xdg-mime").c_str(), 0755);
  TestSupport::WriteFile(dir.Path() / "data/applications/b.desktop", "[Desktop Entry]\nExec=/b/browser %u\n");
  EXPECT_EQ(FindBrowserFolder(L"Firefox"), (dir.Path() / "bin").wstring() + L"/");
  EXPECT_EQ(FindBrowserFolder(L"Chrome"), L"");
  EXPECT_EQ(GetUrlCommand(L"https"), L"/b/browser \"%1\"");
  EXPECT_EQ(GetUrlCommand(L"http"), L"/b/browser \"%1\"");
  EXPECT_EQ(GetUrlCommand(L"ftp"), L"");
}

// The system's opener with a stand-in xdg-open (and xdg-mime) on PATH that log each call with
// the uid it runs as and its arguments. The setup's working folder is `work`. As root, the
// desktop user is "nobody" unless a test says otherwise.
class SystemOpenerTest : public ::testing::Test {
 protected:
  SystemOpenerTest() {
    for (const auto& folder : {m_dir.Path(), Bin(), Work()}) {
      std::filesystem::create_directories(folder);
      std::filesystem::permissions(folder, std::filesystem::perms::all, std::filesystem::perm_options::replace);
    }
    TestSupport::WriteFile(Log(), "");
    std::filesystem::permissions(Log(), std::filesystem::perms::all, std::filesystem::perm_options::replace);
    m_env.Set("PATH", Bin().string()).Set("XDG_DATA_HOME", (m_dir.Path() / "data").string());
    m_env.Set("SUDO_UID", geteuid() == 0 ? std::optional<std::string>("65534") : std::nullopt);
    m_env.Set("PKEXEC_UID", std::nullopt).Set("DISPLAY", std::nullopt);
    XdgOpen("");
    Fake("xdg-mime", "exit 1\n");
    m_folder = std::filesystem::current_path();
    std::filesystem::current_path(Work());
  }
  ~SystemOpenerTest() override { std::filesystem::current_path(m_folder); }

  std::filesystem::path Bin() const { return m_dir.Path() / "bin"; }
  std::filesystem::path Work() const { return m_dir.Path() / "work"; }
  std::filesystem::path Log() const { return m_dir.Path() / "calls.log"; }
  // A stand-in program that logs its call, then runs `rest`.
  void Fake(const std::string& name, const std::string& rest) {
    const auto script = Bin() / name;
    TestSupport::WriteFile(script, "#!/bin/sh\nprintf '%s %s %s [%s]\\n' " + name + " \"$(/usr/bin/id -u)\" \"$#\" \"$1\" >> " +
                                       Log().string() + "\n" + rest);
    chmod(script.c_str(), 0755);
  }
  void XdgOpen(const std::string& rest) { Fake("xdg-open", rest); }
  static std::string Uid() { return geteuid() == 0 ? "65534" : std::to_string(geteuid()); }

  TestSupport::TempDir m_dir;
  TestSupport::ScopedEnv m_env;
  std::filesystem::path m_folder;
};

// A link is never a file: a program planted under the link's text in the working folder (or
// named by a file URL) is neither tested nor run; xdg-open receives the URL as one argument.
TEST_F(SystemOpenerTest, LinksAreUrlsNeverPlantedFiles) {
  const std::string ran = (m_dir.Path() / "planted-ran").string();
  const std::string absolute = (Work() / "run.sh").string();
  struct Case {
    std::string url;
    std::string received;
    std::string planted;
  };
  const std::vector<Case> cases = {
      {"https://x/a", "https://x/a", "https:/x/a"},
      {"licence.html", "http://licence.html", "licence.html"},
      {" -v ", "http://-v", "-v"},
      {"https://x/a b\"c", "https://x/a%20b%22c", "https:/x/a b\"c"},
      {"file://licence.html", "http://file://licence.html", "file:/licence.html"},
      {"file://" + absolute, "file://" + absolute, absolute},
  };
  COpenInDefaultBrowser opener;
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.url);
    const auto planted = Work() / c.planted;
    std::filesystem::create_directories(planted.parent_path());
    TestSupport::WriteFile(planted, "#!/bin/sh\n: > " + ran + "\n");
    chmod(planted.c_str(), 0755);
    ASSERT_TRUE(opener.Launch(Platform::Utf8ToWide(c.url), {}));
    ASSERT_TRUE(TestSupport::WaitForLines(Log(), i + 1));
    std::vector<std::string> lines;
    std::istringstream log(TestSupport::ReadFile(Log()));
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    EXPECT_EQ(lines.back(), "xdg-open " + Uid() + " 1 [" + c.received + "]");
    EXPECT_FALSE(std::filesystem::exists(ran));
  }
}

// Root with no desktop user (no SUDO_UID, PKEXEC_UID or display owner) starts nothing, not even
// the handler lookup; with SUDO_UID the opener runs as that user.
TEST_F(SystemOpenerTest, RootOpensOnlyForANonRootDesktopUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  COpenInDefaultBrowser opener;
  {
    TestSupport::ScopedEnv alone;
    alone.Set("SUDO_UID", std::nullopt);
    EXPECT_FALSE(opener.Launch(L"https://x/first", {}));
    alone.Set("SUDO_UID", "0");
    EXPECT_FALSE(opener.Launch(L"https://x/first", {}));
  }
  ASSERT_TRUE(opener.Launch(L"https://x/second", {}));
  ASSERT_TRUE(TestSupport::WaitForLines(Log(), 1));
  EXPECT_EQ(TestSupport::ReadFile(Log()), "xdg-open 65534 1 [https://x/second]\n");  // nothing before it
}

// xdg-open that waits for its browser does not hold the caller.
TEST_F(SystemOpenerTest, TheCallReturnsWhileXdgOpenWaits) {
  XdgOpen("exec /bin/sleep 5 >/dev/null 2>&1\n");  // not holding the test's output open
  COpenInDefaultBrowser opener;
  const auto start = std::chrono::steady_clock::now();
  const bool opened = opener.Launch(L"https://x/slow", {});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(opened);
  EXPECT_LT(took, std::chrono::milliseconds(100));
  EXPECT_TRUE(TestSupport::WaitForLines(Log(), 1));
}

// Restores standard error on leaving the scope; until then what goes there can be read.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    if (pipe2(m_pipe, O_CLOEXEC) != 0) return;
    m_saved = dup(2);
    dup2(m_pipe[1], 2);
    close(m_pipe[1]);
  }
  ~StderrCapture() {
    std::fflush(stderr);
    if (m_saved >= 0) {
      dup2(m_saved, 2);
      close(m_saved);
    }
    close(m_pipe[0]);
  }
  // Reads until the text shows up; false after 30 s.
  bool WaitFor(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (m_seen.find(text) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      pollfd ready{m_pipe[0], POLLIN, 0};
      if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) return false;
      char buffer[1024];
      const ssize_t n = read(m_pipe[0], buffer, sizeof buffer);
      if (n <= 0) return false;
      m_seen.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }

 private:
  int m_pipe[2] = {-1, -1};
  int m_saved = -1;
  std::string m_seen;
};

// xdg-open ends with 1 after the call returned and no handler is known: the handler lookup
// runs, and the failure reaches stderr.
TEST_F(SystemOpenerTest, AFailureFoundLaterGoesToStderr) {
  XdgOpen("exit 1\n");
  StderrCapture stderrText;
  COpenInDefaultBrowser opener;
  opener.Open(L"https://x/nothing here", {});
  EXPECT_TRUE(stderrText.WaitFor("could not open the link in a browser: https://x/nothing%20here\n"));
  const std::string log = TestSupport::ReadFile(Log());
  EXPECT_EQ(log.substr(0, log.find('\n')), "xdg-open " + Uid() + " 1 [https://x/nothing%20here]");
  EXPECT_NE(log.find("\nxdg-mime "), std::string::npos);
}

}  // namespace
