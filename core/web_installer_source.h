#pragma once
// Fetches the product installer: asks the component service which file to fetch (or falls back
// to a fixed location), downloads it straight into a private temporary file, hashed on the way
// (MD5 and the signature's content digest), and hands it over as a CInstaller.
#include <boost/thread/mutex.hpp>
#include <functional>
#include <memory>
#include <string>

#include "core/installer_options.h"
#include "componentget/protocol.h"
#include "core/install_codes.h"
#include "core/install_manager.h"
#include "core/installer_file.h"
#include "core/waits.h"
#include "metrics/records.h"
#include "network/downloader.h"
#include "network/operation_thread.h"
#include "platform/clock.h"

namespace CustomInstaller::Core {

// The component fetched when the service gives no answer (configured url and MD5).
ComponentGet::ComponentInfo FallbackComponent();

struct WebInstallerSourceSettings {
  std::wstring componentServiceUrl;  // the configured service when empty
  ComponentGet::ComponentInfo fallback = FallbackComponent();
  // Versioned requests made before the version-less one, with a pause after each.
  int attempts = 3;
  uint64_t retryDelay = GraphTimings{}.componentRetryDelay;  // milliseconds
  // The pauses after unanswered requests (Stop ends the fetch there); the system clock when
  // empty.
  std::shared_ptr<Platform::IClock> clock;
  // Analytics exception hits; AppMetrics::SendException when empty.
  std::function<void(const AppMetrics::CExceptionData&)> sendException;
  // The machine GUID sent as uid and puid; the platform's when empty.
  std::function<std::wstring()> machineGuid;
};

// Must be owned by a std::shared_ptr: the downloader reaches it through a weak reference.
class CWebInstallerSource : public IInstallerSource,
                            public Cxx::Network::Downloader::IDownloadObserver,
                            public std::enable_shared_from_this<CWebInstallerSource> {
 public:
  explicit CWebInstallerSource(InstallationDetails details, WebInstallerSourceSettings settings = {});
  ~CWebInstallerSource() override;
  CWebInstallerSource(const CWebInstallerSource&) = delete;
  CWebInstallerSource& operator=(const CWebInstallerSource&) = delete;

  // Stops an earlier fetch (and its download), then fetches on the operation thread. The
  // outcome arrives once through OnSourceReady or OnSourceFailed.
  bool Start(std::weak_ptr<IInstallerSourceCallback> callback,
             std::shared_ptr<JS::IInstallProgressJSCallback> progress) override;
  // The fetch cannot be cancelled: false, and it goes on.
  bool Cancel() override;
  // Ends the fetch at its next interruption point (without a report), then waits for a
  // started download to end.
  void Stop() override;

  // Downloader notifications (its thread): percent 0-100 shows as 0-50 on the page.
  void OnProgress(double percent) override;
  void OnFinished(Cxx::Network::Downloader::EDownloadStatus status) override;

 private:
  void Fetch();
  // The component to fetch; false when the service gave none.
  bool QueryComponent(ComponentGet::ComponentInfo& component);
  void SendException(const InstallException& exception, uint32_t code);
  void ReportFailure();
  void DropDownloader();

  WebInstallerSourceSettings m_settings;
  std::shared_ptr<CInstaller> m_installer;
  // Guards the callback references and the download's state. Only the page's 0 percent at the
  // start of a download is reported with it held (so that no report of the download can come
  // before it); the outcome goes out after it is released. Held or not, a report of a dropped download
  // never reaches the new callbacks: Start drops the downloader, waiting for its thread, before
  // it sets them. The callees must never come back into this source while it is held.
  boost::mutex m_mutex;
  bool m_downloading = false;  // a started download has not reported its end yet
  std::weak_ptr<IInstallerSourceCallback> m_callback;
  std::weak_ptr<JS::IInstallProgressJSCallback> m_progress;
  std::unique_ptr<Cxx::Network::Downloader::IDownloader> m_downloader;
  InstallationDetails m_details;
  Cxx::Core::Utils::COperationThread m_thread;  // last: its operation uses the members above
};

}  // namespace CustomInstaller::Core
