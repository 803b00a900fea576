#include "browser/open_in_default_browser.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/replace.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <cwctype>
#include <vector>

#include "platform/shell.h"
#include "platform/text.h"

namespace BrowserControl {

namespace {

std::vector<std::string> ProgramNames(const std::wstring& browser) {
  std::wstring name = browser;
  for (auto& c : name) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  if (name == L"chrome") return {"google-chrome", "google-chrome-stable", "chromium"};
  if (name == L"firefox") return {"firefox", "firefox-esr"};
  return {};
}

std::wstring FindProgram(const std::wstring& browser) {
  for (const auto& name : ProgramNames(browser)) {
    const auto path = Platform::FindProgramOnPath(name);
    if (!path.empty()) return Platform::Utf8ToWide(path.string());
  }
  return {};
}

class CSystemLaunchEnvironment : public ILaunchEnvironment {
 public:
  std::wstring FindBrowserProgram(const std::wstring& name) override { return FindProgram(name); }
  // A browser runs for the person at the desktop: when this setup runs as root for a user, as
  // that user with their environment, never as root.
  bool ShellOpen(const std::wstring& target, const std::wstring& parameters) override {
    if (Platform::IsExecutableFile(Platform::WideToPath(target))) {
      auto argv = Platform::SplitWindowsCommandLine(L"x " + parameters);
      argv[0] = target;
      return Platform::StartForDesktopUser(argv);
    }
    return Platform::OpenForDesktopUser(target);
  }
  std::wstring GetUrlCommand(const std::wstring& scheme) override { return BrowserControl::GetUrlCommand(scheme); }
  bool StartCommandLine(const std::wstring& commandLine) override {
    return Platform::StartForDesktopUser(Platform::SplitWindowsCommandLine(commandLine));
  }
};

void LaunchWithDefaultHandler(std::wstring url, ILaunchEnvironment& environment) {
  // A local file is opened as its path.
  const size_t file = url.find(L"file:///");
  if (file != std::wstring::npos) url.replace(file, 8, L"/");
  if (environment.ShellOpen(url, L"")) return;

  boost::algorithm::trim(url);
  std::wstring scheme = L"http";
  if (boost::algorithm::starts_with(url, L"https")) {
    scheme = L"https";
  } else if (!boost::algorithm::starts_with(url, L"http")) {
    url = L"http://" + url;
  }
  std::wstring command = environment.GetUrlCommand(scheme);
  if (command.empty()) return;
  boost::algorithm::trim(command);
  // A quote inside the URL would end its quoted argument and add arguments of its own.
  boost::algorithm::replace_all(url, L"\"", L"%22");
  if (command.find(L"%1") != std::wstring::npos) {
    boost::algorithm::replace_all(command, L"%1", url);
  } else {
    command += L" \"" + url + L"\"";
  }
  environment.StartCommandLine(command);
}

}  // namespace

std::shared_ptr<ILaunchEnvironment> SystemLaunchEnvironment() { return std::make_shared<CSystemLaunchEnvironment>(); }

COpenInDefaultBrowser::COpenInDefaultBrowser(std::shared_ptr<ILaunchEnvironment> environment)
    : m_environment(std::move(environment)) {}

void COpenInDefaultBrowser::Open(const std::wstring& url, const PresetParams& params) {
  if (m_environment) LaunchUrl(FillUrl(url, params), kDefaultBrowser, *m_environment);
}

COpenInDefaultBrowserWithPresetParams::COpenInDefaultBrowserWithPresetParams(
    PresetParams params, std::shared_ptr<ILaunchEnvironment> environment)
    : COpenInDefaultBrowser(std::move(environment)), m_params(std::move(params)) {}

void COpenInDefaultBrowserWithPresetParams::Open(const std::wstring& url) { COpenInDefaultBrowser::Open(url, m_params); }

std::wstring FillUrl(const std::wstring& url, const PresetParams& params) {
  std::wstring filled = url;
  for (const auto& [name, value] : params) boost::algorithm::replace_all(filled, L"{{" + name + L"}}", value);
  const size_t question = filled.find(L'?');
  if (question == std::wstring::npos) return filled;
  const std::wstring base = filled.substr(0, question);
  const std::wstring query = filled.substr(question + 1);
  std::wstring kept;
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find(L'&', start);
    if (end == std::wstring::npos) end = query.size();
    const std::wstring item = query.substr(start, end - start);
    if (item.find(L"{{") == std::wstring::npos && item.find(L"}}") == std::wstring::npos) kept += L"&" + item;
    start = end + 1;
  }
  if (kept.empty()) return base;
  return base + L"?" + kept.substr(1);
}

void LaunchUrl(const std::wstring& url, uint32_t browser, ILaunchEnvironment& environment) {
  if (url.empty()) return;
  if (browser == kChrome || browser == kFirefox) {
    const std::wstring program = environment.FindBrowserProgram(browser == kChrome ? L"Chrome" : L"Firefox");
    if (!program.empty()) {
      const std::wstring parameters = browser == kChrome ? L" -- \"%1\" \"" + url + L"\""
                                                         : L"-requestPending -osint -url \"" + url + L"\"";
      environment.ShellOpen(program, parameters);
      return;
    }
  }
  LaunchWithDefaultHandler(url, environment);
}

std::wstring FindBrowserFolder(const std::wstring& name) {
  const std::wstring program = FindProgram(name);
  const size_t slash = program.rfind(L'/');
  return slash == std::wstring::npos ? std::wstring() : program.substr(0, slash + 1);
}

std::wstring GetUrlCommand(const std::wstring& scheme) {
  if (scheme != L"http" && scheme != L"https") return {};
  return Platform::GetDefaultUrlHandlerCommand(Platform::WideToUtf8(scheme));
}

}  // namespace BrowserControl
