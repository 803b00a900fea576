#pragma once
// The command line handed to the product installer: this program's own options passed through.
#include <string>
#include <string_view>

#include "core/installer_options.h"

namespace CustomInstaller::Core {

class INSISCommandLine {
 public:
  virtual ~INSISCommandLine() = default;
  virtual std::wstring Build() = 0;
};

// `name="value"`, written so that the Windows-rule split of a command line gives back
// `name=value` as exactly one argument, whatever quotes, backslashes or blanks the value holds.
std::wstring QuotedOption(std::wstring_view name, std::wstring_view value);

// The options every mode passes through: "/GA_TRACKING_UID" while the analytics session is
// open, then the string options, the flags and the launch delay. Values are quoted (see
// QuotedOption), so a value never becomes an argument of its own.
class CNSISCommandLineBase : public INSISCommandLine {
 public:
  CNSISCommandLineBase(const InstallerOptions& options, const InstallationDetails& details);
  std::wstring Build() override;

 protected:
  InstallerOptions m_options;
  InstallationDetails m_details;
};

// Windowed mode: our page shows the progress, so the product installer runs without its UI.
class CNSISCommandLine : public CNSISCommandLineBase {
 public:
  using CNSISCommandLineBase::CNSISCommandLineBase;
  std::wstring Build() override;
};

// Silent and fallback modes: the product installer gets the delay and "/S" as we got them.
class CNSISOriginalCommandLine : public CNSISCommandLineBase {
 public:
  CNSISOriginalCommandLine(const InstallerOptions& options, const InstallationDetails& details,
                           bool withoutDelay = false);
  std::wstring Build() override;

 private:
  bool m_withoutDelay;
};

}  // namespace CustomInstaller::Core
