#pragma once
// The start-up's port to the installer window of gui/.
#include <cstdint>
#include <memory>
#include <string>

#include "app/startup_ports.h"

namespace CustomInstaller {

class CInstallerWindowHost final : public IInstallerWindowHost {
 public:
  // `showTimeoutMs`: how long the page has to show the window.
  explicit CInstallerWindowHost(uint32_t showTimeoutMs = 10000) : m_showTimeoutMs(showTimeoutMs) {}

  std::wstring ExtractPageResources(CInstallerPageFiles& files) override;
  // Without a display, or without a page (its files could not be written), the window counts
  // as never shown (32000), at once.
  int RunModal(const std::wstring& pageUrl, const std::shared_ptr<Core::IInstallManager>& installManager,
               const InstallationDetails& details) override;
  void RemovePageFiles(const CInstallerPageFiles& files) override;

 private:
  uint32_t m_showTimeoutMs;
};

}  // namespace CustomInstaller
