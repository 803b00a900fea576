#pragma once
// Opens links of the installer page in the user's own web browser, after filling the
// placeholders of the URL ("{{name}}") from a preset table.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace BrowserControl {

using PresetParams = std::map<std::wstring, std::wstring>;

// Which browser LaunchUrl starts; the program always asks for the default one.
enum EBrowserChoice : uint32_t {
  kInternetExplorer = 0,  // not on this system: handled as the default browser
  kFirefox = 1,
  kChrome = 2,
  kDefaultBrowser = 3,  // and any other value
};

// What launching needs from the system; tests replace it.
class ILaunchEnvironment {
 public:
  virtual ~ILaunchEnvironment() = default;
  // False when nothing may be started for the person at the desktop (a root setup that knows
  // no non-root desktop user); then no step is tried at all.
  virtual bool CanOpenForDesktopUser() { return true; }
  // Full path of the named browser's program ("Chrome", "Firefox"), or empty.
  virtual std::wstring FindBrowserProgram(const std::wstring& name) = 0;
  // Starts a browser's program (a full path from FindBrowserProgram) with parameters split as
  // a command line; true when it was started.
  virtual bool ShellOpen(const std::wstring& target, const std::wstring& parameters) = 0;
  // Hands a URL to the desktop's opener without waiting for its verdict; false when it could
  // not be handed on. An opener that ends later having opened nothing calls `openedNothing`
  // then, on another thread. By default ShellOpen without parameters, whose result is final.
  virtual bool OpenUrl(const std::wstring& url, std::function<void(ILaunchEnvironment&)> openedNothing);
  virtual std::wstring GetUrlCommand(const std::wstring& scheme) = 0;
  virtual bool StartCommandLine(const std::wstring& commandLine) = 0;
  // Tells that the link could not be opened (a line on stderr): from Open, and after Launch or
  // LaunchUrl returned when the opener failed later and so did the handler's command.
  virtual void ReportFailure(const std::wstring& url);
};

// The system's browsers, xdg-open and processes.
std::shared_ptr<ILaunchEnvironment> SystemLaunchEnvironment();

class IOpenInDefaultBrowser {
 public:
  virtual ~IOpenInDefaultBrowser() = default;
  virtual void Open(const std::wstring& url, const PresetParams& params) = 0;
};

// Fills the URL and opens it in the default browser, without waiting for the browser.
class COpenInDefaultBrowser : public IOpenInDefaultBrowser {
 public:
  explicit COpenInDefaultBrowser(std::shared_ptr<ILaunchEnvironment> environment = SystemLaunchEnvironment());
  // A failure goes to the environment's ReportFailure.
  void Open(const std::wstring& url, const PresetParams& params) override;
  // False when the link could not be opened, as far as that is known on return.
  bool Launch(const std::wstring& url, const PresetParams& params);

 private:
  std::shared_ptr<ILaunchEnvironment> m_environment;
};

// The same with the preset table given once.
class COpenInDefaultBrowserWithPresetParams : public COpenInDefaultBrowser {
 public:
  explicit COpenInDefaultBrowserWithPresetParams(
      PresetParams params, std::shared_ptr<ILaunchEnvironment> environment = SystemLaunchEnvironment());
  using COpenInDefaultBrowser::Launch;
  using COpenInDefaultBrowser::Open;
  void Open(const std::wstring& url);
  bool Launch(const std::wstring& url);

 private:
  PresetParams m_params;
};

// The URL as one argument that no program reads as a file path or an option: trimmed, with
// blanks, quotes, backslashes and control characters percent-encoded, and "http://" in front
// when it does not start with a scheme (or is a "file:" URL without an absolute path).
std::wstring LinkFromUrl(const std::wstring& url);

// Replaces every "{{name}}" by its value, in table order; then drops each query item that
// still holds "{{" or "}}" (and the "?" when no item is left). A URL without "?" is only
// replaced in.
std::wstring FillUrl(const std::wstring& url, const PresetParams& params);

// Opens the URL (as LinkFromUrl makes it) with the chosen browser, falling back to the
// default handler: first xdg-open, then the handler's command line from GetUrlCommand, also
// when xdg-open fails after this returned. Nothing for an empty URL, or when nothing may be
// started for the desktop user. False when the link could not be opened, as far as that is
// known on return.
bool LaunchUrl(const std::wstring& url, uint32_t browser, ILaunchEnvironment& environment);

// The folder of the named browser's program on PATH ("Chrome": google-chrome,
// google-chrome-stable, chromium; "Firefox": firefox, firefox-esr), or empty.
std::wstring FindBrowserFolder(const std::wstring& name);

// The default handler's command line for "http" or "https" with "%1" for the URL; empty for
// other schemes or when there is none.
std::wstring GetUrlCommand(const std::wstring& scheme);

}  // namespace BrowserControl
