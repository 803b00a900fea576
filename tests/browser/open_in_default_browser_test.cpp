// Placeholder filling and the browser launch with its fallbacks.
#include "browser/open_in_default_browser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/env.h"
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
  std::wstring FindBrowserProgram(const std::wstring& name) override { return programs.count(name) ? programs[name] : L""; }
  bool ShellOpen(const std::wstring& target, const std::wstring& parameters) override {
    calls.push_back(L"open[" + target + L"][" + parameters + L"]");
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
  std::map<std::wstring, std::wstring> programs;
  bool shellOpenWorks = true;
  std::wstring command;
  std::vector<std::wstring> calls;
};

TEST(LaunchUrlTest, ChosenBrowsersAndTheDefaultHandler) {
  struct Case {
    std::wstring url;
    uint32_t browser;
    bool shellOpenWorks;
    std::wstring command;
    std::vector<std::wstring> calls;
  };
  const std::vector<Case> cases = {
      {L"", kDefaultBrowser, true, L"", {}},
      {L"https://x/", kDefaultBrowser, true, L"", {L"open[https://x/][]"}},
      {L"https://x/", 7, true, L"", {L"open[https://x/][]"}},
      {L"file:///home/u/a b.html", kDefaultBrowser, true, L"", {L"open[/home/u/a b.html][]"}},
      {L"https://x/", kChrome, true, L"", {L"open[/opt/chrome/google-chrome][ -- \"%1\" \"https://x/\"]"}},
      {L"https://x/", kFirefox, true, L"", {L"open[https://x/][]"}},  // no Firefox here
      {L" https://x/\"y ", kDefaultBrowser, false, L"  /b/browser --new \"%1\" ",
       {L"open[ https://x/\"y ][]", L"command https", L"run[/b/browser --new \"https://x/%22y\"]"}},
      {L"http://x/", kDefaultBrowser, false, L"/b/browser", {L"open[http://x/][]", L"command http", L"run[/b/browser \"http://x/\"]"}},
      {L"x.org/a", kInternetExplorer, false, L"b %1 %1", {L"open[x.org/a][]", L"command http", L"run[b http://x.org/a http://x.org/a]"}},
      {L"https://x/", kDefaultBrowser, false, L"", {L"open[https://x/][]", L"command https"}},
  };
  for (const auto& c : cases) {
    FakeEnvironment environment;
    environment.programs[L"Chrome"] = L"/opt/chrome/google-chrome";
    environment.shellOpenWorks = c.shellOpenWorks;
    environment.command = c.command;
    LaunchUrl(c.url, c.browser, environment);
    EXPECT_EQ(environment.calls, c.calls) << c.url.size() << " " << c.browser;
  }
  FakeEnvironment environment;
  environment.programs[L"Firefox"] = L"/usr/bin/firefox";
  LaunchUrl(L"https://x/", kFirefox, environment);
  EXPECT_EQ(environment.calls, std::vector<std::wstring>{L"open[/usr/bin/firefox][-requestPending -osint -url \"https://x/\"]"});
}

TEST(LaunchUrlTest, OpenersFillTheUrlAndUseTheDefaultBrowser) {
  auto environment = std::make_shared<FakeEnvironment>();
  environment->programs[L"Chrome"] = L"/opt/chrome/google-chrome";
  COpenInDefaultBrowserWithPresetParams opener({{L"product", L"OMK"}}, environment);
  opener.Open(L"https://x/?p={{product}}&v={{version}}");
  opener.Open(L"https://y/", {});
  EXPECT_EQ(environment->calls, (std::vector<std::wstring>{L"open[https://x/?p=OMK][]", L"open[https://y/][]"}));
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

}  // namespace
