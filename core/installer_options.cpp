#include "core/installer_options.h"

#include <mutex>
#include <utility>

#include "core/command_line_arguments.h"
#include "config/identity.h"
#include "platform/language.h"

namespace CustomInstaller {

namespace {

struct LanguageEntry {
  uint16_t primary;
  const wchar_t* code;
};

constexpr LanguageEntry kLanguages[] = {
    {6, L"da"},  {7, L"de"},  {9, L"en"},  {10, L"es"}, {11, L"fi"},     {12, L"fr"}, {16, L"it"},
    {17, L"ja"}, {19, L"nl"}, {20, L"no"}, {22, L"pt-br"}, {25, L"ru"}, {29, L"sv"}, {31, L"tr"},
};

std::mutex& ProviderMutex() {
  static std::mutex mutex;
  return mutex;
}

InstallationDetails::UidProvider& Provider() {
  static InstallationDetails::UidProvider provider;
  return provider;
}

}  // namespace

std::wstring LanguageCodeFromLangId(uint16_t langId) {
  const uint16_t primary = langId & 0x3FF;
  for (const auto& entry : kLanguages) {
    if (entry.primary == primary) return entry.code;
  }
  return L"en";
}

std::wstring GetDefaultLanguage() {
  return LanguageCodeFromLangId(Platform::GetUserDefaultUILanguage());
}

InstallerOptions::InstallerOptions(std::wstring_view commandLine) {
  const CCommandLineArguments args(commandLine);
  buildId = args.GetStringArgument(Options::kBuildId);
  if (buildId.empty()) buildId = L"0";
  tracking = args.GetStringArgument(Options::kTracking);
  source = args.GetStringArgument(Options::kSource);
  language = args.GetStringArgument(Options::kLanguage);
  if (language.empty()) language = GetDefaultLanguage();
  delay = args.GetIntArgument(Options::kDelay);
  launchDelay = args.GetIntArgument(Options::kLaunchDelay);
  silent = args.HasArgument(Options::kSilent);
  verySilent = args.HasArgument(Options::kVerySilent);
  disablePostPages = args.HasArgument(Options::kDisablePostPages);
  update = args.HasArgument(Options::kUpdate);
}

void InstallationDetails::SetUidProvider(UidProvider provider) {
  std::lock_guard lock(ProviderMutex());
  Provider() = std::move(provider);
}

InstallationDetails::InstallationDetails(const InstallerOptions& options)
    : m_buildId(options.buildId.empty() ? L"0" : options.buildId),
      m_launchDelay(options.launchDelay),
      m_tracking(options.tracking),
      m_source(options.source),
      m_language(options.language) {}

const std::wstring& InstallationDetails::GetVersion() {
  if (m_version.empty()) m_version = Config::kProductVersion;
  return m_version;
}

const std::wstring& InstallationDetails::GetUid() {
  if (m_uid.empty()) {
    UidProvider provider;
    {
      std::lock_guard lock(ProviderMutex());
      provider = Provider();
    }
    if (provider) m_uid = provider();
  }
  return m_uid;
}

}  // namespace CustomInstaller
