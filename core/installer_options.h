#pragma once
// The options this program reads from its command line, and the installation's identity.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace CustomInstaller {

namespace Options {
inline constexpr const wchar_t* kBuildId = L"/BUILD_ID";
inline constexpr const wchar_t* kTracking = L"/TRACKING";
inline constexpr const wchar_t* kSource = L"/OSOURCE";
inline constexpr const wchar_t* kLanguage = L"/LANG";
inline constexpr const wchar_t* kDelay = L"/DELAY";
inline constexpr const wchar_t* kLaunchDelay = L"/LAUNCHDELAY";
inline constexpr const wchar_t* kSilent = L"/S";
inline constexpr const wchar_t* kVerySilent = L"/VS";
inline constexpr const wchar_t* kDisablePostPages = L"/DISABLEPOSTPAGES";
inline constexpr const wchar_t* kUpdate = L"/UPDATE";
inline constexpr const wchar_t* kExtractTrackingUid = L"-extractTrackingUID";
}  // namespace Options

// Language code for a Windows language identifier: its primary-language part looked up in
// the suite's table; anything else gives "en".
std::wstring LanguageCodeFromLangId(uint16_t langId);

// The language code of the user's interface language.
std::wstring GetDefaultLanguage();

struct InstallerOptions {
  std::wstring buildId;   // "0" when absent or empty
  std::wstring tracking;
  std::wstring source;
  std::wstring language;  // the interface language when absent or empty
  uint32_t delay = 0;     // seconds
  uint32_t launchDelay = 0;
  bool silent = false;
  bool verySilent = false;
  bool disablePostPages = false;
  bool update = false;

  explicit InstallerOptions(std::wstring_view commandLine);
};

class InstallationDetails {
 public:
  // Supplies the tracking UID on first use of GetUid. Installed once at start-up by whoever
  // owns the analytics identity; until then GetUid stays empty.
  using UidProvider = std::function<std::wstring()>;
  static void SetUidProvider(UidProvider provider);

  explicit InstallationDetails(const InstallerOptions& options);

  const std::wstring& GetBuildId() const { return m_buildId; }
  uint32_t GetLaunchDelay() const { return m_launchDelay; }
  const std::wstring& GetTracking() const { return m_tracking; }
  const std::wstring& GetSource() const { return m_source; }
  const std::wstring& GetLanguage() const { return m_language; }
  // The product version this program installs, filled on first use.
  const std::wstring& GetVersion();
  // The tracking UID, filled on first use from the provider.
  const std::wstring& GetUid();

 private:
  std::wstring m_buildId;
  uint32_t m_launchDelay = 0;
  std::wstring m_tracking;
  std::wstring m_source;
  std::wstring m_language;
  std::wstring m_version;
  std::wstring m_uid;
};

}  // namespace CustomInstaller
