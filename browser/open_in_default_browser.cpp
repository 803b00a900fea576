#include "browser/open_in_default_browser.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/replace.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <cstdio>
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

class CSystemLaunchEnvironment : public ILaunchEnvironment,
                                  public std::enable_shared_from_this<CSystemLaunchEnvironment> {
 public:
  // A browser runs for the person at the desktop: when this setup runs as root for a user, as
  // that user with their environment, never as root.
  bool CanOpenForDesktopUser() override { return Platform::CanStartForDesktopUser(); }
  std::wstring FindBrowserProgram(const std::wstring& name) override { return FindProgram(name); }
  bool ShellOpen(const std::wstring& target, const std::wstring& parameters) override {
    // Only a program found on PATH: never the page's text taken as a path.
    const auto program = Platform::WideToPath(target);
    if (!program.is_absolute() || !Platform::IsExecutableFile(program)) return false;
    auto argv = Platform::SplitWindowsCommandLine(L"x " + parameters);
    argv[0] = target;
    return Platform::StartForDesktopUser(argv);
  }
  bool OpenUrl(const std::wstring& url, std::function<void(ILaunchEnvironment&)> openedNothing) override {
    // The waiting thread keeps this environment alive for the fallback.
    return Platform::OpenForDesktopUser(
        url, [self = shared_from_this(), openedNothing = std::move(openedNothing)] {
          if (openedNothing) openedNothing(*self);
        });
  }
  std::wstring GetUrlCommand(const std::wstring& scheme) override { return BrowserControl::GetUrlCommand(scheme); }
  bool StartCommandLine(const std::wstring& commandLine) override {
    return Platform::StartForDesktopUser(Platform::SplitWindowsCommandLine(commandLine));
  }
};

// The default handler's command line with the link in it.
bool StartHandlerCommand(std::wstring url, ILaunchEnvironment& environment) {
  std::wstring scheme = L"http";
  if (boost::algorithm::starts_with(url, L"https")) {
    scheme = L"https";
  } else if (!boost::algorithm::starts_with(url, L"http")) {
    url = L"http://" + url;
  }
  std::wstring command = environment.GetUrlCommand(scheme);
  boost::algorithm::trim(command);
  // The link goes in as an argument, never as the program to start.
  const auto words = Platform::SplitWindowsCommandLine(command);
  if (words.empty() || words[0].find(L"%1") != std::wstring::npos) return false;
  // The link holds no blank or quote (LinkFromUrl), so it stays one argument where it goes.
  if (command.find(L"%1") != std::wstring::npos) {
    boost::algorithm::replace_all(command, L"%1", url);
  } else {
    command += L" \"" + url + L"\"";
  }
  return environment.StartCommandLine(command);
}

bool LaunchWithDefaultHandler(const std::wstring& url, ILaunchEnvironment& environment) {
  // xdg-open tells only later that it found nothing to open the link with.
  const bool handedOn = environment.OpenUrl(url, [url](ILaunchEnvironment& later) {
    if (!StartHandlerCommand(url, later)) later.ReportFailure(url);
  });
  return handedOn || StartHandlerCommand(url, environment);
}

}  // namespace

bool ILaunchEnvironment::OpenUrl(const std::wstring& url, std::function<void(ILaunchEnvironment&)>) {
  return ShellOpen(url, L"");
}

void ILaunchEnvironment::ReportFailure(const std::wstring& url) {
  std::fprintf(stderr, "omk-setup: could not open the link in a browser: %s\n", Platform::WideToUtf8(url).c_str());
}

std::shared_ptr<ILaunchEnvironment> SystemLaunchEnvironment() { return std::make_shared<CSystemLaunchEnvironment>(); }

COpenInDefaultBrowser::COpenInDefaultBrowser(std::shared_ptr<ILaunchEnvironment> environment)
    : m_environment(std::move(environment)) {}

void COpenInDefaultBrowser::Open(const std::wstring& url, const PresetParams& params) {
  const std::wstring link = LinkFromUrl(FillUrl(url, params));
  if (m_environment && !link.empty() && !LaunchUrl(link, kDefaultBrowser, *m_environment)) {
    m_environment->ReportFailure(link);
  }
}

bool COpenInDefaultBrowser::Launch(const std::wstring& url, const PresetParams& params) {
  return m_environment && LaunchUrl(FillUrl(url, params), kDefaultBrowser, *m_environment);
}

COpenInDefaultBrowserWithPresetParams::COpenInDefaultBrowserWithPresetParams(
    PresetParams params, std::shared_ptr<ILaunchEnvironment> environment)
    : COpenInDefaultBrowser(std::move(environment)), m_params(std::move(params)) {}

void COpenInDefaultBrowserWithPresetParams::Open(const std::wstring& url) { COpenInDefaultBrowser::Open(url, m_params); }

bool COpenInDefaultBrowserWithPresetParams::Launch(const std::wstring& url) {
  return COpenInDefaultBrowser::Launch(url, m_params);
}

std::wstring LinkFromUrl(const std::wstring& url) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring link;
  for (wchar_t c : boost::algorithm::trim_copy(url)) {
    if (c < 0x20 || c == 0x7f || c == L' ' || c == L'"' || c == L'\\') {
      link += {L'%', kHex[(c >> 4) & 0xf], kHex[c & 0xf]};
    } else {
      link.push_back(c);
    }
  }
  if (!link.empty() && !Platform::IsOpenableUrl(link)) link = L"http://" + link;
  return link;
}

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

bool LaunchUrl(const std::wstring& url, uint32_t browser, ILaunchEnvironment& environment) {
  const std::wstring link = LinkFromUrl(url);
  if (link.empty() || !environment.CanOpenForDesktopUser()) return false;
  if (browser == kChrome || browser == kFirefox) {
    const std::wstring program = environment.FindBrowserProgram(browser == kChrome ? L"Chrome" : L"Firefox");
    if (!program.empty()) {
      const std::wstring parameters = browser == kChrome ? L" -- \"%1\" \"" + link + L"\""
                                                         : L"-requestPending -osint -url \"" + link + L"\"";
      return environment.ShellOpen(program, parameters);
    }
  }
  return LaunchWithDefaultHandler(link, environment);
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
