#pragma once
// Opens links of the installer page in the user's own web browser, after filling the
// placeholders of the URL ("{{name}}") from a preset table.
#include <cstdint>
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
  // Full path of the named browser's program ("Chrome", "Firefox"), or empty.
  virtual std::wstring FindBrowserProgram(const std::wstring& name) = 0;
  // Opens a URL or starts a program with parameters; true when something was started.
  virtual bool ShellOpen(const std::wstring& target, const std::wstring& parameters) = 0;
  virtual std::wstring GetUrlCommand(const std::wstring& scheme) = 0;
  virtual bool StartCommandLine(const std::wstring& commandLine) = 0;
};

// The system's browsers, xdg-open and processes.
std::shared_ptr<ILaunchEnvironment> SystemLaunchEnvironment();

class IOpenInDefaultBrowser {
 public:
  virtual ~IOpenInDefaultBrowser() = default;
  virtual void Open(const std::wstring& url, const PresetParams& params) = 0;
};

// Fills the URL and opens it in the default browser; failures are silent.
class COpenInDefaultBrowser : public IOpenInDefaultBrowser {
 public:
  explicit COpenInDefaultBrowser(std::shared_ptr<ILaunchEnvironment> environment = SystemLaunchEnvironment());
  void Open(const std::wstring& url, const PresetParams& params) override;

 private:
  std::shared_ptr<ILaunchEnvironment> m_environment;
};

// The same with the preset table given once.
class COpenInDefaultBrowserWithPresetParams : public COpenInDefaultBrowser {
 public:
  explicit COpenInDefaultBrowserWithPresetParams(
      PresetParams params, std::shared_ptr<ILaunchEnvironment> environment = SystemLaunchEnvironment());
  using COpenInDefaultBrowser::Open;
  void Open(const std::wstring& url);

 private:
  PresetParams m_params;
};

// Replaces every "{{name}}" by its value, in table order; then drops each query item that
// still holds "{{" or "}}" (and the "?" when no item is left). A URL without "?" is only
// replaced in.
std::wstring FillUrl(const std::wstring& url, const PresetParams& params);

// Opens the URL with the chosen browser, falling back to the default handler: first
// xdg-open, then the handler's command line from GetUrlCommand. Nothing for an empty URL.
void LaunchUrl(const std::wstring& url, uint32_t browser, ILaunchEnvironment& environment);

// The folder of the named browser's program on PATH ("Chrome": google-chrome,
// google-chrome-stable, chromium; "Firefox": firefox, firefox-esr), or empty.
std::wstring FindBrowserFolder(const std::wstring& name);

// The default handler's command line for "http" or "https" with "%1" for the URL; empty for
// other schemes or when there is none.
std::wstring GetUrlCommand(const std::wstring& scheme);

}  // namespace BrowserControl
