#include "core/nsis_command_line.h"

#include <utility>

#include "metrics/hits.h"

namespace CustomInstaller::Core {

std::wstring QuotedOption(std::wstring_view name, std::wstring_view value) {
  // The product installer's command line is split by the Windows rules: backslashes before a
  // quote (and before the closing quote) are doubled and an inner quote is escaped, so that the
  // split gives back exactly "name=value" as one argument.
  std::wstring out(name);
  out += L"=\"";
  size_t backslashes = 0;
  for (const wchar_t c : value) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

CNSISCommandLineBase::CNSISCommandLineBase(const InstallerOptions& options,
                                           const InstallationDetails& details)
    : m_options(options), m_details(details) {}

std::wstring CNSISCommandLineBase::Build() {
  std::wstring text;
  if (AppMetrics::IsSessionOpen()) {
    text += QuotedOption(L"/GA_TRACKING_UID", m_details.GetUid());
  }
  const std::pair<const wchar_t*, const std::wstring*> strings[] = {
      {Options::kTracking, &m_options.tracking},
      {Options::kBuildId, &m_options.buildId},
      {Options::kSource, &m_options.source},
      {Options::kLanguage, &m_options.language},
  };
  for (const auto& [name, value] : strings) {
    if (!value->empty()) text += L" " + QuotedOption(name, *value);
  }
  const std::pair<const wchar_t*, bool> flags[] = {
      {Options::kVerySilent, m_options.verySilent},
      {Options::kDisablePostPages, m_options.disablePostPages},
      {Options::kUpdate, m_options.update},
  };
  for (const auto& [name, set] : flags) {
    if (set) text += L" " + std::wstring(name);
  }
  if (m_options.launchDelay >= 1) {
    text += L" " + std::wstring(Options::kLaunchDelay) + L"=" + std::to_wstring(m_options.launchDelay);
  }
  return text;
}

std::wstring CNSISCommandLine::Build() { return CNSISCommandLineBase::Build() + L" /NO_UI"; }

CNSISOriginalCommandLine::CNSISOriginalCommandLine(const InstallerOptions& options,
                                                   const InstallationDetails& details,
                                                   bool withoutDelay)
    : CNSISCommandLineBase(options, details), m_withoutDelay(withoutDelay) {}

std::wstring CNSISOriginalCommandLine::Build() {
  std::wstring text = CNSISCommandLineBase::Build();
  if (!m_withoutDelay) {
    text += L" " + std::wstring(Options::kDelay) + L"=" + std::to_wstring(m_options.delay);
  }
  if (m_options.silent) text += L" " + std::wstring(Options::kSilent);
  return text;
}

}  // namespace CustomInstaller::Core
